// Millisecond tick count and sleep.
#pragma once

#include <cstdint>
#include <ctime>

namespace qor::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick count.
std::uint32_t tickCount();

void sleepMs(std::uint32_t milliseconds);

// The local wall-clock time now.
std::tm localTimeNow();

}  // namespace qor::platform
