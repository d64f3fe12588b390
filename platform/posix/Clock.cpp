#include "platform/Clock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace qor::platform {

std::uint32_t tickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void sleepMs(std::uint32_t milliseconds) {
    milliseconds /= std::max(waitDivisor.load(std::memory_order_relaxed), 1u);
    timespec req{static_cast<time_t>(milliseconds / 1000u),
                 static_cast<long>(milliseconds % 1000u) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}

std::tm localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace qor::platform
