#include "platform/DeviceChange.h"

#include <libudev.h>
#include <poll.h>

#include <cstring>

namespace qor::platform {

bool isPortChangeMessage(const void*, std::uintptr_t) {
    return false;
}

struct PortChangeMonitor::State {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
};

// Events from udev (not the kernel's raw ones) come after the device node exists or has gone.
// Without a running udev daemon nothing arrives, and the port list stays as it was read.
PortChangeMonitor::PortChangeMonitor() : state_(std::make_unique<State>()) {
    state_->context = udev_new();
    if (state_->context == nullptr) {
        return;
    }
    state_->monitor = udev_monitor_new_from_netlink(state_->context, "udev");
    if (state_->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(state_->monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(state_->monitor) < 0) {
        if (state_->monitor != nullptr) {
            udev_monitor_unref(state_->monitor);
            state_->monitor = nullptr;
        }
    }
}

PortChangeMonitor::~PortChangeMonitor() {
    if (state_->monitor != nullptr) {
        udev_monitor_unref(state_->monitor);
    }
    if (state_->context != nullptr) {
        udev_unref(state_->context);
    }
}

int PortChangeMonitor::fd() const {
    return state_->monitor != nullptr ? udev_monitor_get_fd(state_->monitor) : -1;
}

bool PortChangeMonitor::takePortChanges() {
    if (state_->monitor == nullptr) {
        return false;
    }
    bool change = false;
    // Only what is waiting now: the window's thread must never block here.
    pollfd waiting{udev_monitor_get_fd(state_->monitor), POLLIN, 0};
    while (::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN) != 0) {
        udev_device* device = udev_monitor_receive_device(state_->monitor);
        if (device == nullptr) {
            break;
        }
        const char* action = udev_device_get_action(device);
        if (action != nullptr &&
            (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
            change = true;
        }
        udev_device_unref(device);
    }
    return change;
}

}  // namespace qor::platform
