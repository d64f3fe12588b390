// A QOR logger with its radio module behind a pseudo-terminal: the logger's command link, the
// pass-through to the module, and the module's bootloader (Nordic Secure DFU or block).
//
// run() serves the line on the calling thread until stop(), the end of a --once run, or the
// port vanishing; tests run it on a thread of their own and talk to slavePath().
#pragma once

#include <atomic>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/sim/BlockBootloader.h"
#include "tools/sim/DeviceContext.h"
#include "tools/sim/LineNoise.h"
#include "tools/sim/LoggerLink.h"
#include "tools/sim/NordicBootloader.h"
#include "tools/sim/PtyLine.h"
#include "tools/sim/SignatureVerifier.h"
#include "tools/sim/SimConfig.h"
#include "tools/sim/Transcript.h"

namespace qor::sim {

class Simulator : private DeviceContext {
  public:
    // Creates the pseudo-terminal (and the --link symlink). The transcript goes to
    // config.transcriptPath if set, else to `transcript` if given. Throws std::runtime_error
    // when the line, the transcript file or the public key cannot be had.
    explicit Simulator(Config config, std::ostream* transcript = nullptr);
    ~Simulator() override;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& slavePath() const { return slavePath_; }

    // Serves the line; returns when stopped, when a --once run is over, or after the port
    // vanished.
    void run();
    // Any thread, also a signal handler.
    void stop();

    // What the module reports now (any thread).
    ModuleFirmware moduleFirmware() const;
    // How many pass-through sessions have ended so far (any thread).
    int passThroughSessionsEnded() const { return sessionsEnded_.load(); }
    bool vanished() const { return vanished_.load(); }

  private:
    enum class State { Logger, PassThrough, Restart, Gone };

    struct RxByte {
        std::uint8_t value;
        Clock::time_point at;
        bool noise;  // sent at another speed than the device listens at
    };
    struct TxChunk {
        std::vector<std::uint8_t> bytes;
        Clock::time_point start;
        Clock::duration byteTime;
        int baud;
        const char* state;
        std::size_t sent = 0;
    };

    // DeviceContext
    void send(std::vector<std::uint8_t> bytes, Micros after) override;
    void note(const std::string& text) override;
    void restartModule(std::optional<ModuleFirmware> firmware, Micros after) override;
    bool realtime() const override { return config_.realtime; }
    Clock::time_point now() const override { return now_; }

    const char* stateName() const;
    int deviceBaud() const;
    Clock::duration byteTime(int baud) const;

    // Takes in the host's opens and closes so far; called before every decision that depends
    // on them, so that no event older than the bytes at hand is left unread.
    void refreshOpenState();
    void receive();
    void deliver(const RxByte& byte);
    void passThroughByte(const RxByte& byte);
    void timers();
    void transmit();
    void enterPassThrough();
    void endPassThrough(const std::string& why);
    void vanish();
    std::optional<Clock::time_point> nextWake() const;
    void waitUntil(std::optional<Clock::time_point> wake);

    Config config_;
    Identity identity_;  // changes when the module boots a new image
    mutable std::mutex identityMutex_;
    std::ofstream transcriptFile_;
    Clock::time_point start_;
    Transcript transcript_;
    SignatureVerifier verifier_;
    PtyLine line_;
    std::string slavePath_;
    LoggerLink link_;
    NordicBootloader nordic_;
    BlockBootloader block_;
    LineNoise lineNoise_;

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> sessionsEnded_{0};
    std::atomic<bool> vanished_{false};

    State state_ = State::Logger;
    Clock::time_point now_{};
    std::deque<RxByte> rx_;
    Clock::time_point rxFreeAt_{};
    std::deque<TxChunk> tx_;
    Clock::time_point txFreeAt_{};
    Clock::time_point lastTraffic_{};
    Clock::time_point restartAt_{};
    std::optional<ModuleFirmware> restartFirmware_;
    std::uint64_t passThroughBytes_ = 0;
    bool restartLossNoted_ = false;
    std::uint64_t answersAtSessionEnd_ = 0;
    bool finished_ = false;
};

}  // namespace qor::sim
