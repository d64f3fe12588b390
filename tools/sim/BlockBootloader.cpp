#include "tools/sim/BlockBootloader.h"

#include <string>

#include "tools/sim/SimCrc.h"
#include "tools/sim/Transcript.h"

namespace qor::sim {
namespace {

constexpr std::uint8_t kLongKind = 15;
constexpr std::uint8_t kLongHeader = kLongKind << 3;
constexpr std::uint8_t kReportKind = 1;
constexpr std::uint8_t kAnnounce = 12;
constexpr std::uint8_t kFinish = 13;
constexpr std::uint8_t kWriteBlock = 14;
constexpr std::uint8_t kAccepted = 10;
constexpr std::uint8_t kRefused = 11;
constexpr std::uint32_t kMaxBlock = 1024;
// The largest frame the bootloader takes: a write-block command with a full block.
constexpr std::size_t kMaxLongData = 5 + kMaxBlock;
// A pause this long drops a partial frame.
constexpr auto kInterByteTimeout = std::chrono::milliseconds(20);
// Real-time mode: the controller's reaction time, and its restart after the update.
constexpr Micros kAnswerDelay{1000};
constexpr Micros kRestartTime{1'000'000};

std::uint8_t kindOf(std::uint8_t header) {
    return (header >> 3) & 0x0F;
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

void BlockBootloader::start() {
    reset();
    reportPending_ = report_.send;
    if (!report_.send) {
        ctx_.note("fault: no power-on report");
    }
}

void BlockBootloader::reset() {
    reportPending_ = false;
    awaitingAck_ = false;
    frame_.clear();
    frameLength_ = 0;
    discarding_ = false;
    announced_ = false;
    length_ = written_ = lastOffset_ = lastCount_ = 0;
    anyBlock_ = false;
}

void BlockBootloader::sendReport() {
    reportPending_ = false;
    std::vector<std::uint8_t> frame;
    if (report_.rawFrame) {
        frame = *report_.rawFrame;
    } else {
        frame = {static_cast<std::uint8_t>(kReportKind << 3), 0, report_.flags, report_.reserved};
        putLe16(frame, report_.cl.value_or(identity_.updateClass));
        putLe16(frame, report_.pf.value_or(identity_.platform));
        putLe16(frame, report_.pr.value_or(identity_.print));
        frame.push_back(report_.v);
        frame.push_back(report_.b);
        frame.insert(frame.end(), report_.text.begin(), report_.text.end());
        frame[1] = static_cast<std::uint8_t>(frame.size() - 2);
    }
    std::uint8_t crc = blockCrc8(frame);
    if (report_.badCrc) {
        crc ^= 0xFF;
        ctx_.note("fault: power-on report with a wrong CRC");
    }
    frame.push_back(crc);
    reportHeader_ = frame.empty() ? 0 : frame[0];
    awaitingAck_ = true;
    ctx_.note("block: power-on report");
    ctx_.send(std::move(frame), ctx_.realtime() ? kAnswerDelay : Micros{0});
}

void BlockBootloader::onByte(std::uint8_t byte, Clock::time_point at) {
    if ((!frame_.empty() || discarding_) && at - lastByteAt_ > kInterByteTimeout) {
        if (!frame_.empty()) {
            ctx_.note("block: incomplete frame dropped: " + hexBytes(frame_));
        }
        frame_.clear();
        frameLength_ = 0;
        discarding_ = false;
    }
    lastByteAt_ = at;
    if (discarding_) {
        return;
    }
    frame_.push_back(byte);
    const bool isLong = kindOf(frame_[0]) == kLongKind;
    if (frameLength_ == 0) {
        if (!isLong && frame_.size() == 2) {
            frameLength_ = frame_[1] + 3u;
        } else if (isLong && frame_.size() == 3) {
            const std::size_t dataLength = frame_[1] | frame_[2] << 8;
            if (dataLength > kMaxLongData) {
                ctx_.note("block: frame too long for the bootloader, skipped");
                frame_.clear();
                discarding_ = true;
                return;
            }
            frameLength_ = dataLength + 5;
        }
    }
    if (frameLength_ != 0 && frame_.size() == frameLength_) {
        handleFrame();
        frame_.clear();
        frameLength_ = 0;
    }
}

void BlockBootloader::handleFrame() {
    const std::size_t n = frame_.size();
    if (kindOf(frame_[0]) != kLongKind) {
        if (blockCrc8(std::span(frame_).first(n - 1)) != frame_[n - 1]) {
            ctx_.note("block: short frame with a wrong CRC ignored");
        } else if (awaitingAck_ && n == 3 && frame_[0] == reportHeader_) {
            awaitingAck_ = false;
            ctx_.note("block: power-on report acknowledged");
        } else {
            ctx_.note("block: short frame ignored");
        }
        return;
    }
    const std::uint16_t crc = crc16X25(std::span(frame_).first(n - 2));
    if ((frame_[n - 2] | frame_[n - 1] << 8) != crc) {
        ctx_.note("block: long frame with a wrong CRC ignored");
        return;
    }
    if (reportPending_ || awaitingAck_) {
        ctx_.note("block: command before the power-on report was acknowledged, ignored");
        return;
    }
    if (n == 5) {
        ctx_.note("block: long frame without a command ignored");
        return;
    }
    handleCommand(std::vector<std::uint8_t>(frame_.begin() + 3, frame_.end() - 2));
}

const BlockFault* BlockBootloader::faultFor(BlockFaultKind kind, std::uint8_t command,
                                            std::uint32_t attempt) const {
    for (const BlockFault& fault : faults_) {
        if (fault.kind == kind && fault.command == command && fault.attempt == attempt) {
            return &fault;
        }
    }
    return nullptr;
}

void BlockBootloader::handleCommand(const std::vector<std::uint8_t>& data) {
    const std::uint8_t command = data[0];
    const std::uint32_t attempt = ++attempts_[command];
    Micros delay = ctx_.realtime() ? kAnswerDelay : Micros{0};
    if (const BlockFault* late = faultFor(BlockFaultKind::LateAnswer, command, attempt)) {
        ctx_.note("fault: late answer");
        delay += std::chrono::milliseconds(late->parameter);
    }
    if (const BlockFault* status = faultFor(BlockFaultKind::Status, command, attempt)) {
        ctx_.note("fault: status " + std::to_string(status->parameter));
        answer(command, static_cast<std::uint8_t>(status->parameter), delay);
        return;
    }
    std::uint8_t result = kRefused;
    bool restart = false;
    switch (command) {
        case kAnnounce:
            if (data.size() == 9) {
                announced_ = true;
                length_ = le32(&data[5]);
                written_ = lastOffset_ = lastCount_ = 0;
                anyBlock_ = false;
                ctx_.note("block: image of " + std::to_string(length_) + " bytes announced (size " +
                          std::to_string(le32(&data[1])) + ")");
                result = kAccepted;
            }
            break;
        case kWriteBlock: {
            if (data.size() < 5 || !announced_) {
                break;
            }
            const std::uint32_t offset = le32(&data[1]);
            const auto count = static_cast<std::uint32_t>(data.size() - 5);
            const bool next = offset == written_ && count <= length_ - written_;
            // A block sent again because its answer was late is written again.
            const bool again = anyBlock_ && offset == lastOffset_ && count == lastCount_;
            if (count > kMaxBlock || !(next || again)) {
                ctx_.note("block: block at offset " + std::to_string(offset) + " refused");
                break;
            }
            if (next) {
                written_ += count;
            }
            lastOffset_ = offset;
            lastCount_ = count;
            anyBlock_ = true;
            if (ctx_.realtime()) {
                // Erase each page the block starts, then write its words.
                const std::uint32_t firstPage = (offset + kFlashPageSize - 1) / kFlashPageSize;
                const std::uint32_t endPage =
                    (offset + count + kFlashPageSize - 1) / kFlashPageSize;
                delay += flashWriteTime(count) +
                         kPageEraseTime * static_cast<std::int64_t>(endPage - firstPage);
            }
            result = kAccepted;
            break;
        }
        case kFinish:
            if (data.size() == 1 && announced_ && written_ == length_) {
                result = kAccepted;
                restart = true;
            }
            break;
        default:
            break;
    }
    answer(command, result, delay);
    if (restart) {
        ModuleFirmware updated = identity_.firmware;
        updated.fwClass = identity_.classAfterUpdate.value_or(identity_.updateClass);
        updated.version = identity_.versionAfterUpdate.value_or(kBlockImageVersion);
        ctx_.note("block: image complete, module restarts into it");
        reset();
        ctx_.restartModule(updated, ctx_.realtime() ? kRestartTime : Micros{0});
    }
}

void BlockBootloader::answer(std::uint8_t command, std::uint8_t status, Micros after) {
    std::vector<std::uint8_t> frame{kLongHeader, 1, 0, status};
    std::uint16_t crc = crc16X25(frame);
    if (faultFor(BlockFaultKind::BadCrc, command, attempts_[command]) != nullptr) {
        ctx_.note("fault: answer with a wrong CRC");
        crc ^= 0xFFFF;
    }
    putLe16(frame, crc);
    ctx_.send(std::move(frame), after);
}

}  // namespace qor::sim
