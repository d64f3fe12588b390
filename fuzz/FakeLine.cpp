#include "fuzz/FakeLine.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace qor::fuzz {
namespace {

constexpr platform::SerialHandle kHandle = 3;

struct Line {
    std::deque<std::vector<std::uint8_t>> waiting;  // pieces not yet sent
    std::deque<std::uint8_t> input;                 // sent, not yet read
    bool piecePerWrite = false;
    std::size_t written = 0;
    std::uint32_t now = 0;  // virtual milliseconds

    void release() {
        if (!waiting.empty()) {
            input.insert(input.end(), waiting.front().begin(), waiting.front().end());
            waiting.pop_front();
        }
    }

    std::uint32_t take(void* data, std::uint32_t count) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, input.size()));
        std::copy_n(input.begin(), n, static_cast<std::uint8_t*>(data));
        input.erase(input.begin(), input.begin() + n);
        return n;
    }
};

Line& line() {
    static Line instance;
    return instance;
}

}  // namespace

void resetLine(std::vector<std::vector<std::uint8_t>> pieces, bool piecePerWrite) {
    Line& l = line();
    l.waiting.assign(pieces.begin(), pieces.end());
    l.input.clear();
    l.piecePerWrite = piecePerWrite;
    l.written = 0;
    if (!piecePerWrite) {
        while (!l.waiting.empty()) {
            l.release();
        }
    }
}

std::vector<std::vector<std::uint8_t>> lengthPrefixedPieces(std::span<const std::uint8_t> data) {
    std::vector<std::vector<std::uint8_t>> pieces;
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t length = std::min<std::size_t>(data[at], data.size() - at - 1);
        pieces.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                            data.begin() + static_cast<std::ptrdiff_t>(at + 1 + length));
        at += 1 + length;
    }
    return pieces;
}

bool lineDrained() {
    return line().waiting.empty() && line().input.empty();
}

std::size_t bytesLeft() {
    std::size_t left = line().input.size();
    for (const auto& piece : line().waiting) {
        left += piece.size();
    }
    return left;
}

std::size_t bytesWritten() {
    return line().written;
}

}  // namespace qor::fuzz

namespace qor::platform {

SerialHandle serialOpen(const std::string& name, std::int32_t) {
    return name.empty() ? kInvalidSerialHandle : fuzz::kHandle;
}

bool serialClearError(SerialHandle handle) {
    return handle == fuzz::kHandle;
}

bool serialPurge(SerialHandle handle) {
    fuzz::line().input.clear();
    return handle == fuzz::kHandle;
}

bool serialWrite(SerialHandle handle, const void*, std::uint32_t count, std::uint32_t& written) {
    written = 0;
    if (handle != fuzz::kHandle) {
        return false;
    }
    written = count;
    fuzz::line().written += count;
    if (fuzz::line().piecePerWrite) {
        fuzz::line().release();
    }
    return true;
}

// Like the real port: a read that cannot be filled returns what there is after its time-out.
bool serialRead(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t& received) {
    received = 0;
    if (handle != fuzz::kHandle) {
        return false;
    }
    received = fuzz::line().take(data, count);
    if (received < count) {
        fuzz::line().now += 200 + count;
    }
    return true;
}

bool serialReadSome(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t timeoutMs,
                    std::uint32_t& received) {
    received = 0;
    if (handle != fuzz::kHandle) {
        return false;
    }
    received = fuzz::line().take(data, count);
    if (received == 0) {
        fuzz::line().now += timeoutMs;
    }
    return true;
}

void serialClose(SerialHandle) {}

std::uint32_t tickCount() {
    return fuzz::line().now;
}

void sleepMs(std::uint32_t milliseconds) {
    fuzz::line().now += milliseconds;
}

std::tm localTimeNow() {
    return std::tm{};
}

}  // namespace qor::platform
