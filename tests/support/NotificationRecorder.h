// Registers a notification sink and records what a worker posts, for tests to wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/Notifications.h"

namespace qor::test {

struct Posted {
    std::uint32_t code;
    std::int32_t value;
    std::chrono::steady_clock::time_point at;
};

class NotificationRecorder {
  public:
    // onPost runs in the worker's thread for every notification, before it is recorded.
    explicit NotificationRecorder(std::function<void(const Posted&)> onPost = {});
    ~NotificationRecorder();
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;

    std::int32_t handle() const { return handle_; }

    // Waits for the run's final notification (0, 10 or 13); false on time-out.
    bool waitForEnd(std::chrono::milliseconds timeout);
    std::vector<Posted> all() const;
    std::vector<std::uint32_t> codes() const;
    // The final notification; code 0xFFFFFFFF when none came.
    Posted end() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Posted> posted_;
    std::function<void(const Posted&)> onPost_;
    std::int32_t handle_;
};

}  // namespace qor::test
