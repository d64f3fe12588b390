#include "platform/DeviceChange.h"

#include <windows.h>
// after windows.h, which it needs
#include <dbt.h>

namespace qor::platform {

static_assert(WM_DEVICECHANGE == kWmDeviceChange && DBT_DEVICEARRIVAL == kDbtDeviceArrival &&
              DBT_DEVICEREMOVECOMPLETE == kDbtDeviceRemoveComplete &&
              DBT_DEVTYP_PORT == kDbtDevtypPort);

bool isPortChangeMessage(const void* nativeMessage, std::uintptr_t window) {
    const auto* msg = static_cast<const MSG*>(nativeMessage);
    return msg != nullptr && msg->message == WM_DEVICECHANGE &&
           reinterpret_cast<std::uintptr_t>(msg->hwnd) == window &&
           isPortChange(static_cast<std::uintptr_t>(msg->wParam),
                        reinterpret_cast<const void*>(msg->lParam));
}

// Windows announces ports to the windows themselves; there is nothing to read here.
struct PortChangeMonitor::State {};

PortChangeMonitor::PortChangeMonitor() : state_(std::make_unique<State>()) {}

PortChangeMonitor::~PortChangeMonitor() = default;

int PortChangeMonitor::fd() const {
    return -1;
}

bool PortChangeMonitor::takePortChanges() {
    return false;
}

}  // namespace qor::platform
