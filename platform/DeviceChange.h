// Serial ports arriving and leaving while the program runs. Windows announces them to every
// top-level window as WM_DEVICECHANGE broadcasts; Linux through udev, on a file descriptor.
#pragma once

#include <cstdint>
#include <memory>

namespace qor::platform {

inline constexpr std::uint32_t kWmDeviceChange = 0x0219;
inline constexpr std::uintptr_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uintptr_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevtypPort = 3;

// True when a device-change broadcast with this event type (the message's first parameter) and
// broadcast header (its second) announces that a serial port arrived or was removed. The
// header, whose second 32-bit field is the device type, is read only for arrival and removal.
bool isPortChange(std::uintptr_t eventType, const void* header);

// True when the native window message is such a broadcast to the given window (its native
// handle). Only Windows has these; elsewhere always false.
bool isPortChangeMessage(const void* nativeMessage, std::uintptr_t window);

// Port arrivals and removals that come through a file descriptor (udev's tty subsystem on
// Linux). Where the system has no such source (Windows), fd() is -1.
class PortChangeMonitor {
  public:
    PortChangeMonitor();
    ~PortChangeMonitor();
    PortChangeMonitor(const PortChangeMonitor&) = delete;
    PortChangeMonitor& operator=(const PortChangeMonitor&) = delete;

    // Readable when announcements wait; -1 when there is no monitor.
    int fd() const;
    // Takes every waiting announcement; true when one of them was a port added or removed.
    bool takePortChanges();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qor::platform
