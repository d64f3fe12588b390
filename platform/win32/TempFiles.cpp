#include "platform/TempFiles.h"

#include <windows.h>

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

namespace {

// Removes a folder with everything in it, as far as it can.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                  (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (isFolder) {
                removeTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

PrivateTempDirectory::~PrivateTempDirectory() {
    removeTree(widen(path_));
}

}  // namespace qor::platform
