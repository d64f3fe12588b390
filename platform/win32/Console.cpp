#include "platform/Console.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace qor::platform {
namespace {

void (*interruptHandler)() = nullptr;

BOOL WINAPI onControl(DWORD type) {
    if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && interruptHandler != nullptr) {
        interruptHandler();
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool stdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool stdoutTakesCursorMoves() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
        return false;
    }
    // Windows 10 and later; older consoles refuse the flag.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

// A write to a pipe without reader fails with ERROR_NO_DATA; nothing ends the process.
void keepRunningWhenOutputCloses() {}

void onInterrupt(void (*handler)()) {
    interruptHandler = handler;
    SetConsoleCtrlHandler(onControl, TRUE);
}

}  // namespace qor::platform
