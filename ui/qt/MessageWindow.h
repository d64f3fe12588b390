// The message window: the outcome of a run in a modal box laid over the main window's foot.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <string>

#include "ui/qt/ModalRunner.h"

namespace qor::ui {

// Where the message window goes over a main window at (x, y) of outer size w x h: 10 pixels in
// from the sides, its bottom edge 10 pixels above the main window's bottom edge.
QRect messagePlacement(int x, int y, int w, int h, int ownHeight);

class TfrmMessage : public QDialog {
  public:
    TfrmMessage(QWidget* parent, double screenDpi);

    // Places, fills and shows the window modally; returns when it has been closed. x, y, w, h
    // are the main window's outer left, top, width and height.
    void showMsg(const std::string& sMsg, int x, int y, int w, int h);

    void setModalRunner(ModalRunner runner) { runModal_ = std::move(runner); }
    QString text() const { return Memo1->toPlainText(); }

  private:
    void Button1Click();

    ModalRunner runModal_ = &execModal;
    QPlainTextEdit* Memo1;
    QPushButton* Button1;
};

}  // namespace qor::ui
