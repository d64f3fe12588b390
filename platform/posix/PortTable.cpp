#include <algorithm>
#include <string_view>
#include <system_error>

#include "platform/posix/SysfsPortTable.h"

namespace qor::platform {
namespace {

namespace fs = std::filesystem;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The digits from i on without their leading zeros; i moves past them.
std::string_view number(const std::string& text, std::size_t& i) {
    std::size_t start = i;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
    }
    while (start + 1 < i && text[start] == '0') {
        ++start;
    }
    return std::string_view(text).substr(start, i - start);
}

// Text and number parts compared in turn, so ttyUSB2 sorts before ttyUSB10.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view na = number(a, i);
            const std::string_view nb = number(b, j);
            if (na.size() != nb.size()) {
                return na.size() < nb.size();
            }
            if (na != nb) {
                return na < nb;
            }
        } else if (a[i] != b[j]) {
            return a[i] < b[j];
        } else {
            ++i;
            ++j;
        }
    }
    if (i < a.size() || j < b.size()) {
        return j < b.size();
    }
    return a < b;  // equal but for leading zeros
}

// The name of the driver bound to the tty's device, or an empty text.
std::string driverName(const fs::path& tty) {
    std::error_code error;
    const fs::path driver = fs::read_symlink(tty / "device" / "driver", error);
    return error ? std::string() : driver.filename().string();
}

}  // namespace

std::vector<SerialDevice> readSysfsSerialDevices(const fs::path& sysfsRoot) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(sysfsRoot / "class" / "tty", error), end; !error && it != end;
         it.increment(error)) {
        // Virtual terminals and pseudo-terminals have no device behind them.
        std::error_code ignored;
        if (fs::exists(it->path() / "device", ignored)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end(), naturalLess);

    std::vector<SerialDevice> devices;
    int vcp = 0;
    for (const std::string& name : names) {
        const bool ftdi = driverName(sysfsRoot / "class" / "tty" / name) == "ftdi_sio";
        devices.push_back(
            {ftdi ? "\\Device\\VCP" + std::to_string(vcp++) : "\\Device\\" + name, "/dev/" + name});
    }
    return devices;
}

std::vector<SerialDevice> readSystemSerialDevices() {
    return readSysfsSerialDevices("/sys");
}

bool systemSerialDevicesReadable() {
    std::error_code error;
    return fs::is_directory("/sys/class/tty", error);
}

}  // namespace qor::platform
