#include "engine/CommThread.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/Exceptions.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"

namespace qor {
namespace {

constexpr int kAttempts = 5;
constexpr std::uint32_t kRetryPauseMs = 100;
constexpr std::uint32_t kResetPauseMs = 100;
constexpr std::int32_t kCommandBaud = 9600;
constexpr std::uint8_t kResetCommand = 255;
constexpr std::uint8_t kExceptionBit = 0x20;

constexpr std::array<std::uint8_t, 256> makeCrc8Table() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0x8Cu : crc >> 1;
        }
        table[i] = static_cast<std::uint8_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kCrc8Table = makeCrc8Table();

struct WorkerCount {
    std::mutex mutex;
    std::condition_variable changed;
    int live = 0;
};

WorkerCount& workerCount() {
    static WorkerCount instance;
    return instance;
}

}  // namespace

TCommThreadClass CommThreadClass = nullptr;

std::uint32_t openComPort(const std::string& name, std::int32_t baudRate) {
    return platform::serialOpen(name, baudRate);
}

std::uint8_t calculateCRC8(const std::uint8_t* data, std::uint16_t length) {
    std::uint8_t crc = 0;
    for (std::uint16_t i = 0; i < length; ++i) {
        crc = kCrc8Table[crc ^ data[i]];
    }
    return crc;
}

RunEnd runEndFor(const std::exception_ptr& error, TCmd cmd) {
    const auto command = static_cast<std::int32_t>(cmd);
    if (!error) {
        return {kNotifySuccess, command};
    }
    try {
        std::rethrow_exception(error);
    } catch (const EQor& e) {
        if (e.iException == cEX_NO_ANSWER) {
            return {kNotifyNoAnswer, command};
        }
        return {kNotifyFailure, e.iException};
    } catch (...) {
        return {kNotifyFailure, 0};
    }
}

TCommThread::TCommThread(std::int32_t hWindow, TCmd cmd, const std::string& sPort)
    : FCmd(cmd), FhWindow(hWindow), FsPort(sPort) {}

TCommThread::~TCommThread() {
    closePort();
}

int TCommThread::liveWorkers() {
    WorkerCount& count = workerCount();
    std::lock_guard lock(count.mutex);
    return count.live;
}

bool TCommThread::waitForWorkers(std::uint32_t timeoutMs) {
    WorkerCount& count = workerCount();
    std::unique_lock lock(count.mutex);
    return count.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&count] { return count.live == 0; });
}

void TCommThread::start() {
    {
        WorkerCount& count = workerCount();
        std::lock_guard lock(count.mutex);
        ++count.live;
    }
    std::thread([this] {
        Execute();
        delete this;
        WorkerCount& count = workerCount();
        std::lock_guard lock(count.mutex);
        --count.live;
        count.changed.notify_all();
    }).detach();
}

void TCommThread::work() {}

void TCommThread::runWork() {
    work();
}

void TCommThread::Execute() {
    std::exception_ptr error;
    try {
        FhPort = openComPort(FsPort, kCommandBaud);
        if (FhPort == INVALID_HANDLE_VALUE_32) {
            throw EQor(cEX_PORT_OPEN);
        }
        try {
            resetProgress();
            sendCommand(false, kResetCommand, 0, 0, 0, 0, 0, 0);
            platform::sleepMs(kResetPauseMs);
            sendCommand(false, kResetCommand, 0, 0, 0, 0, 0, 0);
            platform::sleepMs(kResetPauseMs);
            runWork();
        } catch (...) {
            closePort();
            throw;
        }
        closePort();
    } catch (...) {
        error = std::current_exception();
    }
    const RunEnd end = runEndFor(error, FCmd);
    post(end.code, end.value);
}

void TCommThread::sendCommand(bool expectAnswer, std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2,
                              std::uint8_t p3, std::uint8_t p4, std::uint8_t p5, std::uint8_t p6) {
    if (cmd == kResetCommand) {
        std::fill_n(FTxBuffer, 8, std::uint8_t{0});
    } else {
        FTxBuffer[0] = static_cast<std::uint8_t>(cmd | 0x80u);
        FTxBuffer[1] = p1;
        FTxBuffer[2] = p2;
        FTxBuffer[3] = p3;
        FTxBuffer[4] = p4;
        FTxBuffer[5] = p5;
        FTxBuffer[6] = p6;
        FTxBuffer[7] = calculateCRC8(FTxBuffer, 7);
    }
    for (int attempt = 1;; ++attempt) {
        if (cancelFlag.load(std::memory_order_relaxed)) {
            throw EQor(cEX_CANCEL);
        }
        if (exchange(expectAnswer)) {
            return;
        }
        if (attempt == kAttempts) {
            throw EQor(cEX_NO_ANSWER);
        }
        platform::sleepMs(kRetryPauseMs);
    }
}

bool TCommThread::exchange(bool expectAnswer) {
    if (!platform::serialClearError(FhPort)) {
        throw EQor(cEX_PORT_IO, "ClearCommError");
    }
    if (!platform::serialPurge(FhPort)) {
        throw EQor(cEX_PORT_IO, "PurgeComm");
    }
    std::uint32_t written = 0;
    if (!platform::serialWrite(FhPort, FTxBuffer, 8, written)) {
        throw EQor(cEX_PORT_IO, "WriteFile");
    }
    if (written < 8) {
        return false;
    }
    if (!expectAnswer) {
        return true;
    }
    std::uint32_t received = 0;
    if (!platform::serialRead(FhPort, FRxBuffer, 8, received)) {
        throw EQor(cEX_PORT_IO, "ReadFile");
    }
    if (received < 8 || calculateCRC8(FRxBuffer, 7) != FRxBuffer[7]) {
        return false;
    }
    if ((FRxBuffer[0] & kExceptionBit) != 0) {
        throw EQor(cEX_LOGGER_EXCEPTION, "QOR Exception!");
    }
    return true;
}

void TCommThread::setProgress(std::int32_t position, std::int32_t total) {
    std::int32_t percent = 0;
    if (total != 0) {
        // 32-bit arithmetic like the original; wrap-around instead of overflow traps.
        const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(position) * 99u);
        percent = (total == -1 && product == INT32_MIN) ? 0 : product / total;
    }
    percent = std::clamp(percent, 0, 99);
    if (percent != FnProgres) {
        FnProgres = percent;
        post(kNotifyProgress, percent);
    }
}

void TCommThread::resetProgress() {
    FnProgres = 0;
}

void TCommThread::reopenPort(std::int32_t baudRate) {
    closePort();
    FhPort = openComPort(FsPort, baudRate);
    if (FhPort == INVALID_HANDLE_VALUE_32) {
        throw EQor(cEX_PORT_OPEN);
    }
}

void TCommThread::closePort() {
    if (FhPort != INVALID_HANDLE_VALUE_32) {
        platform::serialClose(FhPort);
        FhPort = INVALID_HANDLE_VALUE_32;
    }
}

void TCommThread::post(std::uint32_t code, std::int32_t value) const {
    postNotification(FhWindow, code, value);
}

}  // namespace qor
