#include "tools/dfu/DfuClient.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <deque>
#include <optional>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "tools/dfu/Crc32.h"
#include "tools/dfu/DfuSystem.h"
#include "tools/dfu/Slip.h"

namespace qor::dfu {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum Op : std::uint8_t {
    kCreate = 0x01,
    kSetPrn = 0x02,
    kCalcChecksum = 0x03,
    kExecute = 0x04,
    kSelect = 0x06,
    kGetMtu = 0x07,
    kWrite = 0x08,
    kPing = 0x09,
};
constexpr std::uint8_t kResponse = 0x60;
constexpr std::uint8_t kSuccess = 0x01;
constexpr std::uint8_t kNotPermitted = 0x08;
constexpr std::uint8_t kExtendedError = 0x0B;
constexpr std::uint8_t kCommandObject = 1;
constexpr std::uint8_t kDataObject = 2;

const char* opName(std::uint8_t op) {
    switch (op) {
        case kCreate:
            return "create object";
        case kSetPrn:
            return "set receipt notification";
        case kCalcChecksum:
            return "calculate checksum";
        case kExecute:
            return "execute object";
        case kSelect:
            return "select object";
        case kGetMtu:
            return "get MTU";
        case kPing:
            return "ping";
        default:
            return "request";
    }
}

const char* resultName(std::uint8_t code) {
    switch (code) {
        case 0x00:
            return "invalid opcode";
        case 0x01:
            return "success";
        case 0x02:
            return "opcode not supported";
        case 0x03:
            return "invalid parameter";
        case 0x04:
            return "insufficient resources";
        case 0x05:
            return "invalid object";
        case 0x07:
            return "unsupported type";
        case 0x08:
            return "operation not permitted";
        case 0x0A:
            return "operation failed";
        case 0x0B:
            return "extended error";
        default:
            return "unknown result code";
    }
}

const char* extendedErrorName(std::uint8_t code) {
    static constexpr std::array<const char*, 14> kNames = {
        "no error",
        "invalid error code",
        "wrong command format",
        "unknown command",
        "init command invalid",
        "firmware version failure",
        "hardware version failure",
        "SoftDevice version failure",
        "signature missing",
        "wrong hash type",
        "hash failed",
        "wrong signature type",
        "verification failed",
        "insufficient space",
    };
    return code < kNames.size() ? kNames[code] : "unknown extended error";
}

std::string hexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

void putU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

std::uint32_t getU32(std::span<const std::uint8_t> p, std::size_t at) {
    return std::uint32_t{p[at]} | (std::uint32_t{p[at + 1]} << 8) |
           (std::uint32_t{p[at + 2]} << 16) | (std::uint32_t{p[at + 3]} << 24);
}

// Ends the transfer; its text follows "Error: " in the one error line.
class DfuFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Which part of the transfer is running: it names the failure.
enum class Phase { Ping, Setup, Init, Firmware };

struct ObjectState {
    std::uint32_t maxSize = 0;
    std::uint32_t offset = 0;
    std::uint32_t crc = 0;
};

// A response as the bootloader sent it: the request's opcode, the result code, what follows.
struct Response {
    std::uint8_t op = 0;
    std::uint8_t result = 0;
    Bytes payload;  // after the result code; for an extended error its code
    bool ok() const { return result == kSuccess; }
};

// What follows the result code of a successful response to op; nothing for opcodes this client
// never sends.
std::optional<std::size_t> successPayloadSize(std::uint8_t op) {
    switch (op) {
        case kCreate:
        case kSetPrn:
        case kExecute:
            return 0;
        case kPing:
            return 1;
        case kGetMtu:
            return 2;
        case kCalcChecksum:
            return 8;
        case kSelect:
            return 12;
        default:
            return std::nullopt;
    }
}

// Whether a packet starts like a response. The bootloader sends nothing else, so a first byte
// with one bit flipped on the line still marks one: what follows it arrived as sent.
bool responseMarker(const Bytes& packet) {
    return !packet.empty() && std::popcount(static_cast<unsigned>(packet[0] ^ kResponse)) <= 1;
}

// A response carries no checksum of its own; one of the wrong length for its opcode and result
// was damaged or merged with another packet on the way and is not one.
std::optional<Response> parseResponse(const Bytes& packet) {
    if (packet.size() < 3 || !responseMarker(packet)) {
        return std::nullopt;
    }
    const auto size = successPayloadSize(packet[1]);
    if (!size) {
        return std::nullopt;
    }
    const std::uint8_t result = packet[2];
    const std::size_t expected = result == kSuccess ? *size : (result == kExtendedError ? 1 : 0);
    if (packet.size() != 3 + expected) {
        return std::nullopt;
    }
    return Response{packet[1], result, Bytes(packet.begin() + 3, packet.end())};
}

// Milliseconds from now to a tick count (negative once passed); tick counts wrap.
std::int32_t msUntil(std::uint32_t tick) {
    return static_cast<std::int32_t>(tick - platform::tickCount());
}

std::uint32_t later(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) >= 0 ? a : b;
}

