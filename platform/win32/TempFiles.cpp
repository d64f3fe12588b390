#include "platform/TempFiles.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/WinText.h"

namespace qor::platform {

ToolDirectory createToolDirectory() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH + 1) {
        throw std::runtime_error("GetTempPath: " + systemErrorText(GetLastError()));
    }
    return {narrow(std::wstring(buffer, n)), false};
}

void removeToolDirectory(const ToolDirectory&) {}

std::string toolProgramName() {
    return "qor_ble_dfu.exe";
}

bool makeExecutable(const std::string&) {
    return true;
}

}  // namespace qor::platform
