#include "tests/win32/WinTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "engine/CommThread.h"
#include "platform/win32/WinText.h"

namespace qor::test {

std::string portFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(std::string(variable) +
                                 " is not set: run this test through tests/win32/serial_peers.py");
    }
    return value;
}

bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string hostPath(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        return path;
    }
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') {
            c = '\\';
        }
    }
    return windows;
}

PeerPort::PeerPort(const std::string& name) {
    const std::wstring path = L"\\\\.\\" + platform::widen(name);
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open the peer port " + name + ": " +
                                 platform::systemErrorText(GetLastError()));
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    // Reads return at once with what is there; read() polls.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommState(handle_, &dcb) || !SetCommTimeouts(handle_, &timeouts)) {
        CloseHandle(handle_);
        throw std::runtime_error("cannot set up the peer port " + name);
    }
}

PeerPort::~PeerPort() {
    CloseHandle(handle_);
}

Bytes PeerPort::read(std::size_t n, std::chrono::milliseconds timeout) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < n) {
        std::uint8_t buffer[256];
        DWORD count = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - got.size(), sizeof buffer));
        if (!ReadFile(handle_, buffer, want, &count, nullptr)) {
            throw std::runtime_error("peer read failed: " +
                                     platform::systemErrorText(GetLastError()));
        }
        got.insert(got.end(), buffer, buffer + count);
        if (count == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return got;
}

void PeerPort::write(const Bytes& bytes) {
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        throw std::runtime_error("peer write failed");
    }
}

void PeerPort::discard() {
    PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

Bytes answerFrame(Bytes first7) {
    first7.resize(7);
    first7.push_back(calculateCRC8(first7.data(), 7));
    return first7;
}

ScopedTempDirectory::ScopedTempDirectory() {
    static std::atomic<int> counter{0};
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH + 1) {
        throw std::runtime_error("GetTempPathW failed");
    }
    const std::filesystem::path folder =
        std::filesystem::path(std::wstring(buffer, n)) /
        ("qor-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(folder);
    path_ = platform::narrow(folder.wstring()) + "\\";

    wchar_t previous[MAX_PATH + 2];
    const DWORD had = GetEnvironmentVariableW(L"TMP", previous, MAX_PATH + 1);
    hadTmp_ = had > 0 && had <= MAX_PATH + 1;
    if (hadTmp_) {
        previousTmp_.assign(previous, had);
    }
    SetEnvironmentVariableW(L"TMP", folder.wstring().c_str());
}

ScopedTempDirectory::~ScopedTempDirectory() {
    SetEnvironmentVariableW(L"TMP", hadTmp_ ? previousTmp_.c_str() : nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(platform::widen(path_), ignored);
}

}  // namespace qor::test
