// Millisecond tick count and sleep.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

namespace qor::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick count.
std::uint32_t tickCount();

// Sleeps milliseconds / waitDivisor.
void sleepMs(std::uint32_t milliseconds);

// Shortens every sleepMs by this factor. 1 in the programs; long-running checks that repeat
// whole update runs set it, so that the runs' fixed pauses do not dominate them.
inline std::atomic<std::uint32_t> waitDivisor{1};

// The local wall-clock time now.
std::tm localTimeNow();

}  // namespace qor::platform
