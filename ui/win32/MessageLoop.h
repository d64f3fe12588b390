// The program's message loops: the main one, with its idle moments, and the modal one of the
// message and overview windows.
#pragma once

#include <windows.h>

#include <functional>

namespace qor::win32 {

// What the main loop does besides dispatching: keys that a window handles itself before they are
// translated (true: handled), and the idle moment whenever the queue has run empty.
struct LoopHooks {
    std::function<bool(MSG&)> preTranslate;
    std::function<void()> idle;
};

// Runs until WM_QUIT; returns its exit code.
int runMessageLoop(const LoopHooks& hooks);

// Dispatches every message waiting now, then has the idle moment once. Returns false when
// WM_QUIT was among them (it is posted again).
bool dispatchWaitingMessages(const LoopHooks& hooks);

// Shows the window modally over its owner: the owner is disabled, the window shown with the
// focus on hFocus, and messages are dispatched (the main window's notifications, moves and
// device changes among them) until done is set; then the owner is enabled and the window hidden.
// A WM_QUIT ends the loop early and is posted again.
void runModal(HWND hWnd, HWND hOwner, HWND hFocus, const bool& done);

}  // namespace qor::win32