// A refusal that comes three times in a row is the bootloader's answer; a single one may stem
// from a request damaged on the line, or merged with the one before it when that one's END was
// lost.
class Refusals {
  public:
    // Whether this refusal is the third of its kind in a row.
    bool meant(const Response& response) {
        const bool same = count_ > 0 && response.op == last_.op &&
                          response.result == last_.result && response.payload == last_.payload;
        count_ = same ? count_ + 1 : 1;
        last_ = response;
        return count_ >= 3;
    }
    void clear() { count_ = 0; }

  private:
    Response last_;
    int count_ = 0;
};

// One open port: SLIP-framed requests out, responses in.
class Link {
  public:
    Link(platform::SerialHandle handle, const DfuOptions& options, std::uint32_t startTick)
        : handle_(handle), options_(options), start_(startTick) {}

    void setPhase(Phase phase) { phase_ = phase; }

    [[noreturn]] void fail() const {
        switch (phase_) {
            case Phase::Ping:
                throw DfuFailure("No ping response after opening COM port");
            case Phase::Setup:
                throw DfuFailure("Bootloader stopped answering after the ping");
            case Phase::Init:
                throw DfuFailure("Failed to send init packet");
            case Phase::Firmware:
                throw DfuFailure("Failed to send firmware");
        }
        throw DfuFailure("Transfer failed");
    }

    [[noreturn]] void refused(const Response& response) const {
        std::string text = std::string("Bootloader refused ") + opName(response.op);
        if (phase_ == Phase::Init) {
            text += " while sending the init packet";
        } else if (phase_ == Phase::Firmware) {
            text += " while sending firmware";
        }
        text +=
            ": result code " + hexByte(response.result) + " (" + resultName(response.result) + ")";
        if (response.result == kExtendedError && !response.payload.empty()) {
            text += ", extended error " + hexByte(response.payload[0]) + " (" +
                    extendedErrorName(response.payload[0]) + ")";
        }
        throw DfuFailure(text);
    }

    // The transfer ends with its error line while the program that runs the tool still waits.
    void checkTime() const {
        if (platform::tickCount() - start_ >= options_.transferTimeLimitMs) {
            fail();
        }
    }

    // Sends already framed bytes in one write, so the line never idles between packets.
    void send(const Bytes& wire) {
        std::uint32_t written = 0;
        const bool ok = platform::serialWrite(handle_, wire.data(),
                                              static_cast<std::uint32_t>(wire.size()), written);
        if (!ok || written != wire.size()) {
            fail();
        }
        // The driver may still hold what was written: nothing answers it before it left.
        lineFreeAt_ = later(lineFreeAt_, platform::tickCount()) + wireMs(wire.size());
        sent_ += wire.size();
        sentSinceHeard_ += wire.size();
    }

    // Bytes sent so far: a position in what went out.
    std::uint64_t sent() const { return sent_; }

