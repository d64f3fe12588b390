#include "platform/Settings.h"

#include <windows.h>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

// The key as the program names it, "\Software\Vandrel\Qor", is absolute under the root key;
// RegOpenKeyExW wants it without the leading backslash.
const wchar_t* const kKey = L"Software\\Vandrel\\Qor";

}  // namespace

std::optional<std::uint32_t> readUserInteger(const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    // A longer value of another type fails with ERROR_MORE_DATA: normal mode as well.
    const LONG result = RegQueryValueExW(key, widen(name).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(data);
}

}  // namespace qor::platform
