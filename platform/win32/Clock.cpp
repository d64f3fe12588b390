#include "platform/Clock.h"

#include <windows.h>

#include <algorithm>

namespace qor::platform {

std::uint32_t tickCount() {
    return static_cast<std::uint32_t>(GetTickCount());
}

void sleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds / std::max(waitDivisor.load(std::memory_order_relaxed), 1u));
}

std::tm localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

}  // namespace qor::platform
