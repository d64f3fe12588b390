#include "platform/Files.h"

#include <windows.h>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

// Closes a handle on every path.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

bool failed(std::string& error) {
    error = systemErrorText(GetLastError());
    return false;
}

}  // namespace

FileKind fileKind(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return FileKind::Missing;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileKind::Folder;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? FileKind::Other : FileKind::Regular;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    FileHandle file(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return failed(error);
    }
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
            return failed(error);
        }
        if (n == 0) {
            return true;
        }
        bytes.append(buffer, n);
    }
}

bool writeWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::string& error) {
    FileHandle file(CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return failed(error);
    }
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        DWORD n = 0;
        if (!WriteFile(file.get(), at, chunk, &n, nullptr) || n == 0) {
            return failed(error);
        }
        at += n;
        size -= n;
    }
    return true;
}

bool deleteFile(const std::string& path) {
    return DeleteFileW(widen(path).c_str()) != 0;
}

}  // namespace qor::platform
