#include "platform/DeviceChange.h"

#include <cstring>

namespace qor::platform {

bool isPortChange(std::uintptr_t eventType, const void* header) {
    if ((eventType != kDbtDeviceArrival && eventType != kDbtDeviceRemoveComplete) ||
        header == nullptr) {
        return false;
    }
    // DEV_BROADCAST_HDR: dbch_size, dbch_devicetype, dbch_reserved (32 bits each).
    std::uint32_t deviceType = 0;
    std::memcpy(&deviceType, static_cast<const unsigned char*>(header) + sizeof(std::uint32_t),
                sizeof deviceType);
    return deviceType == kDbtDevtypPort;
}

}  // namespace qor::platform
