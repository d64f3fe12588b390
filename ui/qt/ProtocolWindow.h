// The report window: the time-stamped log of update runs, docked under the main window.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <ctime>
#include <functional>
#include <string>

namespace qor::ui {

class TfrmProtocol : public QWidget {
  public:
    using Clock = std::function<std::tm()>;

    // Created hidden, under mainWindow and as wide as it.
    TfrmProtocol(QWidget* mainWindow, double screenDpi, Clock clock = {});

    // Appends "hh-nn-ss -> sLine" and keeps the last line in view.
    void Add(const std::string& sLine);
    void Clear();
    QString text() const { return Memo1->toPlainText(); }

    // Puts the window's top edge on the main window's bottom edge, left edges aligned.
    void followMainWindow();

  protected:
    // The user cannot close the report.
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void FormCreate();
    // Sets the outer width to the main window's.
    void matchMainWindowWidth();

    QWidget* mainWindow_;
    Clock clock_;
    bool frameUnknown_ = true;
    QPlainTextEdit* Memo1;
};

}  // namespace qor::ui
