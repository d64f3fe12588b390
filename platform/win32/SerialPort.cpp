#include "platform/SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_map>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Kernel handles fit in 32 bits on every Windows, also for 64-bit processes.
HANDLE toHandle(SerialHandle handle) {
    return handle == kInvalidSerialHandle ? INVALID_HANDLE_VALUE
                                          : ULongToHandle(static_cast<unsigned long>(handle));
}

// The two kinds of read, each with its own read time-outs.
enum class ReadKind {
    // The logger link: a read returns when its count has arrived, or after 200 ms + 1 ms per
    // requested byte with what has arrived.
    link,
    // Stream reads: a read returns when its count has arrived, or after one slice. Reads are
    // sized to what the driver holds already, so they return at once; with nothing there, a read
    // of one byte waits for it and returns as it arrives. (The "return with the first byte" mode,
    // MAXDWORD/MAXDWORD/constant, is not used: wine waits out the whole constant in it.)
    stream,
};

constexpr DWORD kStreamSliceMs = 20;

bool setReadTimeouts(HANDLE h, ReadKind kind) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = kind == ReadKind::link ? 1 : 0;
    timeouts.ReadTotalTimeoutConstant = kind == ReadKind::link ? 200 : kStreamSliceMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(h, &timeouts) != 0;
}

// The kind of read each open port's time-outs are set for, so that they are set again only when
// the port is read the other way (setting them is a round trip to wine's server).
class ReadKinds {
  public:
    bool use(SerialHandle handle, ReadKind kind) {
        std::lock_guard lock(mutex_);
        const auto known = kinds_.find(handle);
        if (known != kinds_.end() && known->second == kind) {
            return true;
        }
        if (!setReadTimeouts(toHandle(handle), kind)) {
            kinds_.erase(handle);
            return false;
        }
        kinds_[handle] = kind;
        return true;
    }

    void forget(SerialHandle handle) {
        std::lock_guard lock(mutex_);
        kinds_.erase(handle);
    }

  private:
    std::mutex mutex_;
    std::unordered_map<SerialHandle, ReadKind> kinds_;
};

ReadKinds& readKinds() {
    static ReadKinds kinds;
    return kinds;
}

// Bytes that the driver holds, ready to be read.
bool queuedBytes(HANDLE h, DWORD& queued) {
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(h, &errors, &status) == 0) {
        return false;
    }
    queued = status.cbInQue;
    return true;
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
    const auto handle = static_cast<SerialHandle>(HandleToULong(h));
    readKinds().forget(handle);
    const bool ok = SetCommState(h, &dcb) != 0 && SetupComm(h, 1000, 1000) != 0 &&
                    readKinds().use(handle, ReadKind::link) && EscapeCommFunction(h, SETDTR) != 0;
    if (!ok) {
        readKinds().forget(handle);
        CloseHandle(h);
        return kInvalidSerialHandle;
    }
    return handle;
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
    received = 0;
    if (!readKinds().use(handle, ReadKind::link)) {
        return false;
    }
    DWORD n = 0;
    const bool ok = ReadFile(toHandle(handle), data, count, &n, nullptr) != 0;
    received = n;
    return ok;
}

bool serialReadSome(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t timeoutMs,
                    std::uint32_t& received) {
    received = 0;
    const HANDLE h = toHandle(handle);
    if (!readKinds().use(handle, ReadKind::stream)) {
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DWORD queued = 0;
        if (!queuedBytes(h, queued)) {
            return false;
        }
        if (queued > 0 && received < count) {
            DWORD n = 0;
            const bool ok = ReadFile(h, bytes + received, std::min<DWORD>(count - received, queued),
                                     &n, nullptr) != 0;
            received += n;
            if (!ok) {
                return false;
            }
        }
        if (received > 0 || count == 0) {
            return true;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return true;
        }
        if (left >= std::chrono::milliseconds(kStreamSliceMs)) {
            // Returns as the first byte arrives, or after a slice; what came with it is taken
            // on the next pass.
            DWORD n = 0;
            if (ReadFile(h, bytes, 1, &n, nullptr) == 0) {
                return false;
            }
            received = n;
        } else {
            // Less than a slice is left: look again every millisecond until the deadline.
            Sleep(1);
        }
    }
}

void serialClose(SerialHandle handle) {
    if (handle != kInvalidSerialHandle) {
        readKinds().forget(handle);
        CloseHandle(toHandle(handle));
    }
}

}  // namespace qor::platform
