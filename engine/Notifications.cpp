#include "engine/Notifications.h"

#include "engine/RunState.h"

#include <map>
#include <mutex>

namespace qor {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::int32_t, NotificationSink> sinks;
    std::int32_t nextHandle = 1;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

std::int32_t registerNotificationSink(NotificationSink sink) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    while (r.nextHandle == 0 || r.sinks.count(r.nextHandle) != 0) {
        ++r.nextHandle;
    }
    const std::int32_t handle = r.nextHandle++;
    r.sinks.emplace(handle, std::move(sink));
    return handle;
}

std::int32_t registerNotificationSink(std::function<void(std::uint32_t, std::int32_t)> sink) {
    return registerNotificationSink(
        [sink = std::move(sink)](const Notification& n) { sink(n.code, n.value); });
}

void unregisterNotificationSink(std::int32_t hWindow) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.sinks.erase(hWindow);
}

void postNotification(std::int32_t hWindow, std::uint32_t code, std::int32_t value) {
    Notification notification{code, value, {}};
    if (code == kNotifyText) {
        notification.text = textSlot(value == 1 ? 1 : 0);
    }
    Registry& r = registry();
    // Sinks only enqueue, so holding the lock across the call is short and keeps removal safe.
    std::lock_guard lock(r.mutex);
    const auto it = r.sinks.find(hWindow);
    if (it != r.sinks.end() && it->second) {
        it->second(notification);
    }
}

}  // namespace qor
