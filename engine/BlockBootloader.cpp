// Transfer of a kind-4 image: the system writes it itself to the radio module's block
// bootloader, through the logger's pass-through at 57600 baud, in variable-length frames.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalogue/Catalogue.h"
#include "engine/BlockCrc.h"
#include "engine/Exceptions.h"
#include "engine/KECommThread.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace qor {
namespace {

constexpr std::int32_t kBootloaderBaud = 57600;

// Frame kind in bits 3 to 6 of the header; kind 15 has a 16-bit length and a CRC-16.
constexpr std::uint8_t kLongKind = 15;
constexpr std::uint8_t kPowerOnKind = 1;
constexpr std::uint8_t kCommandHeader = kLongKind << 3;
constexpr std::int32_t kLongOverhead = 5;   // header, 16-bit length, CRC-16
constexpr std::int32_t kShortOverhead = 3;  // header, 8-bit length, CRC-8
constexpr auto kBufferBytes = static_cast<std::int32_t>(TCommThread::kBufferSize);
// A long frame is cut to what the transmit buffer holds (1496 data bytes, not 1500).
constexpr std::int32_t kLongDataLimit = kBufferBytes - kLongOverhead;
constexpr std::int32_t kShortDataLimit = 100;
// More than any frame can be: the completeness test fails until a header has been read.
constexpr std::int32_t kLengthNotKnown = 10000;

constexpr std::uint8_t kAnnounceCommand = 12;
constexpr std::uint8_t kFinishCommand = 13;
constexpr std::uint8_t kWriteCommand = 14;
constexpr std::uint8_t kAccepted = 10;
constexpr std::uint8_t kRefused = 11;

constexpr std::uint32_t kBlockSize = 1024;
constexpr std::uint32_t kWriteHeaderLength = 5;  // command and 32-bit offset
constexpr int kBlockAttempts = 3;
constexpr std::uint32_t kAnswerDeadlineMs = 10000;
constexpr std::uint32_t kFramePauseMs = 5;
constexpr std::uint32_t kIdlePassMs = 1;

constexpr std::int32_t kPowerOnMinLength = 10;
constexpr std::int32_t kPowerOnValuesLength = 12;
constexpr std::uint8_t kPowerOnFlag = 0x01;

constexpr std::uint8_t frameKind(std::uint8_t header) {
    return static_cast<std::uint8_t>((header >> 3) & 0x0Fu);
}

// Writes value least significant byte first.
void putLong(std::uint8_t* at, std::uint32_t value) {
    splitLongWord(value, at[3], at[2], at[1], at[0]);
}

void putWord(std::uint8_t* at, std::uint16_t value) {
    splitWord(value, at[1], at[0]);
}

std::uint16_t wordAt(const std::uint8_t* at) {
    return makeWord(at[1], at[0]);
}

// The two report lines of a power-on report of `total` bytes (total >= 10).
std::string powerOnBytesLine(const std::uint8_t* frame, std::int32_t total) {
    std::string line = "POR" + std::to_string(total) + ": ";
    for (std::int32_t i = 0; i < total; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", frame[i]);
        line += hex;
    }
    return line;
}

std::string powerOnValuesLine(const std::uint8_t* frame, std::int32_t total) {
    // Bytes 12 up to the one before the check value: none in a frame of 12 or 13 bytes.
    const std::int32_t textLength = std::max(total - 1 - kPowerOnValuesLength, 0);
    const std::string text(reinterpret_cast<const char*>(frame) + kPowerOnValuesLength,
                           static_cast<std::size_t>(textLength));
    return "CL" + std::to_string(wordAt(frame + 4)) + " PF" + std::to_string(wordAt(frame + 6)) +
           " PR" + std::to_string(wordAt(frame + 8)) + " V" + std::to_string(frame[10]) + " B" +
           std::to_string(frame[11]) + " [" + text + "]";
}

// The status of a long answer frame. One without data has no status byte: its byte 3 is a
// CRC byte and must not pass for an acceptance.
void judgeAnswer(const std::uint8_t* frame, std::int32_t dataLength) {
    const int status = dataLength > 0 ? frame[3] : -1;
    if (status == kRefused) {
        throw EQor(cEX_KE_NAK);
    }
    if (status != kAccepted) {
        throw EQor(cEX_KE_ANSWER);
    }
}

}  // namespace

