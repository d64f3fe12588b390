#include "platform/Console.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qor::platform {
namespace {

void (*interruptHandler)() = nullptr;

void onSignal(int) {
    if (interruptHandler != nullptr) {
        interruptHandler();
    }
}

}  // namespace

bool stdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool stdoutTakesCursorMoves() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) == 1 && term != nullptr && *term != '\0' &&
           std::strcmp(term, "dumb") != 0;
}

void keepRunningWhenOutputCloses() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void onInterrupt(void (*handler)()) {
    interruptHandler = handler;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace qor::platform
