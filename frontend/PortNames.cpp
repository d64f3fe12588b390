#include "frontend/PortNames.h"

namespace qor {

bool isOfferedDevice(std::string_view deviceName) {
    constexpr std::string_view kPrefix = "\\device\\vcp";
    if (deviceName.size() < kPrefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        const char c = deviceName[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kPrefix[i]) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> offeredPortNames(const std::vector<platform::SerialDevice>& devices) {
    std::vector<std::string> names;
    for (const platform::SerialDevice& device : devices) {
        if (isOfferedDevice(device.deviceName)) {
            names.push_back(device.portName);
        }
    }
    return names;
}

std::vector<std::string> listOfferedPorts() {
    return offeredPortNames(platform::readSerialDevices());
}

}  // namespace qor