void TKECommThread::updateByBlockBootloader(std::int32_t index) {
    TBl3FileHeader header;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    // An entry that announces image bytes it does not have cannot be sent either.
    if (!getFirmware(index, header, size, length, data) || (length != 0 && data == nullptr)) {
        throw EQor(cEX_NO_UPDATE);
    }

    switchToPassThrough();
    reopenPort(kBootloaderBaud);
    FRxPos = 0;
    powerOnHandshake();
    announceImage(size, length);

    std::uint32_t offset = 0;
    std::uint32_t remaining = length;
    do {
        const std::uint32_t count = std::min(remaining, kBlockSize);
        writeImageBlock(offset, count, count != 0 ? data + offset : nullptr);
        offset += count;
        remaining -= count;
        setProgress(static_cast<std::int32_t>(offset), static_cast<std::int32_t>(length));
    } while (remaining != 0);

    finishImage();
}

void TKECommThread::sendBlockFrame(std::uint8_t header, std::int32_t dataLength) {
    FTxBuffer[0] = header;
    std::int32_t frameLength = 0;
    if (frameKind(header) == kLongKind) {
        const std::int32_t length = std::clamp(dataLength, 0, kLongDataLimit);
        putWord(FTxBuffer + 1, static_cast<std::uint16_t>(length));
        const auto crcAt = static_cast<std::size_t>(length + 3);
        putWord(FTxBuffer + crcAt, blockCrc16(FTxBuffer, crcAt));
        frameLength = length + kLongOverhead;
    } else {
        const std::int32_t length = std::clamp(dataLength, 0, kShortDataLimit);
        FTxBuffer[1] = static_cast<std::uint8_t>(length);
        const auto crcAt = static_cast<std::size_t>(length + 2);
        FTxBuffer[crcAt] = blockCrc8(FTxBuffer, crcAt);
        frameLength = length + kShortOverhead;
    }
    std::uint32_t written = 0;
    if (!platform::serialWrite(FhPort, FTxBuffer, static_cast<std::uint32_t>(frameLength),
                               written)) {
        throw EQor(cEX_PORT_IO, "WriteFile");
    }
    if (written != static_cast<std::uint32_t>(frameLength)) {
        throw EQor(cEX_PORT_IO, "WriteFile <> cnt");
    }
    platform::sleepMs(kFramePauseMs);
}

void TKECommThread::startAnswerTimer() {
    FRxTimeout = platform::tickCount();
}

void TKECommThread::receiveBlockFrame() {
    if (!tryReceiveBlockFrame()) {
        throw EQor(cEX_KE_TIMEOUT);
    }
}