    // When all that was sent will have left the line, and when the bytes up to a position will
    // have: estimated from the line speed, corrected by the answers that came.
    std::uint32_t lineFreeAt() const { return later(lineFreeAt_, platform::tickCount()); }
    std::uint32_t freeAt(std::uint64_t position) const {
        return lineFreeAt() - wireMs(sent_ - position);
    }

    // An answer to the request that ended at `position` came: everything up to it has left.
    // (A port faster than its baud rate says, such as a pseudo-terminal, would otherwise have
    // the estimate run far ahead.)
    void answered(std::uint64_t position) {
        const std::uint32_t bound = platform::tickCount() + wireMs(sent_ - position);
        if (static_cast<std::int32_t>(lineFreeAt_ - bound) > 0) {
            lineFreeAt_ = bound;
        }
    }

    // The next well-formed response arriving before the deadline; stray, damaged and unknown
    // packets are dropped on the way. A deadline already passed still takes what has arrived.
    std::optional<Response> next(std::uint32_t deadline) {
        Bytes packet;
        for (;;) {
            while (decoder_.next(packet)) {
                if (responseMarker(packet)) {
                    heardAt_ = platform::tickCount();
                    sentSinceHeard_ = 0;
                }
                if (auto response = parseResponse(packet)) {
                    return response;
                }
            }
            const std::int32_t left = msUntil(deadline);
            std::array<std::uint8_t, 512> buffer{};
            std::uint32_t got = 0;
            if (!platform::serialReadSome(handle_, buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()),
                                          static_cast<std::uint32_t>(std::max(left, 0)), got)) {
                fail();
            }
            if (got == 0 && left <= 0) {
                return std::nullopt;
            }
            decoder_.feed(std::span(buffer).first(got));
        }
    }

    // The next well-formed response to op before the deadline.
    std::optional<Response> await(std::uint8_t op, std::uint32_t deadline) {
        while (auto response = next(deadline)) {
            if (response->op == op) {
                return response;
            }
        }
        return std::nullopt;
    }

    // Sends a request that does no harm when repeated, again whenever its answer does not come,
    // until one comes; nothing once the bootloader has fallen silent.
    std::optional<Response> tryExchange(std::uint8_t op, const Bytes& params = {}) {
        Bytes payload{op};
        payload.insert(payload.end(), params.begin(), params.end());
        const Bytes wire = slipEncode(payload);
        for (;;) {
            checkTime();
            send(wire);
            if (auto response = await(op, lineFreeAt() + options_.responseTimeoutMs)) {
                answered(sent_);
                return response;
            }
            if (silent()) {
                return std::nullopt;
            }
        }
    }

    // The same; a silent bootloader ends the transfer.
    Response exchange(std::uint8_t op, const Bytes& params = {}) {
        std::optional<Response> response = tryExchange(op, params);
        if (!response) {
            fail();
        }
        return *response;
    }

    // An exchange whose answer must be success: the payload after the result code.
    Bytes request(std::uint8_t op, const Bytes& params = {}) {
        Refusals refusals;
        for (;;) {
            const Response response = exchange(op, params);
            if (response.ok()) {
                return response.payload;
            }
            if (refusals.meant(response)) {
                refused(response);
            }
        }
    }

    // Nothing at all came from the bootloader for too long, the time to send what went out
    // since not counted.
    bool silent() const {
        return platform::tickCount() - heardAt_ >=
               options_.silenceLimitMs + wireMs(sentSinceHeard_);
    }
    void heardNow() { heardAt_ = platform::tickCount(); }

    void resetInput() { decoder_.reset(); }

  private:
    std::uint32_t wireMs(std::uint64_t bytes) const {
        // Ten bit times a byte: start, eight data bits, stop.
        return static_cast<std::uint32_t>((bytes * 10000u + options_.baudRate - 1) /
                                          options_.baudRate);
    }

    platform::SerialHandle handle_;
    const DfuOptions& options_;
    std::uint32_t start_;
    SlipDecoder decoder_;
    Phase phase_ = Phase::Ping;
    std::uint32_t lineFreeAt_ = platform::tickCount();
    std::uint32_t heardAt_ = platform::tickCount();
    std::uint64_t sent_ = 0;
    std::uint64_t sentSinceHeard_ = 0;
};

