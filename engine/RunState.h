// Process-wide state of update runs, shared between the window's thread and the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace qor {

// Set by the window's Cancel, polled by the worker.
extern std::atomic<bool> cancelFlag;
// Copied from "Read info only" when a run starts.
extern std::atomic<bool> readInfoOnlyFlag;
// Set at start-up by the update procedure's module: it honours the read-info-only flag.
extern std::atomic<bool> readInfoOnlyCapable;
// Cleared at start-up by the service-mode option "cc:-".
extern std::atomic<bool> checkClassFlag;

// The two text slots that notification 100 names. Each access copies the whole line under a
// lock, so a reader never sees a half-written text.
void setTextSlot(int slot, const std::string& text);
std::string textSlot(int slot);

}  // namespace qor
