#include "platform/Console.h"

#include <signal.h>
#include <unistd.h>

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

void onInterrupt(void (*handler)()) {
    interruptHandler = handler;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace qor::platform
