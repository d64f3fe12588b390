// The main window: port box, progress bar, run buttons, status line and Info menu, a Win32 view
// of the shared run control. The worker's notifications arrive as WM_USER posted to the window.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CommThread.h"
#include "frontend/RunControl.h"
#include "frontend/StartupOptions.h"
#include "ui/win32/ApplicationWindow.h"
#include "ui/win32/WindowSupport.h"

namespace qor::win32 {

class TfrmInfo;
class TfrmMessage;
class TfrmProtocol;

// Everything the window asks of the user or the system, replaceable in tests.
struct MainWindowSeams {
    std::function<bool()> isServiceMode;
    std::function<StartupOptions(bool serviceMode)> applyOptions;
    std::function<std::vector<std::string>()> listPorts;
    // Whether the program is the active application (the port box may then drop down).
    std::function<bool()> isActiveApplication;
    // A question in the "Confirm" dialog; true on Yes.
    std::function<bool(HWND hOwner, const std::string& question)> confirm;
    // The file-open dialog; an empty name when the user cancelled.
    std::function<std::string(HWND hOwner, const std::wstring& initialDir)> chooseFile;
    // The error box for a failure the window does not handle itself.
    std::function<void(HWND hOwner, const std::string& message)> showError;
    std::function<void()> alertSound;
    std::function<void(std::uint32_t milliseconds)> restartDelay;
    // The taskbar button's progress bar: 0..100, or -1 for none.
    std::function<void(HWND hButtonWindow, int position)> taskbarProgress;
    // After the main window is gone (the program ends its message loop).
    std::function<void()> closed;
    // The screen's resolution; 0 asks the screen the window is on.
    int screenDpi = 0;

    // The program's own: the real dialogs, sound, sleep, taskbar and start-up options.
    static MainWindowSeams program();
};

class TfrmMain : private RunView {
  public:
    explicit TfrmMain(MainWindowSeams seams = MainWindowSeams::program());
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    HWND handle() const { return FhWnd; }
    // The hidden owner that carries the taskbar button and the application title.
    HWND applicationWindow() const { return FApplication.handle(); }
    HWND control(int id) const { return GetDlgItem(FhWnd, id); }
    // The status line's tooltip, which repeats its text.
    HWND statusTip() const { return StatusTip; }

    // The overview, report and message windows, created after the main window.
    void setWindows(TfrmInfo* frmInfo, TfrmProtocol* frmProtocol, TfrmMessage* frmMessage);
    // Shows the application's taskbar button and the window (centred the first time).
    void show(int nCmdShow);

    // Run control.
    void startRun(TCmd cmd) { FRunControl.startRun(cmd); }
    void endRun() { FRunControl.endRun(); }

    // Event handlers.
    void btnProgClick();
    void btnFileClick();
    void btnCancelClick();
    void btnCloseClick();
    void menInfoFirmwareClick();
    void menInfoFileClick();
    void menFileExitClick();
    void ApplicationEvents1Idle();
    // True when the window may close: no run, or the user confirms abandoning it.
    bool FormCloseQuery();
    // Keyboard navigation between the controls (Tab, Shift+Tab, Enter on a button). The window
    // cannot go through IsDialogMessage: its DM_GETDEFID would be WM_USER, a notification.
    bool preTranslate(MSG& msg);

    // State the tests and the program look at.
    std::int32_t notificationHandle() const { return FRunControl.notificationHandle(); }
    const TCommThread* currentWorker() const { return FRunControl.currentWorker(); }
    bool runInProgress() const { return FRunControl.runInProgress(); }
    int serviceLevel() const { return FRunControl.serviceLevel(); }
    int screenDpi() const { return FScale.screenDpi(); }
    const std::string& port() const { return FRunControl.port(); }

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FhWnd = nullptr;

  private:
    // The run control's view.
    void addReport(const std::string& text) override;
    void setStatus(const std::string& text) override;
    void showMessageWindow(const std::string& text) override;
    void setProgressBar(int position) override;
    void setApplicationTitle(const std::string& text) override;
    std::string portText() const override;
    void alertSound() override;
    void restartDelay(std::uint32_t milliseconds) override;
    void clearReport() override;
    void showRunState(bool running) override;
    bool readInfoOnlyTicked() const override;
    bool confirm(const std::string& question) override;
    void descriptorUnreadable(const std::string& reason) override;
    std::string chooseFile() override;
    void showError(const std::string& message) override;
    void showOverview() override;

    std::int32_t registerSink();
    void createControls();
    void layOut();
    void FormCreate();
    void centreOnScreen();
    void followReportWindow();
    void fillPortBox();
    void portChange();
    void onCommand(int id, int code);
    void onNotification(WPARAM wParam, LPARAM lParam);
    void onDpiChanged(int dpi, const RECT& suggested);

    MainWindowSeams FSeams;
    TApplicationWindow FApplication;
    LayoutScale FScale;
    std::unique_ptr<UiFont> FFont;
    // Where the workers' notifications go: the window while it exists.
    std::atomic<HWND> FNotifyWindow{nullptr};
    // The lines of notification 100, in posting order: the worker may store its next line in
    // the shared slot before the window gets round to the notification of this one.
    std::mutex FLinesMutex;
    std::deque<std::string> FLines;
    RunControl FRunControl;
    std::wstring FOpenDialogDir;
    bool FCentred = false;
    HWND FFocus = nullptr;  // the control that had the focus when the window was deactivated

    TfrmInfo* frmInfo_ = nullptr;
    TfrmProtocol* frmProtocol_ = nullptr;
    TfrmMessage* frmMessage_ = nullptr;

    HMENU MainMenu1 = nullptr;
    HWND Bevel1 = nullptr;
    HWND Label1 = nullptr;
    HWND cbxPort = nullptr;
    HWND ProgressBar1 = nullptr;
    HWND btnProg = nullptr;
    HWND btnFile = nullptr;
    HWND btnClose = nullptr;
    HWND btnCancel = nullptr;
    HWND chkReadInfoOnly = nullptr;
    HWND StatusBar1 = nullptr;
    HWND StatusTip = nullptr;
};

}  // namespace qor::win32
