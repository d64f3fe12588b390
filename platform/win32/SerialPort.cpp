#include "platform/SerialPort.h"

#include <windows.h>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

// Kernel handles fit in 32 bits on every Windows, also for 64-bit processes.
HANDLE toHandle(SerialHandle handle) {
    return handle == kInvalidSerialHandle ? INVALID_HANDLE_VALUE
                                          : ULongToHandle(static_cast<unsigned long>(handle));
}

bool setTimeouts(HANDLE h, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutMultiplier = multiplier;
    timeouts.ReadTotalTimeoutConstant = constant;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(h, &timeouts) != 0;
}

}  // namespace

SerialHandle serialOpen(const std::string& name, std::int32_t baudRate) {
    if (name.empty()) {
        return kInvalidSerialHandle;
    }
    const std::wstring path = L"\\\\.\\" + widen(name);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return kInvalidSerialHandle;
    }
    // Built from nothing: the port's current settings are not read first.
    DCB dcb{};
    dcb.DCBlength = 28;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = 1;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x20;
    dcb.XoffChar = 0x20;
    dcb.ErrorChar = 0x20;
    dcb.EofChar = 0x20;
    dcb.EvtChar = 0x20;
    dcb.wReserved = 0;
    dcb.wReserved1 = 0;
    const bool ok = SetCommState(h, &dcb) != 0 && SetupComm(h, 1000, 1000) != 0 &&
                    setTimeouts(h, 0, 1, 200) && EscapeCommFunction(h, SETDTR) != 0;
    if (!ok) {
        CloseHandle(h);
        return kInvalidSerialHandle;
    }
    return static_cast<SerialHandle>(HandleToULong(h));
}

bool serialClearError(SerialHandle handle) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(toHandle(handle), &errors, &status) != 0;
}

bool serialPurge(SerialHandle handle) {
    return PurgeComm(toHandle(handle), PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool serialWrite(SerialHandle handle, const void* data, std::uint32_t count,
                 std::uint32_t& written) {
    DWORD n = 0;
    const bool ok = WriteFile(toHandle(handle), data, count, &n, nullptr) != 0;
    written = n;
    return ok;
}

bool serialRead(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t& received) {
    DWORD n = 0;
    const bool ok = ReadFile(toHandle(handle), data, count, &n, nullptr) != 0;
    received = n;
    return ok;
}

bool serialReadSome(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t timeoutMs,
                    std::uint32_t& received) {
    received = 0;
    HANDLE h = toHandle(handle);
    // MAXDWORD/MAXDWORD/constant: return at once with what is waiting, else with the first
    // bytes to arrive, else after the constant.
    if (!setTimeouts(h, MAXDWORD, MAXDWORD, timeoutMs == 0 ? 1 : timeoutMs)) {
        return false;
    }
    DWORD n = 0;
    const bool ok = ReadFile(h, data, count, &n, nullptr) != 0;
    received = n;
    return setTimeouts(h, 0, 1, 200) && ok;
}

void serialClose(SerialHandle handle) {
    if (handle != kInvalidSerialHandle) {
        CloseHandle(toHandle(handle));
    }
}

}  // namespace qor::platform
