#include "ui/win32/ApplicationWindow.h"

#include "ui/win32/WindowSupport.h"

namespace qor::win32 {

TaskbarProgress::~TaskbarProgress() {
    if (FTaskbar != nullptr) {
        FTaskbar->Release();
    }
}

void TaskbarProgress::show(HWND hButtonWindow, int position) {
    if (!FTried) {
        FTried = true;
        void* taskbar = nullptr;
        if (SUCCEEDED(CoCreateInstance(__uuidof(TaskbarList), nullptr, CLSCTX_INPROC_SERVER,
                                       __uuidof(ITaskbarList3), &taskbar))) {
            FTaskbar = static_cast<ITaskbarList3*>(taskbar);
            if (FAILED(FTaskbar->HrInit())) {
                FTaskbar->Release();
                FTaskbar = nullptr;
            }
        }
    }
    if (FTaskbar == nullptr || hButtonWindow == nullptr) {
        return;
    }
    if (position < 0) {
        FTaskbar->SetProgressState(hButtonWindow, TBPF_NOPROGRESS);
    } else {
        FTaskbar->SetProgressState(hButtonWindow, TBPF_NORMAL);
        FTaskbar->SetProgressValue(hButtonWindow, static_cast<ULONGLONG>(position), 100);
    }
}

TApplicationWindow::TApplicationWindow() {
    // A visible window without size: it has the taskbar button, the user never sees it. It sits
    // in the middle of the screen, where minimising and restoring seem to come from.
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
    CreateWindowExW(0, windowClass<TApplicationWindow>(L"TQorApplication"), L"",
                    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0,
                    0, nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

TApplicationWindow::~TApplicationWindow() {
    if (FhWnd != nullptr) {
        DestroyWindow(FhWnd);
    }
}

void TApplicationWindow::showButton() {
    ShowWindow(FhWnd, SW_SHOWNOACTIVATE);
}

void TApplicationWindow::setTitle(const std::string& title) {
    setWindowText(FhWnd, title);
}

LRESULT TApplicationWindow::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (handleCommonMessage(msg, wParam, lParam, result)) {
        return result;
    }
    switch (msg) {
        case WM_ACTIVATE:
            // Clicking the taskbar button activates this window: the user means the program's
            // window that was active last, or the main window.
            if (LOWORD(wParam) != WA_INACTIVE) {
                const HWND last = GetLastActivePopup(FhWnd);
                const HWND target = last != FhWnd ? last : FhMain;
                if (target != nullptr && IsWindowVisible(target) && IsWindowEnabled(target)) {
                    SetActiveWindow(target);
                }
            }
            return 0;
        case WM_CLOSE:
            // Close from the taskbar: the main window's close check decides.
            if (FhMain != nullptr) {
                SendMessageW(FhMain, WM_CLOSE, 0, 0);
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(FhWnd, msg, wParam, lParam);
}

}  // namespace qor::win32
