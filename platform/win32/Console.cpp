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

void onInterrupt(void (*handler)()) {
    interruptHandler = handler;
    SetConsoleCtrlHandler(onControl, TRUE);
}

}  // namespace qor::platform
