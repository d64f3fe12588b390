#include "platform/PortTable.h"

#include <cstdlib>
#include <string_view>

#include "platform/Files.h"

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
    std::string text;
    std::string error;
    readWholeFile(file, text, error);
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
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
    std::string text;
    std::string error;
    return file == nullptr ? systemSerialDevicesReadable() : readWholeFile(file, text, error);
}

}  // namespace qor::platform
