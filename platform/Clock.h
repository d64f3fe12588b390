// Millisecond tick count and sleep.
#pragma once

#include <cstdint>

namespace qor::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick count.
std::uint32_t tickCount();

void sleepMs(std::uint32_t milliseconds);

}  // namespace qor::platform