class PortGuard {
  public:
    explicit PortGuard(platform::SerialHandle handle) : handle_(handle) {}
    ~PortGuard() { platform::serialClose(handle_); }
    PortGuard(const PortGuard&) = delete;
    PortGuard& operator=(const PortGuard&) = delete;

  private:
    platform::SerialHandle handle_;
};

// The checksum requests in flight while an object is written. Each follows a ping with an id of
// its own, so the checksum response right after that ping's response is known to answer it,
// whatever was lost or damaged before. Offsets and CRCs count from the first byte of `data`.
class Checkpoints {
  public:
    struct Mark {
        std::uint8_t id = 0;
        std::uint32_t offset = 0;  // what the bootloader holds once the writes before it arrived
        std::uint64_t sent = 0;    // the link's position at its end
        std::uint32_t wait = 0;    // its answer is given up this long after it left the line
    };

    Checkpoints(std::span<const std::uint8_t> data, std::uint32_t start)
        : data_(data), start_(start), startCrc_(crc32(data.first(start))) {}

    void add(const Mark& mark) { marks_.push_back(mark); }
    std::size_t open() const { return marks_.size(); }
    const Mark& oldest() const { return marks_.front(); }
    const Mark& newest() const { return marks_.back(); }
    void giveUpOldest() { marks_.pop_front(); }

    // What a settled checkpoint showed: the object holds something else than was sent (write
    // after the point of damage land in the wrong place, so the object is lost), the bootloader
    // holds data[0, confirmed), or the newest checkpoint found an intact but shorter object:
    // writes at its end were lost and the rest may follow from there.
    bool broken() const { return broken_; }
    std::uint32_t confirmed() const { return confirmed_; }
    std::optional<std::uint32_t> shortAt() const { return short_; }

    // Takes one response; returns the link position of the checkpoint it answered, if any.
    std::optional<std::uint64_t> take(const Response& response) {
        if (response.op == kPing) {
            answering_.reset();
            if (response.ok()) {
                answering_ = response.payload[0];
            }
            return std::nullopt;
        }
        const std::optional<std::uint8_t> id = std::exchange(answering_, std::nullopt);
        if (response.op != kCalcChecksum || !id) {
            return std::nullopt;
        }
        const auto mark = std::ranges::find(marks_, *id, &Mark::id);
        if (mark == marks_.end()) {
            return std::nullopt;
        }
        const std::uint64_t sent = mark->sent;
        const std::uint32_t offset = response.ok() ? getU32(response.payload, 0) : 0;
        const std::uint32_t crc = response.ok() ? getU32(response.payload, 4) : 0;
        if (response.ok() && flippedOnTheWay(offset, crc, *mark)) {
            // Taken as lost: the answer went wrong, not necessarily the object.
        } else if (!response.ok() || !intact(offset, crc)) {
            broken_ = true;
        } else if (offset == mark->offset) {
            confirmed_ = offset;
            marks_.erase(marks_.begin(), mark + 1);
        } else if (mark + 1 == marks_.end() && offset < mark->offset) {
            short_ = offset;
            marks_.clear();
        } else {
            broken_ = true;
        }
        return sent;
    }

  private:
    std::uint32_t expectedCrc(std::uint32_t offset) const {
        return crc32(data_.subspan(start_, offset - start_), startCrc_);
    }

    bool intact(std::uint32_t offset, std::uint32_t crc) const {
        return offset >= start_ && offset <= data_.size() && expectedCrc(offset) == crc;
    }

