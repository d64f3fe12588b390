#include "platform/Clock.h"

#include <windows.h>

namespace qor::platform {

std::uint32_t tickCount() {
    return static_cast<std::uint32_t>(GetTickCount());
}

void sleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::tm localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

}  // namespace qor::platform
