// The application window: a hidden owner of the main window that carries the program's taskbar
// button. Its text is the application title ("42%" during a transfer, the program's title when
// idle) while the main window's caption never changes; the button's own progress bar shows the
// transfer where the system has one.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <shobjidl.h>

#include <string>

namespace qor::win32 {

// The taskbar button's progress bar (ITaskbarList3). Where the system lacks it, nothing happens.
class TaskbarProgress {
  public:
    TaskbarProgress() = default;
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    // position 0..100, or -1 for no progress bar.
    void show(HWND hButtonWindow, int position);

  private:
    ITaskbarList3* FTaskbar = nullptr;
    bool FTried = false;
};

class TApplicationWindow {
  public:
    TApplicationWindow();
    ~TApplicationWindow();
    TApplicationWindow(const TApplicationWindow&) = delete;
    TApplicationWindow& operator=(const TApplicationWindow&) = delete;

    HWND handle() const { return FhWnd; }
    // The main window, to which activation and closing from the taskbar go.
    void setMainWindow(HWND hMain) { FhMain = hMain; }
    // Shows the taskbar button (the window itself has no size).
    void showButton();
    void setTitle(const std::string& title);

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FhWnd = nullptr;

  private:
    HWND FhMain = nullptr;
};

}  // namespace qor::win32
