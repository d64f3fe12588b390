#include "platform/PortTable.h"

#include <windows.h>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

// REG_SZ data as stored: a byte count that may or may not include the terminating NUL.
std::wstring registryText(const std::vector<BYTE>& data, DWORD size) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    const auto end = text.find(L'\0');
    if (end != std::wstring::npos) {
        text.resize(end);
    }
    return text;
}

}  // namespace

std::vector<SerialDevice> readSystemSerialDevices() {
    std::vector<SerialDevice> devices;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"hardware\\devicemap\\serialcomm", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return devices;
    }
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) == ERROR_SUCCESS) {
        std::vector<wchar_t> name(maxName + 1);
        std::vector<BYTE> data(maxData + sizeof(wchar_t));
        int regrown = 0;
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = REG_NONE;
            const LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                              data.data(), &dataSize);
            if (result == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (result == ERROR_MORE_DATA && regrown++ < 8) {
                // A port arrived since the sizes were asked: grow and read this index again.
                name.resize(name.size() * 2);
                data.resize(data.size() * 2);
                --index;
                continue;
            }
            if (result != ERROR_SUCCESS) {
                break;
            }
            if (type == REG_SZ || type == REG_EXPAND_SZ) {
                devices.push_back({narrow(std::wstring(name.data(), nameLength)),
                                   narrow(registryText(data, dataSize))});
            }
        }
    }
    RegCloseKey(key);
    return devices;
}

bool systemSerialDevicesReadable() {
    return true;
}

}  // namespace qor::platform
