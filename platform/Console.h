// The terminal a console program runs in.
#pragma once

namespace qor::platform {

// True when standard input is an interactive terminal that can answer a question.
bool stdinIsTerminal();
// True when standard error is a terminal (worth drawing a progress bar on).
bool stderrIsTerminal();
// True when standard output is a terminal that takes the VT100 cursor sequences (cursor up,
// erase, line wrap off and on), so that lines already written can be redrawn in place. Windows:
// switches the console to them where it can.
bool stdoutTakesCursorMoves();

// Writing to an output whose reader has gone fails instead of ending the process (POSIX
// ignores SIGPIPE), so that a run whose watcher went away still finishes.
void keepRunningWhenOutputCloses();

// Calls onInterrupt (from a signal or console-control context: it may only do async-signal-safe
// work, such as storing to a lock-free atomic) when the user presses Ctrl-C.
void onInterrupt(void (*onInterrupt)());

}  // namespace qor::platform