bool TKECommThread::tryReceiveBlockFrame() {
    // One blocking read into the receive buffer at FRxPos. A failing port simply delivers
    // nothing until the deadline; as its reads return at once, it is paced here instead.
    const auto readMore = [this](std::int32_t count) {
        std::uint32_t received = 0;
        if (!platform::serialRead(FhPort, FRxBuffer + FRxPos, static_cast<std::uint32_t>(count),
                                  received)) {
            platform::sleepMs(kIdlePassMs);
        }
        FRxPos += static_cast<std::int32_t>(received);
    };
    FRxLength = kLengthNotKnown;
    for (;;) {
        if (cancelFlag.load(std::memory_order_relaxed)) {
            throw EQor(cEX_CANCEL);
        }
        // Past the header nothing more is asked for in this call (see below).
        const bool idlePass = FRxPos > 2;
        if (FRxPos == 0) {
            readMore(2);
        } else if (FRxPos == 1) {
            readMore(1);
        }
        if (FRxPos == 2) {
            bool lengthKnown = false;
            if (frameKind(FRxBuffer[0]) == kLongKind) {
                readMore(1);
                if (FRxPos == 3) {
                    FRxDataLength = wordAt(FRxBuffer + 1);
                    FRxLength = FRxDataLength + kLongOverhead;
                    lengthKnown = true;
                }
            } else {
                FRxDataLength = FRxBuffer[1];
                FRxLength = FRxDataLength + kShortOverhead;
                lengthKnown = true;
            }
            if (lengthKnown) {
                // A frame longer than the receive buffer cannot be checked, so it cannot be
                // valid: it counts as a damaged frame before a byte of it is stored.
                if (FRxLength > kBufferBytes) {
                    throw EQor(cEX_KE_CRC);
                }
                readMore(FRxLength - FRxPos);
            }
        }
        if (FRxPos >= FRxLength) {
            bool matches = false;
            if (frameKind(FRxBuffer[0]) == kLongKind) {
                const auto crcAt = static_cast<std::size_t>(FRxLength - 2);
                matches = blockCrc16(FRxBuffer, crcAt) == wordAt(FRxBuffer + crcAt);
            } else {
                const auto crcAt = static_cast<std::size_t>(FRxLength - 1);
                matches = blockCrc8(FRxBuffer, crcAt) == FRxBuffer[crcAt];
            }
            if (!matches) {
                throw EQor(cEX_KE_CRC);
            }
            FRxPos = 0;
            return true;
        }
        if (platform::tickCount() - FRxTimeout > kAnswerDeadlineMs) {
            return false;
        }
        // A partial frame whose rest is no longer asked for: no read paces this pass, so wait
        // for the deadline without spinning.
        if (idlePass) {
            platform::sleepMs(kIdlePassMs);
        }
    }
}

void TKECommThread::powerOnHandshake() {
    startAnswerTimer();
    receiveBlockFrame();
    const std::int32_t total = FRxLength;
    if (frameKind(FRxBuffer[0]) != kPowerOnKind || total < kPowerOnMinLength ||
        (FRxBuffer[2] & kPowerOnFlag) == 0) {
        throw EQor(cEX_KE_POR);
    }
    setTextSlot(0, powerOnBytesLine(FRxBuffer, total));
    post(kNotifyText, 0);
    if (total >= kPowerOnValuesLength) {
        setTextSlot(1, powerOnValuesLine(FRxBuffer, total));
        post(kNotifyText, 1);
    }
    sendBlockFrame(FRxBuffer[0], 0);
}

void TKECommThread::announceImage(std::uint32_t size, std::uint32_t length) {
    FTxBuffer[3] = kAnnounceCommand;
    putLong(FTxBuffer + 4, size);
    putLong(FTxBuffer + 8, length);
    sendBlockFrame(kCommandHeader, 9);
    awaitBlockAnswer();
}

void TKECommThread::writeImageBlock(std::uint32_t offset, std::uint32_t count,
                                    const std::uint8_t* bytes) {
    // Never more than the frame can carry, whatever the caller asks for.
    count = std::min(count, static_cast<std::uint32_t>(kLongDataLimit) - kWriteHeaderLength);
    FTxBuffer[3] = kWriteCommand;
    putLong(FTxBuffer + 4, offset);
    if (count != 0) {
        std::memcpy(FTxBuffer + 3 + kWriteHeaderLength, bytes, count);
    }
    for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
        // The frame is completed again from the unchanged data: same offset, same bytes.
        sendBlockFrame(kCommandHeader, static_cast<std::int32_t>(count + kWriteHeaderLength));
        startAnswerTimer();
        while (tryReceiveBlockFrame()) {
            if (frameKind(FRxBuffer[0]) == kLongKind) {
                judgeAnswer(FRxBuffer, FRxDataLength);
                return;
            }
        }
    }
    throw EQor(cEX_KE_TIMEOUT);
}

void TKECommThread::finishImage() {
    FTxBuffer[3] = kFinishCommand;
    sendBlockFrame(kCommandHeader, 1);
    awaitBlockAnswer();
}

void TKECommThread::awaitBlockAnswer() {
    startAnswerTimer();
    do {
        receiveBlockFrame();
    } while (frameKind(FRxBuffer[0]) != kLongKind);
    judgeAnswer(FRxBuffer, FRxDataLength);
}

}  // namespace qor