    // An answer that is the expected one but for a single bit was damaged on the line: an object
    // damaged in the bootloader gives a CRC-32 that differs in about half its bits.
    bool flippedOnTheWay(std::uint32_t offset, std::uint32_t crc, const Mark& mark) const {
        const std::uint32_t expected = expectedCrc(mark.offset);
        return (offset == mark.offset && std::popcount(crc ^ expected) == 1) ||
               (crc == expected && std::popcount(offset ^ mark.offset) == 1);
    }

    std::span<const std::uint8_t> data_;
    std::uint32_t start_;
    std::uint32_t startCrc_;
    std::deque<Mark> marks_;
    std::optional<std::uint8_t> answering_;  // the id whose ping was the last response
    bool broken_ = false;
    std::uint32_t confirmed_ = 0;
    std::optional<std::uint32_t> short_;
};

// Checkpoints answered late hold up the writes of an object at most this long, with this many
// unanswered at a time: the line stays busy while an answer travels, and a damaged object
// costs little more than the bytes sent up to its damage.
constexpr std::size_t kCheckpointWindow = 2;
constexpr std::uint32_t kCheckpointSlackMs = 100;

// The transfer of one package over an open link.
class Transfer {
  public:
    Transfer(Link& link, const DfuOptions& options, const DfuClient::LineSink& sink,
             std::uint64_t total)
        : link_(link), options_(options), sink_(sink), total_(total) {}

    void connect() {
        link_.setPhase(Phase::Ping);
        link_.resetInput();
        ping();
        link_.heardNow();
        link_.setPhase(Phase::Setup);
        link_.request(kSetPrn, {0, 0});
        const Bytes mtu = agreed(kGetMtu, {});
        mtu_ = static_cast<std::uint32_t>(mtu[0] | (mtu[1] << 8));
        // A write packet, every byte escaped, plus END must fit the MTU; whole words keep the
        // bootloader's flash writes aligned.
        chunk_ = (mtu_ >= 3 ? (mtu_ - 3) / 2 : 0) & ~3u;
        if (chunk_ == 0) {
            throw DfuFailure("Bootloader reported an MTU of " + std::to_string(mtu_) +
                             " bytes, too small for a write");
        }
    }

    void sendImage(const PackageImage& image) {
        sendInitPacket(image.dat);
        sendFirmware(image.bin, image.dat);
    }

  private:
    // What writing an object ended with.
    enum class Fill { Complete, Broken };

    void sendInitPacket(const Bytes& dat) {
        link_.setPhase(Phase::Init);
        const ObjectState state = select(kCommandObject);
        if (dat.size() > state.maxSize) {
            throw DfuFailure("Init packet of " + std::to_string(dat.size()) +
                             " bytes exceeds the bootloader's command object size of " +
                             std::to_string(state.maxSize));
        }
        const auto size = static_cast<std::uint32_t>(dat.size());
        // The bootloader may still hold this very init packet from an interrupted transfer.
        bool held = state.offset == size && state.crc == crc32(dat);
        Refusals refusals;
        const std::uint32_t began = platform::tickCount();
        while (!held) {
            checkObjectTime(began);
            const Response created = link_.exchange(kCreate, createParams(kCommandObject, size));
            if (!created.ok()) {
                if (refusals.meant(created)) {
                    link_.refused(created);
                }
                continue;
            }
            held = fill(dat, 0, 0, size) == Fill::Complete;
        }
        const std::optional<Response> executed = execute();
        if (executed && !executed->ok()) {
            link_.refused(*executed);  // the bootloader's verdict on the init packet
        }
        // Unanswered: the first data object it lets us create shows that it took it.
        initUnconfirmed_ = !executed;
    }

