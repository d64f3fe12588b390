#include "ui/win32/MessageLoop.h"

namespace qor::win32 {
namespace {

void dispatch(const LoopHooks& hooks, MSG& msg) {
    if (hooks.preTranslate && hooks.preTranslate(msg)) {
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

int runMessageLoop(const LoopHooks& hooks) {
    MSG msg{};
    for (;;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return static_cast<int>(msg.wParam);
            }
            dispatch(hooks, msg);
        }
        if (hooks.idle) {
            hooks.idle();
        }
        WaitMessage();
    }
}

bool dispatchWaitingMessages(const LoopHooks& hooks) {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        dispatch(hooks, msg);
    }
    if (hooks.idle) {
        hooks.idle();
    }
    return true;
}

void runModal(HWND hWnd, HWND hOwner, HWND hFocus, const bool& done) {
    const bool ownerWasEnabled = hOwner != nullptr && IsWindowEnabled(hOwner);
    if (ownerWasEnabled) {
        EnableWindow(hOwner, FALSE);
    }
    ShowWindow(hWnd, SW_SHOW);
    SetForegroundWindow(hWnd);
    SetFocus(hFocus);
    MSG msg{};
    while (!done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) {
            break;
        }
        if (!IsDialogMessageW(hWnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // The owner first, so that activation goes back to it and not to another program.
    if (ownerWasEnabled) {
        EnableWindow(hOwner, TRUE);
    }
    ShowWindow(hWnd, SW_HIDE);
    if (hOwner != nullptr && IsWindowVisible(hOwner)) {
        SetActiveWindow(hOwner);
    }
}

}  // namespace qor::win32
