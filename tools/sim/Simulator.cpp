#include "tools/sim/Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace qor::sim {
namespace {

constexpr int kCommandBaud = 9600;
constexpr int kBootloaderBaud = 57600;
// While the host has the port open the simulator looks at the line at least this often (the
// host's speed changes and exclusive flag give no event).
constexpr auto kTick = std::chrono::milliseconds(20);
constexpr auto kReportPoll = std::chrono::milliseconds(2);

std::ostream* transcriptStream(const Config& config, std::ofstream& file, std::ostream* given) {
    if (config.transcriptPath.empty()) {
        return given;
    }
    file.open(config.transcriptPath, std::ios::out | std::ios::trunc);
    if (!file) {
        throw std::runtime_error("cannot write the transcript " + config.transcriptPath);
    }
    return &file;
}

std::string firmwareText(const ModuleFirmware& fw) {
    char text[64];
    std::snprintf(text, sizeof text, "class %u version 0x%04X", fw.fwClass, fw.version);
    return text;
}

}  // namespace

Simulator::Simulator(Config config, std::ostream* transcript)
    : config_(std::move(config)),
      identity_(config_.identity),
      start_(Clock::now()),
      transcript_(transcriptStream(config_, transcriptFile_, transcript), start_),
      verifier_(config_.publicKeyPem.empty() ? developmentPublicKey() : config_.publicKeyPem),
      slavePath_(line_.slavePath()),
      link_(identity_, config_.linkFaults, *this),
      nordic_(identity_, config_.nordic, verifier_, *this),
      block_(identity_, config_.report, config_.blockFaults, *this),
      lineNoise_(config_.line) {
    if (!config_.linkPath.empty()) {
        line_.link(config_.linkPath);
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("cannot create the wake-up pipe");
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    now_ = start_;
    transcript_.event(start_, stateName(), "slave " + slavePath_);
}

Simulator::~Simulator() {
    line_.close();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void Simulator::stop() {
    stopRequested_.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &byte, 1);
}

ModuleFirmware Simulator::moduleFirmware() const {
    std::lock_guard lock(identityMutex_);
    return identity_.firmware;
}

const char* Simulator::stateName() const {
    switch (state_) {
        case State::Logger:
            return "logger";
        case State::PassThrough:
            return config_.bootloader == BootloaderKind::Nordic ? "nordic" : "block";
        case State::Restart:
            return "restart";
        case State::Gone:
            return "gone";
    }
    return "?";
}

int Simulator::deviceBaud() const {
    return state_ == State::Logger ? kCommandBaud : kBootloaderBaud;
}

Clock::duration Simulator::byteTime(int baud) const {
    if (!config_.realtime || baud <= 0) {
        return Clock::duration::zero();
    }
    // Ten bit times: start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / baud));
}

void Simulator::run() {
    while (!stopRequested_.load() && !finished_) {
        now_ = Clock::now();
        refreshOpenState();
        receive();
        refreshOpenState();
        if (line_.hostOpen()) {
            line_.releaseExclusive();
        }
        while (!finished_ && !rx_.empty() && rx_.front().at <= Clock::now()) {
            const RxByte byte = rx_.front();
            rx_.pop_front();
            now_ = byte.at;
            deliver(byte);
        }
        now_ = Clock::now();
        transmit();
        timers();
        transmit();
        if (!finished_) {
            waitUntil(nextWake());
        }
    }
    if (!vanished_.load()) {
        transcript_.event(Clock::now(), stateName(), "simulator ends");
    }
    line_.close();
}

void Simulator::refreshOpenState() {
    for (const bool opened : line_.openStateChanges()) {
        if (opened) {
            note("host opened the port");
            continue;
        }
        // A real port drops what its owner did not read and forgets the exclusive flag.
        line_.discardUnread();
        line_.releaseExclusive();
        note("host closed the port");
        if (config_.once && sessionsEnded_.load() > 0 &&
            link_.answersSent() > answersAtSessionEnd_) {
            note("update done (--once)");
            finished_ = true;
        }
    }
}

void Simulator::receive() {
    std::vector<std::uint8_t> bytes = line_.read();
    if (bytes.empty()) {
        return;
    }
    const int hostBaud = line_.hostBaud();
    const bool noise = hostBaud != deviceBaud();
    const Clock::duration perByte = byteTime(hostBaud);
    const Clock::time_point first = std::max(rxFreeAt_, now_) + perByte;
    for (const std::uint8_t b : bytes) {
        rxFreeAt_ = std::max(rxFreeAt_, now_) + perByte;
        rx_.push_back({b, rxFreeAt_, noise});
    }
    transcript_.bytes(first, "rx", stateName(), hostBaud, bytes);
    if (noise) {
        transcript_.event(first, stateName(),
                          "noise: host at " + std::to_string(hostBaud) + " baud, device at " +
                              std::to_string(deviceBaud()));
    }
}

void Simulator::deliver(const RxByte& byte) {
    switch (state_) {
        case State::Logger:
            if (byte.noise) {
                link_.onNoise();
                return;
            }
            link_.onByte(byte.value, byte.at);
            if (link_.takePassThroughRequest()) {
                enterPassThrough();
            }
            return;
        case State::PassThrough:
            passThroughByte(byte);
            return;
        case State::Restart:
            if (!restartLossNoted_) {
                note("module restarting: bytes lost");
                restartLossNoted_ = true;
            }
            return;
        case State::Gone:
            return;
    }
}

void Simulator::passThroughByte(const RxByte& byte) {
    lastTraffic_ = byte.at;
    ++passThroughBytes_;
    if (config_.vanishAfterBytes && passThroughBytes_ >= *config_.vanishAfterBytes) {
        vanish();
        return;
    }
    if (byte.noise) {
        return;
    }
    std::uint8_t value = byte.value;
    if (lineNoise_.active()) {
        const LineNoise::Fate fate = lineNoise_.toModule(value);
        const std::string which = "line: rx byte " + std::to_string(fate.index) + " ";
        if (fate.lost) {
            note(which + "lost " + hexBytes(std::span(&value, 1)));
            return;
        }
        if (fate.damaged) {
            note(which + "damaged " + hexBytes(std::span(&value, 1)) + " -> " +
                 hexBytes(std::span(&*fate.damaged, 1)));
            value = *fate.damaged;
        }
    }
    if (config_.bootloader == BootloaderKind::Nordic) {
        nordic_.onBytes(std::span(&value, 1));
    } else {
        block_.onByte(value, byte.at);
    }
}

void Simulator::enterPassThrough() {
    state_ = State::PassThrough;
    lastTraffic_ = now_;
    note("pass-through on");
    // The logger restarts the module into its bootloader.
    if (config_.bootloader == BootloaderKind::Nordic) {
        nordic_.reset();
    } else {
        block_.start();
    }
}

void Simulator::endPassThrough(const std::string& why) {
    state_ = State::Logger;
    restartLossNoted_ = false;
    answersAtSessionEnd_ = link_.answersSent();
    note("pass-through off: " + why);
    sessionsEnded_.fetch_add(1);
}

void Simulator::restartModule(std::optional<ModuleFirmware> firmware, Micros after) {
    state_ = State::Restart;
    restartAt_ = std::max(now_ + after, txFreeAt_);
    restartFirmware_ = firmware;
}

void Simulator::timers() {
    if (state_ == State::Restart && now_ >= restartAt_) {
        if (restartFirmware_) {
            std::lock_guard lock(identityMutex_);
            identity_.firmware = *restartFirmware_;
        }
        const std::string running = firmwareText(identity_.firmware);
        endPassThrough("module restarted, runs " + running);
        return;
    }
    if (state_ != State::PassThrough) {
        return;
    }
    if (config_.passThroughIdle.count() > 0 && now_ - lastTraffic_ >= config_.passThroughIdle) {
        nordic_.reset();
        block_.reset();
        endPassThrough("no traffic for " + std::to_string(config_.passThroughIdle.count()) +
                       " ms, module reset");
        return;
    }
    refreshOpenState();
    if (config_.bootloader == BootloaderKind::Block && block_.reportPending() && line_.hostOpen() &&
        line_.hostBaud() == kBootloaderBaud) {
        block_.sendReport();
    }
}

void Simulator::send(std::vector<std::uint8_t> bytes, Micros after) {
    if (bytes.empty()) {
        return;
    }
    if (state_ == State::PassThrough && lineNoise_.active()) {
        // Damaged on their way through the logger: the transcript's tx line shows what the
        // host gets.
        for (std::uint8_t& b : bytes) {
            const LineNoise::Fate fate = lineNoise_.toHost(b);
            if (fate.damaged) {
                note("line: tx byte " + std::to_string(fate.index) + " damaged " +
                     hexBytes(std::span(&b, 1)) + " -> " + hexBytes(std::span(&*fate.damaged, 1)));
                b = *fate.damaged;
            }
        }
    }
    const int baud = deviceBaud();
    const Clock::duration perByte = byteTime(baud);
    const Clock::time_point start = std::max(now_ + after, txFreeAt_);
    txFreeAt_ = start + perByte * static_cast<long>(bytes.size());
    tx_.push_back({std::move(bytes), start, perByte, baud, stateName()});
}

void Simulator::transmit() {
    refreshOpenState();
    const Clock::time_point now = Clock::now();
    while (!tx_.empty() && state_ != State::Gone) {
        TxChunk& chunk = tx_.front();
        if (chunk.start + chunk.byteTime > now) {
            return;
        }
        if (chunk.sent == 0) {
            transcript_.bytes(chunk.start, "tx", chunk.state, chunk.baud, chunk.bytes);
        }
        // Bytes for a closed port, or at a speed the host does not listen at, never arrive.
        std::string lost;
        if (!line_.hostOpen()) {
            lost = "port closed";
        } else if (line_.hostBaud() != chunk.baud) {
            lost = "host at " + std::to_string(line_.hostBaud()) + " baud";
        }
        if (!lost.empty()) {
            transcript_.event(
                now, chunk.state,
                "tx lost (" + std::to_string(chunk.bytes.size() - chunk.sent) + " bytes): " + lost);
            tx_.pop_front();
            continue;
        }
        std::size_t due = chunk.bytes.size();
        if (chunk.byteTime.count() > 0) {
            due = std::min<std::size_t>(
                due, static_cast<std::size_t>((now - chunk.start) / chunk.byteTime));
        }
        if (due > chunk.sent) {
            const std::size_t written =
                line_.write(std::span(chunk.bytes).subspan(chunk.sent, due - chunk.sent));
            if (written < due - chunk.sent) {
                transcript_.event(now, chunk.state, "tx lost: host does not read");
                tx_.pop_front();
                continue;
            }
            chunk.sent = due;
            if (state_ == State::PassThrough) {
                lastTraffic_ = now;
            }
        }
        if (chunk.sent < chunk.bytes.size()) {
            return;
        }
        tx_.pop_front();
    }
}

void Simulator::note(const std::string& text) {
    transcript_.event(now_, stateName(), text);
}

void Simulator::vanish() {
    state_ = State::Gone;
    note("fault: the port vanishes");
    tx_.clear();
    rx_.clear();
    line_.close();
    vanished_.store(true);
    finished_ = true;
}

std::optional<Clock::time_point> Simulator::nextWake() const {
    std::optional<Clock::time_point> wake;
    const auto earliest = [&wake](Clock::time_point t) {
        if (!wake || t < *wake) {
            wake = t;
        }
    };
    if (!rx_.empty()) {
        earliest(rx_.front().at);
    }
    if (!tx_.empty()) {
        const TxChunk& chunk = tx_.front();
        earliest(chunk.start + chunk.byteTime * static_cast<long>(chunk.sent + 1));
    }
    if (state_ == State::Restart) {
        earliest(restartAt_);
    }
    if (state_ == State::PassThrough && config_.passThroughIdle.count() > 0) {
        earliest(lastTraffic_ + config_.passThroughIdle);
    }
    if (state_ == State::PassThrough && block_.reportPending() && line_.hostOpen()) {
        earliest(now_ + kReportPoll);
    }
    if (line_.hostOpen()) {
        earliest(now_ + kTick);
    }
    return wake;
}

void Simulator::waitUntil(std::optional<Clock::time_point> wake) {
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wake) {
        const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        timeoutPtr = &timeout;
    }
    pollfd fds[3] = {
        {line_.masterFd(), POLLIN, 0}, {line_.watchFd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (ppoll(fds, 3, timeoutPtr, nullptr) > 0 && (fds[2].revents & POLLIN)) {
        char drain[16];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
    }
}

}  // namespace qor::sim
