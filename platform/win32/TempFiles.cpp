#include "platform/TempFiles.h"

#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>

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

PrivateTempDirectory::PrivateTempDirectory() {
    const ToolDirectory base = createToolDirectory();
    const std::wstring prefix =
        widen(base.path) + L"qor-ble-update-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (unsigned attempt = 0;; ++attempt) {
        std::wstring folder = prefix + std::to_wstring(GetTickCount() + attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            path_ = narrow(folder);
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt >= 100) {
            throw std::runtime_error("CreateDirectory: " + systemErrorText(GetLastError()));
        }
    }
    // GetTempPath asks TMP first, then TEMP.
    const std::wstring value = widen(path_) + L'\\';
    if (!SetEnvironmentVariableW(L"TMP", value.c_str()) ||
        !SetEnvironmentVariableW(L"TEMP", value.c_str())) {
        const DWORD error = GetLastError();
        RemoveDirectoryW(widen(path_).c_str());
        throw std::runtime_error("SetEnvironmentVariable: " + systemErrorText(error));
    }
}

PrivateTempDirectory::~PrivateTempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(widen(path_)), ignored);
}

}  // namespace qor::platform