    void sendFirmware(const Bytes& bin, const Bytes& dat) {
        link_.setPhase(Phase::Firmware);
        const ObjectState state = select(kDataObject);
        if (state.maxSize == 0) {
            throw DfuFailure("Bootloader reported a data object size of 0");
        }
        const auto size = static_cast<std::uint32_t>(bin.size());
        const std::uint32_t maxSize = state.maxSize;
        // Resume from what the bootloader already holds when it is the start of this image; an
        // object in progress (or a complete last one) is continued.
        const std::uint32_t held = matchesPrefix(bin, state.offset, state.crc) ? state.offset : 0;
        std::optional<std::uint32_t> continueAt;
        if (held % maxSize != 0 || (held == size && held > 0)) {
            continueAt = held;
        }
        // Where the last executed object ends, as far as known. While `verify` is set it may be
        // wrong: a new object is then checked to start there (a create discards what was not
        // executed and goes back to the end of the last executed object), and `other` is the
        // other place it may be.
        std::uint32_t executed =
            continueAt ? (held == size ? (size - 1) / maxSize * maxSize : held - held % maxSize)
                       : held;
        std::uint32_t other = executed;
        bool verify = state.offset > 0;
        Refusals refusals;
        std::uint32_t began = platform::tickCount();
        for (;;) {
            checkObjectTime(began);
            const std::uint32_t start = executed;
            const std::uint32_t end = std::min(start + maxSize, size);
            std::uint32_t from = start;
            if (continueAt) {
                from = *continueAt;
                continueAt.reset();
            } else {
                const Response created =
                    link_.exchange(kCreate, createParams(kDataObject, end - start));
                if (!created.ok()) {
                    if (initUnconfirmed_ && created.result == kNotPermitted) {
                        // The init packet's execute never arrived: it is still to be done.
                        sendInitPacket(dat);
                        link_.setPhase(Phase::Firmware);
                        continue;
                    }
                    if (refusals.meant(created)) {
                        link_.refused(created);
                    }
                    if (verify) {
                        std::swap(executed, other);
                    }
                    continue;
                }
                initUnconfirmed_ = false;
                if (verify) {
                    const ObjectState at = whereItStands();
                    const bool boundary = at.offset % maxSize == 0 && at.offset < size;
                    if (!matchesPrefix(bin, at.offset, at.crc) || !boundary) {
                        continue;  // an answer damaged on its way, or not our data: ask again
                    }
                    verify = false;
                    executed = other = at.offset;
                    report(at.offset);
                    if (at.offset != start) {
                        continue;  // the object created has the size of another one
                    }
                }
            }
            if (fill(bin, start, from, end) == Fill::Broken) {
                // Sent again in a new object; that it starts where expected is checked, as a
                // damaged create may have been taken for another one.
                verify = true;
                other = start;
                continue;
            }
            const std::optional<Response> answer = execute();
            if (answer && answer->ok()) {
                executed = other = end;
                verify = false;
                refusals.clear();
                report(end);
                if (end == size) {
                    break;
                }
                began = platform::tickCount();
                continue;
            }
            if (end == size) {
                if (answer) {
                    link_.refused(*answer);  // the bootloader's verdict on the image
                }
                // It restarts as soon as it has accepted the last object, and holds none of the
                // image afterwards: one that still holds all of it has not executed it.
                const std::optional<Response> selected = link_.tryExchange(kSelect, {kDataObject});
                if (!selected || !selected->ok() || getU32(selected->payload, 4) != size ||
                    getU32(selected->payload, 8) != crc32(bin)) {
                    throw DfuFailure("The bootloader did not confirm the last object");
                }
                continueAt = end;
                continue;
            }
            // Unanswered, or refused in what may be a damaged answer: the next create shows
            // whether it was executed. Never executed again blindly.
            if (answer && refusals.meant(*answer)) {
                link_.refused(*answer);
            }
            other = start;
            executed = end;
            verify = true;
        }
        done_ += size;
    }

