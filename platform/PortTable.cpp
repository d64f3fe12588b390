#include "platform/PortTable.h"

#include <cstdlib>
#include <fstream>

namespace qor::platform {
namespace {

const char* tableFile() {
    const char* file = std::getenv(kSerialDeviceTableVariable);
    return file != nullptr && *file != '\0' ? file : nullptr;
}

}  // namespace

std::vector<SerialDevice> readSerialDevices() {
    const char* file = tableFile();
    if (file == nullptr) {
        return readSystemSerialDevices();
    }
    std::vector<SerialDevice> devices;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string::npos) {
            continue;
        }
        devices.push_back({line.substr(0, equals), line.substr(equals + 1)});
    }
    return devices;
}

bool serialDevicesReadable() {
    const char* file = tableFile();
    return file == nullptr ? systemSerialDevicesReadable() : std::ifstream(file).good();
}

}  // namespace qor::platform
