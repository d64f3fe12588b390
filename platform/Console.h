// The terminal a console program runs in.
#pragma once

namespace qor::platform {

// True when standard input is an interactive terminal that can answer a question.
bool stdinIsTerminal();
// True when standard error is a terminal (worth drawing a progress bar on).
bool stderrIsTerminal();

// Calls onInterrupt (from a signal or console-control context: it may only do async-signal-safe
// work, such as storing to a lock-free atomic) when the user presses Ctrl-C.
void onInterrupt(void (*onInterrupt)());

}  // namespace qor::platform