    // Writes data[from, end) into the current object, which starts at `start` (offsets count
    // from the first byte of `data`, as the bootloader's do), with checkpoints in between;
    // Complete once a checksum showed the bootloader holding exactly data[0, end).
    Fill fill(std::span<const std::uint8_t> data, std::uint32_t start, std::uint32_t from,
              std::uint32_t end) {
        std::uint32_t at = from;
        for (;;) {
            Checkpoints marks(data, start);
            const auto settle = [&](std::uint32_t due) {
                const std::optional<Response> response = link_.next(due);
                if (response) {
                    if (const auto position = marks.take(*response)) {
                        link_.answered(*position);
                    }
                }
                return response.has_value();
            };
            const auto due = [&](const Checkpoints::Mark& mark) {
                return link_.freeAt(mark.sent) + mark.wait;
            };
            while (at < end && !marks.broken() && !marks.shortAt()) {
                if (marks.open() >= kCheckpointWindow) {
                    if (!settle(due(marks.oldest()))) {
                        marks.giveUpOldest();  // its answer was lost; a later one tells
                    }
                    continue;
                }
                link_.checkTime();
                const std::uint32_t to = std::min(end, at + options_.checkpointBytes);
                Bytes wire;
                appendWrites(data.subspan(at, to - at), wire);
                const std::uint8_t id = appendCheckpoint(wire);
                link_.send(wire);
                at = to;
                const std::uint32_t wait =
                    at == end ? options_.responseTimeoutMs : kCheckpointSlackMs;
                marks.add({id, at, link_.sent(), wait});
                while (settle(platform::tickCount())) {
                }
            }
            while (!marks.broken() && !marks.shortAt() && marks.confirmed() != end &&
                   marks.open() > 0 && settle(due(marks.newest()))) {
            }
            if (marks.broken()) {
                return Fill::Broken;
            }
            if (marks.confirmed() == end) {
                return Fill::Complete;
            }
            if (marks.shortAt()) {
                at = *marks.shortAt();
                continue;
            }
            // The last checkpoint went unanswered: ask where the object stands.
            const ObjectState now = whereItStands();
            if (now.offset >= start && now.offset <= end &&
                matchesPrefix(data, now.offset, now.crc)) {
                if (now.offset == end) {
                    return Fill::Complete;
                }
                at = now.offset;
                continue;
            }
            return Fill::Broken;
        }
    }

    // Sends execute once: its answer, or nothing when none came.
    std::optional<Response> execute() {
        link_.checkTime();
        link_.send(slipEncode(Bytes{kExecute}));
        auto answer = link_.await(kExecute, link_.lineFreeAt() + options_.responseTimeoutMs);
        if (answer) {
            link_.answered(link_.sent());
        }
        return answer;
    }

    // Offset and CRC-32 of the current object as the bootloader holds them now; a refused
    // checksum reads as an object that holds nothing of ours.
    ObjectState whereItStands() {
        const std::optional<Response> response = checksumNow();
        if (!response) {
            link_.fail();
        }
        if (!response->ok()) {
            return {0, 0xFFFFFFFFu, 0};
        }
        return {0, getU32(response->payload, 0), getU32(response->payload, 4)};
    }

    // A checkpoint on its own, sent again until answered; nothing once the bootloader has
    // fallen silent.
    std::optional<Response> checksumNow() {
        for (;;) {
            link_.checkTime();
            Bytes wire;
            const std::uint8_t id = appendCheckpoint(wire);
            link_.send(wire);
            const std::uint32_t due = link_.lineFreeAt() + options_.responseTimeoutMs;
            bool marked = false;
            while (const auto response = link_.next(due)) {
                if (response->op == kCalcChecksum && marked) {
                    link_.answered(link_.sent());
                    return response;
                }
                marked = response->op == kPing && response->ok() && response->payload[0] == id;
            }
            if (link_.silent()) {
                return std::nullopt;
            }
        }
    }

    // A ping with a fresh id followed by a checksum request; returns the id.
    std::uint8_t appendCheckpoint(Bytes& wire) {
        const auto id = static_cast<std::uint8_t>(pingId_++);
        slipEncodeAppend(Bytes{kPing, id}, wire);
        slipEncodeAppend(Bytes{kCalcChecksum}, wire);
        return id;
    }

    void checkObjectTime(std::uint32_t began) const {
        link_.checkTime();
        if (platform::tickCount() - began >= options_.objectTimeLimitMs) {
            link_.fail();
        }
    }

