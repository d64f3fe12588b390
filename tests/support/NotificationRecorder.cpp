#include "tests/support/NotificationRecorder.h"

namespace qor::test {
namespace {

bool isFinal(std::uint32_t code) {
    return code == kNotifySuccess || code == kNotifyFailure || code == kNotifyNoAnswer;
}

}  // namespace

NotificationRecorder::NotificationRecorder(std::function<void(const Posted&)> onPost)
    : onPost_(std::move(onPost)) {
    handle_ = registerNotificationSink([this](std::uint32_t code, std::int32_t value) {
        const Posted p{code, value, std::chrono::steady_clock::now()};
        if (onPost_) {
            onPost_(p);
        }
        std::lock_guard lock(mutex_);
        posted_.push_back(p);
        changed_.notify_all();
    });
}

NotificationRecorder::~NotificationRecorder() {
    unregisterNotificationSink(handle_);
}

bool NotificationRecorder::waitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] {
        for (const auto& p : posted_) {
            if (isFinal(p.code)) {
                return true;
            }
        }
        return false;
    });
}

std::vector<Posted> NotificationRecorder::all() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

std::vector<std::uint32_t> NotificationRecorder::codes() const {
    std::vector<std::uint32_t> out;
    for (const auto& p : all()) {
        out.push_back(p.code);
    }
    return out;
}

Posted NotificationRecorder::end() const {
    for (const auto& p : all()) {
        if (isFinal(p.code)) {
            return p;
        }
    }
    return {0xFFFFFFFFu, 0, {}};
}

}  // namespace qor::test
