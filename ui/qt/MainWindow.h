// The main window: port box, progress bar, run buttons, status line and Info menu, a Qt view
// of the shared run control. The worker's notifications arrive as Qt events and go to it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/CommThread.h"
#include "frontend/RunControl.h"
#include "frontend/StartupOptions.h"
#include "ui/qt/LayoutUnits.h"

namespace qor::ui {

class TfrmInfo;
class TfrmMessage;
class TfrmProtocol;

// Everything the window asks of the user or the system, replaceable in tests.
struct MainWindowSeams {
    std::function<bool()> isServiceMode;
    std::function<StartupOptions(bool serviceMode)> applyOptions;
    std::function<void(QStringList& list)> fillPortList;
    // Whether the program is the active application (the port box may then drop down).
    std::function<bool()> isActiveApplication;
    // Listen for ports arriving and leaving (the program does; tests call portChange).
    bool watchPorts = false;
    // A question in a "Confirm" dialog; true on Yes.
    std::function<bool(QWidget* parent, const QString& question)> confirm;
    // The file-open dialog; an empty name when the user cancelled.
    std::function<QString(QWidget* parent, const QString& initialDir)> chooseFile;
    // The toolkit's error box for a failure the window does not handle itself.
    std::function<void(QWidget* parent, const QString& message)> showError;
    std::function<void()> alertSound;
    std::function<void(std::uint32_t milliseconds)> restartDelay;
    // The screen's logical dpi; 0 asks the primary screen.
    double screenDpi = 0;

    // The program's own: the real dialogs, sound, sleep and start-up options.
    static MainWindowSeams program();
};

class TfrmMain : public QMainWindow, private RunView {
  public:
    explicit TfrmMain(MainWindowSeams seams = MainWindowSeams::program());
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // The overview, report and message windows, created after the main window.
    void setWindows(TfrmInfo* frmInfo, TfrmProtocol* frmProtocol, TfrmMessage* frmMessage);

    // Run control.
    void startRun(TCmd cmd) { FRunControl.startRun(cmd); }
    void endRun() { FRunControl.endRun(); }
    // Clears the report and takes the port name; with a file name, reads that descriptor
    // file first. False (and no port name taken) when the file cannot be read.
    bool prepareRun(const QString& fileName);

    // Displays.
    void setStatus(const std::string& text) override;
    void addReport(const std::string& text) override;
    void showMessageWindow(const std::string& text) override;
    void setProgressBar(int position) override;
    void setApplicationTitle(const std::string& text) override;
    std::string portText() const override;

    bool isServiceMode() const;

    // Event handlers.
    void btnProgClick();
    void btnFileClick();
    void btnCancelClick();
    void btnCloseClick();
    void menInfoFirmwareClick();
    void menInfoFileClick();
    void menFileExitClick();
    void ApplicationEvents1Idle();
    // A serial port arrived or was removed: refill the port box's list and, when the program
    // is active and idle, show the new list dropped down.
    void portChange();
    // True when the window may close: no run, or the user confirms abandoning it.
    bool FormCloseQuery();

    // State the tests and the program look at.
    std::int32_t notificationHandle() const { return FRunControl.notificationHandle(); }
    const TCommThread* currentWorker() const { return FRunControl.currentWorker(); }
    bool runInProgress() const { return FRunControl.runInProgress(); }
    // The application's title (the taskbar text): "42%" during a transfer, else the title.
    const QString& applicationTitle() const { return FApplicationTitle; }
    int serviceLevel() const { return FRunControl.serviceLevel(); }
    bool measurementFormat() const { return FRunControl.measurementFormat(); }
    double screenDpi() const { return FScale.screenDpi(); }
    const std::string& port() const { return FRunControl.port(); }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // The rest of the run control's view.
    void clearReport() override;
    void alertSound() override;
    void restartDelay(std::uint32_t milliseconds) override;
    void showRunState(bool running) override;
    bool readInfoOnlyTicked() const override;
    bool confirm(const std::string& question) override;
    void descriptorUnreadable(const std::string& reason) override;
    std::string chooseFile() override;
    void showError(const std::string& message) override;
    void showOverview() override;

    void createControls();
    void FormCreate();
    void setWaitCursor(bool on);
    void followReportWindow();

    MainWindowSeams FSeams;
    LayoutScale FScale;
    RunControl FRunControl;
    QString FApplicationTitle;
    QString FOpenDialogDir;
    bool FWaitCursor = false;
    bool FCentred = false;

    QPointer<TfrmInfo> frmInfo_;
    QPointer<TfrmProtocol> frmProtocol_;
    QPointer<TfrmMessage> frmMessage_;

    QMenu* menInfo = nullptr;
    QAction* menInfoFirmware = nullptr;
    QAction* menInfoFile = nullptr;
    QAction* menFileExit = nullptr;
    QWidget* Panel1 = nullptr;
    QWidget* Bevel1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cbxPort = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* btnProg = nullptr;
    QPushButton* btnFile = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btnCancel = nullptr;
    QCheckBox* chkReadInfoOnly = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusText = nullptr;
};

}  // namespace qor::ui
