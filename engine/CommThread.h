// The update worker: owns the logger's serial port for one run and talks to the logger in
// 8-byte CRC-8 command frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

#include "platform/SerialPort.h"

namespace qor {

enum class TCmd : std::uint8_t { tCMD0 = 0, tCMD1 = 1, tCMD2 = 2, tCMD_TEST = 3 };

inline constexpr std::uint32_t INVALID_HANDLE_VALUE_32 = platform::kInvalidSerialHandle;

// Opens and configures the named port; the invalid handle on any failure.
std::uint32_t openComPort(const std::string& name, std::int32_t baudRate);

// CRC-8/MAXIM (reflected 0x8C, init 0, no final XOR), table-driven.
std::uint8_t calculateCRC8(const std::uint8_t* data, std::uint16_t length);

constexpr std::uint16_t makeWord(std::uint8_t hi, std::uint8_t lo) {
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

constexpr void splitWord(std::uint16_t value, std::uint8_t& hi, std::uint8_t& lo) {
    hi = static_cast<std::uint8_t>(value >> 8);
    lo = static_cast<std::uint8_t>(value);
}

constexpr void splitLongWord(std::uint32_t value, std::uint8_t& b3, std::uint8_t& b2,
                             std::uint8_t& b1, std::uint8_t& b0) {
    b3 = static_cast<std::uint8_t>(value >> 24);
    b2 = static_cast<std::uint8_t>(value >> 16);
    b1 = static_cast<std::uint8_t>(value >> 8);
    b0 = static_cast<std::uint8_t>(value);
}

// How a run ended, as the run's one final notification.
struct RunEnd {
    std::uint32_t code;
    std::int32_t value;
};
// Maps the way the work ended (nullptr: no exception) to notification 0, 10 or 13.
RunEnd runEndFor(const std::exception_ptr& error, TCmd cmd);

class TCommThread {
  public:
    static constexpr std::size_t kBufferSize = 1501;

    virtual ~TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    // Creates a worker of class T and starts it at once. The worker frees itself when its run
    // has ended; the returned pointer is only a marker of the run and must not be used.
    template <class T>
    static TCommThread* Create(std::int32_t hWindow, TCmd cmd, const std::string& sPort) {
        TCommThread* worker = new T(hWindow, cmd, sPort);
        worker->start();
        return worker;
    }

    // Workers whose thread has not ended yet (for an orderly process exit and for tests).
    static int liveWorkers();
    // Waits until no worker is alive or timeoutMs passed; true when none is alive.
    static bool waitForWorkers(std::uint32_t timeoutMs);

  protected:
    TCommThread(std::int32_t hWindow, TCmd cmd, const std::string& sPort);

    virtual void work();
    virtual void runWork();
    // The thread's body: open, two reset frames, work, close, final notification.
    void Execute();

    void sendCommand(bool expectAnswer, std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2,
                     std::uint8_t p3, std::uint8_t p4, std::uint8_t p5, std::uint8_t p6);
    bool exchange(bool expectAnswer);
    void setProgress(std::int32_t position, std::int32_t total);
    void resetProgress();
    void reopenPort(std::int32_t baudRate);
    void closePort();
    void post(std::uint32_t code, std::int32_t value) const;

    TCmd FCmd;
    std::uint8_t FTxBuffer[kBufferSize]{};
    std::uint8_t FRxBuffer[kBufferSize]{};
    std::int32_t FhWindow;
    std::string FsPort;
    std::uint32_t FhPort = INVALID_HANDLE_VALUE_32;
    std::int32_t FnProgres = 0;

  private:
    void start();
};

// The class through which the window creates every worker.
using TCommThreadClass = TCommThread* (*)(std::int32_t hWindow, TCmd cmd, const std::string& sPort);

// Set at program start; every run's worker is created through it.
extern TCommThreadClass CommThreadClass;

template <class T>
TCommThread* createWorker(std::int32_t hWindow, TCmd cmd, const std::string& sPort) {
    return TCommThread::Create<T>(hWindow, cmd, sPort);
}

}  // namespace qor