    // A progress line once the bootloader holds the image up to `position` executed.
    void report(std::uint32_t position) {
        if (done_ + position > reported_) {
            reported_ = done_ + position;
            sink_(std::to_string(reported_) + "/" + std::to_string(total_));
        }
    }

    void ping() {
        std::vector<std::uint8_t> ids;
        for (std::uint32_t attempt = 0; attempt < options_.pingTries; ++attempt) {
            const auto id = static_cast<std::uint8_t>(pingId_++);
            ids.push_back(id);
            link_.send(slipEncode(Bytes{kPing, id}));
            const std::uint32_t due = platform::tickCount() + options_.pingTimeoutMs;
            // A late answer to an earlier ping counts as well.
            while (const auto response = link_.await(kPing, due)) {
                if (response->ok() && std::ranges::find(ids, response->payload[0]) != ids.end()) {
                    return;
                }
            }
        }
        link_.fail();
    }

    // Values that size the transfer are read until two answers agree: a response carries no
    // checksum, and one damaged on the line could still look well-formed.
    Bytes agreed(std::uint8_t op, const Bytes& params) {
        Bytes last = link_.request(op, params);
        for (;;) {
            Bytes again = link_.request(op, params);
            if (again == last) {
                return again;
            }
            last = std::move(again);
        }
    }

    ObjectState select(std::uint8_t type) {
        const Bytes p = agreed(kSelect, {type});
        return {getU32(p, 0), getU32(p, 4), getU32(p, 8)};
    }

    static Bytes createParams(std::uint8_t type, std::uint32_t size) {
        Bytes params{type};
        putU32(params, size);
        return params;
    }

    static bool matchesPrefix(std::span<const std::uint8_t> data, std::uint32_t length,
                              std::uint32_t crc) {
        return length <= data.size() && crc32(data.first(length)) == crc;
    }

    void appendWrites(std::span<const std::uint8_t> data, Bytes& wire) const {
        Bytes packet;
        for (std::size_t at = 0; at < data.size(); at += chunk_) {
            const auto piece = data.subspan(at, std::min<std::size_t>(chunk_, data.size() - at));
            packet.assign(1, kWrite);
            packet.insert(packet.end(), piece.begin(), piece.end());
            slipEncodeAppend(packet, wire);
        }
    }

    Link& link_;
    const DfuOptions& options_;
    const DfuClient::LineSink& sink_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
    std::uint32_t mtu_ = 0;
    std::uint32_t chunk_ = 0;
    std::uint32_t pingId_ = 1;
    bool initUnconfirmed_ = false;
};

}  // namespace

DfuClient::DfuClient(LineSink sink, DfuOptions options)
    : sink_(std::move(sink)), options_(options) {}

bool DfuClient::program(const std::string& port, const Package& package) {
    const std::uint32_t started = platform::tickCount();
    const std::uint64_t total = package.firmwareSize();
    sink_("Start programming.");
    sink_("0/" + std::to_string(total));
    if (options_.connectDelayMs > 0) {
        platform::sleepMs(options_.connectDelayMs);
    }
    const platform::SerialHandle handle =
        platform::serialOpen(port, static_cast<std::int32_t>(options_.baudRate));
    if (handle == platform::kInvalidSerialHandle) {
        sink_("Error: Serial port could not be opened on " + port +
              ". Reason: " + lastSystemErrorText());
        return false;
    }
    PortGuard guard(handle);
    try {
        Link link(handle, options_, started);
        Transfer transfer(link, options_, sink_, total);
        for (const PackageImage& image : package.images) {
            // Every image after the first meets a bootloader that has just restarted.
            transfer.connect();
            transfer.sendImage(image);
        }
    } catch (const DfuFailure& failure) {
        sink_(std::string("Error: ") + failure.what());
        return false;
    }
    sink_("Device programmed.");
    return true;
}

}  // namespace qor::dfu
