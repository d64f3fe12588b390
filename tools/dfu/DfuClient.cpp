#include "tools/dfu/DfuClient.h"

#include <algorithm>
#include <array>
#include <cstdio>
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

// One open port: SLIP-framed requests out, responses in.
class Link {
  public:
    Link(platform::SerialHandle handle, const DfuOptions& options)
        : handle_(handle), options_(options) {}

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

    // Sends already framed bytes in one write, so the line never idles between packets.
    void send(const Bytes& wire) {
        std::uint32_t written = 0;
        const bool ok = platform::serialWrite(handle_, wire.data(),
                                              static_cast<std::uint32_t>(wire.size()), written);
        if (!ok || written != wire.size()) {
            fail();
        }
        // The driver may still hold what was written: the answer cannot come before it left.
        pendingWireMs_ = static_cast<std::uint32_t>(wire.size() * 10000u / options_.baudRate);
    }

    // The next response to op, skipping stray packets; nothing when none came in time.
    std::optional<Bytes> await(std::uint8_t op, std::uint32_t timeoutMs) {
        const std::uint32_t start = platform::tickCount();
        const std::uint32_t limit = timeoutMs + pendingWireMs_;
        Bytes packet;
        for (;;) {
            while (decoder_.next(packet)) {
                if (packet.size() >= 3 && packet[0] == kResponse && packet[1] == op) {
                    return packet;
                }
            }
            const std::uint32_t elapsed = platform::tickCount() - start;
            if (elapsed >= limit) {
                return std::nullopt;
            }
            std::array<std::uint8_t, 512> buffer{};
            std::uint32_t got = 0;
            if (!platform::serialReadSome(handle_, buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()),
                                          limit - elapsed, got)) {
                fail();
            }
            decoder_.feed(std::span(buffer).first(got));
        }
    }

    // Sends a request and returns the payload of its successful response (at least
    // payloadSize bytes after the result code).
    Bytes request(std::uint8_t op, const Bytes& params, std::size_t payloadSize) {
        Bytes payload{op};
        payload.insert(payload.end(), params.begin(), params.end());
        send(slipEncode(payload));
        return answer(op, payloadSize);
    }

    // Waits for the response to op and checks it.
    Bytes answer(std::uint8_t op, std::size_t payloadSize) {
        const auto response = await(op, options_.responseTimeoutMs);
        if (!response) {
            fail();
        }
        const std::uint8_t result = (*response)[2];
        if (result != kSuccess) {
            refused(op, result,
                    response->size() > 3 ? (*response)[3] : std::optional<std::uint8_t>());
        }
        if (response->size() < 3 + payloadSize) {
            fail();
        }
        return Bytes(response->begin() + 3, response->end());
    }

    void resetInput() { decoder_.reset(); }

  private:
    [[noreturn]] void refused(std::uint8_t op, std::uint8_t result,
                              std::optional<std::uint8_t> extended) const {
        std::string text = std::string("Bootloader refused ") + opName(op);
        if (phase_ == Phase::Init) {
            text += " while sending the init packet";
        } else if (phase_ == Phase::Firmware) {
            text += " while sending firmware";
        }
        text += ": result code " + hexByte(result) + " (" + resultName(result) + ")";
        if (result == kExtendedError && extended) {
            text += ", extended error " + hexByte(*extended) + " (" + extendedErrorName(*extended) +
                    ")";
        }
        throw DfuFailure(text);
    }

    platform::SerialHandle handle_;
    const DfuOptions& options_;
    SlipDecoder decoder_;
    Phase phase_ = Phase::Ping;
    std::uint32_t pendingWireMs_ = 0;
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
        link_.setPhase(Phase::Setup);
        link_.request(kSetPrn, {0, 0}, 0);
        const Bytes mtu = link_.request(kGetMtu, {}, 2);
        mtu_ = static_cast<std::uint32_t>(mtu[0] | (mtu[1] << 8));
        // A write packet, every byte escaped, plus END must fit the MTU; whole words keep the
        // bootloader's flash writes aligned.
        chunk_ = (mtu_ >= 3 ? (mtu_ - 3) / 2 : 0) & ~3u;
        if (chunk_ == 0) {
            throw DfuFailure("Bootloader reported an MTU of " + std::to_string(mtu_) +
                             " bytes, too small for a write");
        }
    }

    void sendInitPacket(const Bytes& dat) {
        link_.setPhase(Phase::Init);
        const ObjectState state = select(kCommandObject);
        if (dat.size() > state.maxSize) {
            throw DfuFailure("Init packet of " + std::to_string(dat.size()) +
                             " bytes exceeds the bootloader's command object size of " +
                             std::to_string(state.maxSize));
        }
        const auto size = static_cast<std::uint32_t>(dat.size());
        const std::uint32_t crc = crc32(dat);
        // The bootloader may still hold this very init packet from an interrupted transfer.
        bool held = state.offset == size && state.crc == crc;
        for (std::uint32_t attempt = 0; !held; ++attempt) {
            if (attempt == options_.objectTries) {
                link_.fail();
            }
            create(kCommandObject, size);
            Bytes wire;
            appendWrites(dat, wire);
            const ObjectState now = checksum(wire);
            held = now.offset == size && now.crc == crc;
        }
        link_.request(kExecute, {}, 0);
    }

    void sendFirmware(const Bytes& bin) {
        link_.setPhase(Phase::Firmware);
        const ObjectState state = select(kDataObject);
        if (state.maxSize == 0) {
            throw DfuFailure("Bootloader reported a data object size of 0");
        }
        const auto size = static_cast<std::uint32_t>(bin.size());
        const std::uint32_t maxSize = state.maxSize;
        // Resume from what the bootloader already holds when it is the start of this image.
        std::uint32_t held = matchesPrefix(bin, state.offset, state.crc) ? state.offset : 0;
        bool continueObject = held % maxSize != 0 || (held == size && held > 0);
        // Whether a new object really starts where we think: unsure while the bootloader holds
        // data whose objects may not all have been executed.
        bool verifyStart = state.offset > 0;
        std::uint32_t failures = 0;
        const auto failed = [&] {
            if (++failures == options_.objectTries) {
                link_.fail();
            }
            verifyStart = true;
        };
        while (held < size || continueObject) {
            // The object that holds byte `held`; a complete but unexecuted last object counts.
            const std::uint32_t start =
                held == size ? (size - 1) / maxSize * maxSize : held - held % maxSize;
            const std::uint32_t end = std::min(start + maxSize, size);
            Bytes wire;
            if (!continueObject) {
                create(kDataObject, end - start);
                if (verifyStart) {
                    const ObjectState at = checksum(wire);
                    if (at.offset != start || !matchesPrefix(bin, start, at.crc)) {
                        // It went back to its last executed object: start over from there.
                        failed();
                        const bool earlier = at.offset < start && at.offset % maxSize == 0 &&
                                             matchesPrefix(bin, at.offset, at.crc);
                        held = earlier ? at.offset : start;
                        continue;
                    }
                    verifyStart = false;
                    wire.clear();
                }
            }
            const std::uint32_t from = continueObject ? held : start;
            appendWrites(std::span(bin).subspan(from, end - from), wire);
            const ObjectState now = checksum(wire);
            if (now.offset == end && matchesPrefix(bin, end, now.crc)) {
                link_.request(kExecute, {}, 0);
                held = end;
                continueObject = false;
                failures = 0;
                progress(done_ + held);
                continue;
            }
            failed();
            // Part of the object arrived intact: send the rest; otherwise the whole object.
            continueObject =
                now.offset > from && now.offset < end && matchesPrefix(bin, now.offset, now.crc);
            held = continueObject ? now.offset : start;
        }
        done_ += size;
    }

    void progress(std::uint64_t position) const {
        sink_(std::to_string(position) + "/" + std::to_string(total_));
    }

  private:
    void ping() {
        std::vector<std::uint8_t> ids;
        for (std::uint32_t attempt = 0; attempt < options_.pingTries; ++attempt) {
            const auto id = static_cast<std::uint8_t>(pingId_++);
            ids.push_back(id);
            link_.send(slipEncode(Bytes{kPing, id}));
            const std::uint32_t start = platform::tickCount();
            for (std::uint32_t waited = 0; waited < options_.pingTimeoutMs;
                 waited = platform::tickCount() - start) {
                const auto response = link_.await(kPing, options_.pingTimeoutMs - waited);
                // A late answer to an earlier ping counts as well.
                if (response && response->size() >= 4 && (*response)[2] == kSuccess &&
                    std::ranges::find(ids, (*response)[3]) != ids.end()) {
                    return;
                }
            }
        }
        link_.fail();
    }

    static bool matchesPrefix(const Bytes& bin, std::uint32_t length, std::uint32_t crc) {
        return length <= bin.size() && crc32(std::span(bin).first(length)) == crc;
    }

    ObjectState select(std::uint8_t type) {
        const Bytes p = link_.request(kSelect, {type}, 12);
        return {getU32(p, 0), getU32(p, 4), getU32(p, 8)};
    }

    // Answered before any data follows: a refused object gets no writes.
    void create(std::uint8_t type, std::uint32_t size) {
        Bytes params{type};
        putU32(params, size);
        link_.request(kCreate, params, 0);
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

    // Sends the framed writes and the checksum request in one go; returns offset and CRC.
    ObjectState checksum(Bytes& wire) {
        slipEncodeAppend(Bytes{kCalcChecksum}, wire);
        link_.send(wire);
        const Bytes p = link_.answer(kCalcChecksum, 8);
        return {0, getU32(p, 0), getU32(p, 4)};
    }

    Link& link_;
    const DfuOptions& options_;
    const DfuClient::LineSink& sink_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint32_t mtu_ = 0;
    std::uint32_t chunk_ = 0;
    std::uint32_t pingId_ = 1;
};

}  // namespace

DfuClient::DfuClient(LineSink sink, DfuOptions options)
    : sink_(std::move(sink)), options_(options) {}

bool DfuClient::program(const std::string& port, const Package& package) {
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
        Link link(handle, options_);
        Transfer transfer(link, options_, sink_, total);
        for (const PackageImage& image : package.images) {
            // Every image after the first meets a bootloader that has just restarted.
            transfer.connect();
            transfer.sendInitPacket(image.dat);
            transfer.sendFirmware(image.bin);
        }
    } catch (const DfuFailure& failure) {
        sink_(std::string("Error: ") + failure.what());
        return false;
    }
    sink_("Device programmed.");
    return true;
}

}  // namespace qor::dfu
