#include "tools/sim/LoggerLink.h"

#include <algorithm>
#include <string>
#include <utility>

#include "tools/sim/SimCrc.h"
#include "tools/sim/Transcript.h"

namespace qor::sim {
namespace {

constexpr std::size_t kFrameSize = 8;
// A pause this long between bytes ends a frame in progress: what came so far was too short.
constexpr auto kInterByteTimeout = std::chrono::milliseconds(10);
// Time the logger's controller takes to answer, in real-time mode.
constexpr Micros kAnswerDelay{2000};
constexpr std::uint8_t kExceptionBit = 0x20;
constexpr std::uint8_t kGarbageByte = 0xA5;

std::uint8_t lo(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t hi(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}

bool allZero(const std::uint8_t* bytes, std::size_t n) {
    return std::all_of(bytes, bytes + n, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

void LoggerLink::onByte(std::uint8_t byte, Clock::time_point at) {
    if (!frame_.empty() && at - lastByteAt_ > kInterByteTimeout) {
        ctx_.note("incomplete frame ignored: " + hexBytes(frame_));
        frame_.clear();
    }
    lastByteAt_ = at;
    frame_.push_back(byte);
    if (frame_.size() == kFrameSize) {
        handleFrame();
        frame_.clear();
    }
}

void LoggerLink::onNoise() {
    if (!frame_.empty()) {
        ctx_.note("frame broken by line noise: " + hexBytes(frame_));
        frame_.clear();
    }
}

bool LoggerLink::takePassThroughRequest() {
    return std::exchange(passThroughRequested_, false);
}

void LoggerLink::handleFrame() {
    const std::uint8_t* f = frame_.data();
    if (crc8Maxim({f, 7}) != f[7]) {
        ctx_.note("frame with a wrong CRC ignored");
        return;
    }
    if (allZero(f, kFrameSize)) {
        ctx_.note("reset frame");
        return;
    }
    auto answer = answerFor(f);
    if (!answer) {
        ctx_.note("frame not understood, ignored");
        return;
    }
    Attempt attempt{static_cast<std::uint8_t>(f[0] & 0x7F), f[2], 0, 0};
    attempt.ofCode = ++attemptsByCode_[attempt.code];
    if (attempt.code == 3) {
        attempt.ofSelector = ++attemptsBySelector_[attempt.selector];
    }
    sendAnswer(std::move(*answer), attempt);
}

std::optional<std::vector<std::uint8_t>> LoggerLink::answerFor(const std::uint8_t* f) const {
    if ((f[0] & 0x80) == 0) {
        return std::nullopt;
    }
    const std::uint8_t code = f[0] & 0x7F;
    // Only the frames the logger knows: other parameter bytes make a frame it does not understand.
    switch (code) {
        case 1:
            if (!allZero(f + 1, 6)) {
                return std::nullopt;
            }
            return std::vector<std::uint8_t>{f[0],
                                             0,
                                             hi(identity_.loggerClass),
                                             lo(identity_.loggerClass),
                                             hi(identity_.loggerVersion),
                                             lo(identity_.loggerVersion),
                                             0};
        case 2:
            if (f[1] != 0x30 || !allZero(f + 2, 5)) {
                return std::nullopt;
            }
            return std::vector<std::uint8_t>{f[0], 0, 0, 0, 0, 0, 0};
        case 3: {
            if (f[1] != 0x30 || !allZero(f + 3, 4)) {
                return std::nullopt;
            }
            const ModuleFirmware& fw = identity_.firmware;
            switch (f[2]) {
                case 0:
                    return std::vector<std::uint8_t>{f[0],           lo(fw.fwClass), hi(fw.fwClass),
                                                     lo(fw.version), hi(fw.version), lo(fw.print),
                                                     hi(fw.print)};
                case 1:
                    return std::vector<std::uint8_t>{
                        f[0], lo(fw.platform), hi(fw.platform), 0, 0, 0, 0};
                case 2:
                    return std::vector<std::uint8_t>{f[0],
                                                     lo(identity_.updateClass),
                                                     hi(identity_.updateClass),
                                                     lo(identity_.platform),
                                                     hi(identity_.platform),
                                                     lo(identity_.print),
                                                     hi(identity_.print)};
                default:
                    return std::nullopt;
            }
        }
        default:
            return std::nullopt;
    }
}

const LinkFault* LoggerLink::faultFor(LinkFaultKind kind, const Attempt& attempt) const {
    for (const LinkFault& fault : faults_) {
        if (fault.kind != kind || fault.command.code != attempt.code) {
            continue;
        }
        std::uint32_t count = attempt.ofCode;
        if (fault.command.selector) {
            if (*fault.command.selector != attempt.selector) {
                continue;
            }
            count = attempt.ofSelector;
        }
        if (fault.fromAttemptOn ? count >= fault.attempt : count == fault.attempt) {
            return &fault;
        }
    }
    return nullptr;
}

void LoggerLink::sendAnswer(std::vector<std::uint8_t> answer, const Attempt& attempt) {
    if (faultFor(LinkFaultKind::NoAnswer, attempt) != nullptr) {
        ctx_.note("fault: no answer");
        return;
    }
    if (faultFor(LinkFaultKind::Exception, attempt) != nullptr) {
        ctx_.note("fault: exception bit");
        answer[0] |= kExceptionBit;
    }
    // A logger that reports an exception has not carried the command out.
    const bool carriedOut = (answer[0] & kExceptionBit) == 0;
    answer.push_back(crc8Maxim(answer));
    if (faultFor(LinkFaultKind::WrongCrc, attempt) != nullptr) {
        ctx_.note("fault: wrong CRC");
        answer[7] ^= 0xFF;
    }
    const Micros delay = ctx_.realtime() ? kAnswerDelay : Micros{0};
    if (const LinkFault* garbage = faultFor(LinkFaultKind::Garbage, attempt)) {
        ctx_.note("fault: garbage before the answer");
        ctx_.send(std::vector<std::uint8_t>(garbage->parameter, kGarbageByte), delay);
    }
    if (const LinkFault* late = faultFor(LinkFaultKind::LateLastByte, attempt)) {
        ctx_.note("fault: last byte late");
        const std::uint8_t last = answer.back();
        answer.pop_back();
        ctx_.send(std::move(answer), delay);
        ctx_.send({last}, delay + std::chrono::milliseconds(late->parameter));
    } else {
        ctx_.send(std::move(answer), delay);
    }
    ++answers_;
    if (attempt.code == 2 && carriedOut) {
        passThroughRequested_ = true;
    }
}

}  // namespace qor::sim
