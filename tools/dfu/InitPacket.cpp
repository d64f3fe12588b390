#include "tools/dfu/InitPacket.h"

#include <functional>
#include <set>

namespace qor::dfu {
namespace {

enum WireType : std::uint32_t { kVarint = 0, kFixed64 = 1, kLen = 2, kFixed32 = 5 };

// One field as read from the wire: its number, wire type and value (varint or byte range).
struct Field {
    std::uint32_t number = 0;
    std::uint32_t wireType = 0;
    std::uint64_t varint = 0;
    std::span<const std::uint8_t> bytes;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    bool atEnd() const { return pos_ == data_.size(); }

    bool varint(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos_ >= data_.size()) {
                return false;
            }
            const std::uint8_t b = data_[pos_++];
            // The tenth byte may only hold the top bit of a 64-bit value.
            if (shift == 63 && b > 1) {
                return false;
            }
            value |= std::uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80u) == 0) {
                return true;
            }
        }
        return false;
    }

    bool take(std::uint64_t count, std::span<const std::uint8_t>& out) {
        if (count > data_.size() - pos_) {
            return false;
        }
        out = data_.subspan(pos_, static_cast<std::size_t>(count));
        pos_ += static_cast<std::size_t>(count);
        return true;
    }

    bool field(Field& f, std::string& error) {
        std::uint64_t key = 0;
        if (!varint(key)) {
            error = "truncated field key";
            return false;
        }
        if (key >> 32 != 0 || (key >> 3) == 0) {
            error = "invalid field number";
            return false;
        }
        f.number = static_cast<std::uint32_t>(key >> 3);
        f.wireType = static_cast<std::uint32_t>(key & 7u);
        f.varint = 0;
        f.bytes = {};
        switch (f.wireType) {
            case kVarint:
                if (!varint(f.varint)) {
                    error = "truncated varint in field " + std::to_string(f.number);
                    return false;
                }
                return true;
            case kFixed64:
            case kFixed32:
                if (!take(f.wireType == kFixed64 ? 8 : 4, f.bytes)) {
                    error = "truncated fixed-size field " + std::to_string(f.number);
                    return false;
                }
                return true;
            case kLen: {
                std::uint64_t length = 0;
                if (!varint(length) || !take(length, f.bytes)) {
                    error = "truncated length-delimited field " + std::to_string(f.number);
                    return false;
                }
                return true;
            }
            default:
                error = "unsupported wire type " + std::to_string(f.wireType) + " in field " +
                        std::to_string(f.number);
                return false;
        }
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// Walks the fields of one message. Fields the handler does not know (it returns false for
// them) are skipped; a repeated occurrence of a field that may occur once is an error.
class MessageWalker {
  public:
    MessageWalker(const char* name, std::string& error) : name_(name), error_(error) {}

    using Handler = std::function<bool(const Field&, std::string&)>;

    bool walk(std::span<const std::uint8_t> data, const std::set<std::uint32_t>& singular,
              const Handler& handle) {
        Reader reader(data);
        std::string detail;
        while (!reader.atEnd()) {
            Field f;
            if (!reader.field(f, detail)) {
                return fail(detail);
            }
            if (singular.contains(f.number) && !seen_.insert(f.number).second) {
                return fail("field " + std::to_string(f.number) + " occurs twice");
            }
            detail.clear();
            if (!handle(f, detail) && !detail.empty()) {
                return fail(detail);
            }
        }
        return true;
    }

    bool has(std::uint32_t number) const { return seen_.contains(number); }

    bool require(std::initializer_list<std::uint32_t> numbers) {
        for (const std::uint32_t n : numbers) {
            if (!has(n)) {
                return fail("required field " + std::to_string(n) + " is missing");
            }
        }
        return true;
    }

    bool fail(const std::string& detail) {
        error_ = std::string(name_) + ": " + detail;
        return false;
    }

  private:
    const char* name_;
    std::string& error_;
    std::set<std::uint32_t> seen_;
};

// Field value checks; on a mismatch they fill detail and return false.
bool expectWire(const Field& f, std::uint32_t wireType, std::string& detail) {
    if (f.wireType != wireType) {
        detail = "field " + std::to_string(f.number) + " has wire type " +
                 std::to_string(f.wireType) + ", expected " + std::to_string(wireType);
        return false;
    }
    return true;
}

bool uint32Of(const Field& f, std::uint32_t& out, std::string& detail) {
    if (!expectWire(f, kVarint, detail)) {
        return false;
    }
    if (f.varint > 0xFFFFFFFFu) {
        detail = "field " + std::to_string(f.number) + " does not fit 32 bits";
        return false;
    }
    out = static_cast<std::uint32_t>(f.varint);
    return true;
}

template <class E>
bool enumOf(const Field& f, std::uint32_t maxValue, E& out, std::string& detail) {
    std::uint32_t v = 0;
    if (!uint32Of(f, v, detail)) {
        return false;
    }
    if (v > maxValue) {
        detail =
            "field " + std::to_string(f.number) + " holds unknown enum value " + std::to_string(v);
        return false;
    }
    out = static_cast<E>(v);
    return true;
}

std::vector<std::uint8_t> copyOf(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

// Repeated uint32, packed or one value per field (parsers must accept both).
bool appendUint32s(const Field& f, std::vector<std::uint32_t>& out, std::string& detail) {
    if (f.wireType == kVarint) {
        std::uint32_t v = 0;
        if (!uint32Of(f, v, detail)) {
            return false;
        }
        out.push_back(v);
        return true;
    }
    if (!expectWire(f, kLen, detail)) {
        return false;
    }
    Reader packed(f.bytes);
    while (!packed.atEnd()) {
        std::uint64_t v = 0;
        if (!packed.varint(v) || v > 0xFFFFFFFFu) {
            detail = "bad packed value in field " + std::to_string(f.number);
            return false;
        }
        out.push_back(static_cast<std::uint32_t>(v));
    }
    return true;
}

bool bytesOf(const Field& f, std::vector<std::uint8_t>& out, std::string& detail) {
    if (!expectWire(f, kLen, detail)) {
        return false;
    }
    out = copyOf(f.bytes);
    return true;
}

// Hash and BootValidation share their shape: a required enum (field 1) and required bytes
// (field 2).
template <class E>
bool decodeTypedBytes(const char* name, std::span<const std::uint8_t> data, std::uint32_t maxType,
                      E& type, std::vector<std::uint8_t>& bytes, std::string& error) {
    MessageWalker walker(name, error);
    const bool ok = walker.walk(data, {1, 2}, [&](const Field& f, std::string& detail) {
        switch (f.number) {
            case 1:
                return enumOf(f, maxType, type, detail);
            case 2:
                return bytesOf(f, bytes, detail);
            default:
                return false;
        }
    });
    return ok && walker.require({1, 2});
}

// A length-delimited field holding a message; the nested decoder's complaint becomes detail.
template <class Decode>
bool nestedMessage(const Field& f, std::string& detail, Decode&& decode) {
    if (!expectWire(f, kLen, detail)) {
        return false;
    }
    std::string nested;
    if (!decode(f.bytes, nested)) {
        detail = nested;
        return false;
    }
    return true;
}

template <class T>
bool setOptional(const Field& f, std::optional<T>& out, std::uint32_t maxValue,
                 std::string& detail) {
    T v{};
    if (!enumOf(f, maxValue, v, detail)) {
        return false;
    }
    out = v;
    return true;
}

bool decodeInitCommand(std::span<const std::uint8_t> data, InitCommand& cmd, std::string& error) {
    constexpr std::uint32_t kAny = 0xFFFFFFFFu;
    MessageWalker walker("InitCommand", error);
    const bool ok =
        walker.walk(data, {1, 2, 4, 5, 6, 7, 8, 9}, [&](const Field& f, std::string& detail) {
            switch (f.number) {
                case 1:
                    return setOptional(f, cmd.fw_version, kAny, detail);
                case 2:
                    return setOptional(f, cmd.hw_version, kAny, detail);
                case 3:
                    return appendUint32s(f, cmd.sd_req, detail);
                case 4:
                    return setOptional(f, cmd.type, 4, detail);
                case 5:
                    return setOptional(f, cmd.sd_size, kAny, detail);
                case 6:
                    return setOptional(f, cmd.bl_size, kAny, detail);
                case 7:
                    return setOptional(f, cmd.app_size, kAny, detail);
                case 8:
                    return nestedMessage(f, detail, [&](auto bytes, std::string& e) {
                        HashType type{};
                        if (!decodeTypedBytes("Hash", bytes, 4, type, cmd.hash, e)) {
                            return false;
                        }
                        cmd.hash_type = type;
                        return true;
                    });
                case 9: {
                    std::uint32_t v = 0;
                    if (!enumOf(f, 1, v, detail)) {
                        return false;
                    }
                    cmd.is_debug = v == 1;
                    return true;
                }
                case 10:
                    return nestedMessage(f, detail, [&](auto bytes, std::string& e) {
                        BootValidation bv;
                        if (!decodeTypedBytes("BootValidation", bytes, 3, bv.type, bv.bytes, e)) {
                            return false;
                        }
                        cmd.boot_validation.push_back(std::move(bv));
                        return true;
                    });
                default:
                    return false;
            }
        });
    return ok;
}

bool decodeResetCommand(std::span<const std::uint8_t> data, std::string& error) {
    MessageWalker walker("ResetCommand", error);
    std::uint32_t timeout = 0;
    const bool ok = walker.walk(data, {1}, [&](const Field& f, std::string& detail) {
        return f.number == 1 ? uint32Of(f, timeout, detail) : false;
    });
    return ok && walker.require({1});
}

// A Command that must be an INIT command with its InitCommand.
bool decodeCommand(std::span<const std::uint8_t> data, InitPacket& packet, std::string& error) {
    MessageWalker walker("Command", error);
    std::uint32_t opCode = 0;  // absent: the first enum value, RESET
    const bool ok = walker.walk(data, {1, 2, 3}, [&](const Field& f, std::string& detail) {
        switch (f.number) {
            case 1:
                return enumOf(f, 1, opCode, detail);
            case 2:
                return nestedMessage(f, detail, [&](auto bytes, std::string& e) {
                    return decodeInitCommand(bytes, packet.init, e);
                });
            case 3:
                return nestedMessage(f, detail, decodeResetCommand);
            default:
                return false;
        }
    });
    if (!ok) {
        return false;
    }
    if (opCode != 1) {
        return walker.fail("op code is not INIT");
    }
    if (!walker.has(2)) {
        return walker.fail("INIT command without its init message");
    }
    packet.commandBytes = copyOf(data);
    return true;
}

bool decodeSignedCommand(std::span<const std::uint8_t> data, InitPacket& packet,
                         std::string& error) {
    MessageWalker walker("SignedCommand", error);
    const bool ok = walker.walk(data, {1, 2, 3}, [&](const Field& f, std::string& detail) {
        switch (f.number) {
            case 1:
                return nestedMessage(f, detail, [&](auto bytes, std::string& e) {
                    return decodeCommand(bytes, packet, e);
                });
            case 2:
                return setOptional(f, packet.signature_type, 1, detail);
            case 3:
                return bytesOf(f, packet.signature, detail);
            default:
                return false;
        }
    });
    if (!ok || !walker.require({1, 2, 3})) {
        return false;
    }
    packet.isSigned = true;
    return true;
}

}  // namespace

std::optional<InitPacket> decodeInitPacket(std::span<const std::uint8_t> bytes,
                                           std::string& error) {
    InitPacket packet;
    MessageWalker walker("Packet", error);
    const bool ok = walker.walk(bytes, {1, 2}, [&](const Field& f, std::string& detail) {
        switch (f.number) {
            case 1:
                return nestedMessage(f, detail, [&](auto inner, std::string& e) {
                    return decodeCommand(inner, packet, e);
                });
            case 2:
                return nestedMessage(f, detail, [&](auto inner, std::string& e) {
                    return decodeSignedCommand(inner, packet, e);
                });
            default:
                return false;
        }
    });
    if (!ok) {
        return std::nullopt;
    }
    if (walker.has(1) == walker.has(2)) {
        walker.fail(walker.has(1) ? "holds both a plain and a signed command" : "holds no command");
        return std::nullopt;
    }
    return packet;
}

}  // namespace qor::dfu
