#include "platform/Clock.h"

#include <windows.h>

namespace qor::platform {

std::uint32_t tickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

void sleepMs(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace qor::platform
