// A minimal protocol buffers encoder: just the wire types the DFU init packet uses.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qor::firmware {

class ProtobufWriter {
  public:
    // Wire type 0; proto2 writes a field that was set even when it holds 0 or false.
    void varintField(std::uint32_t field, std::uint64_t value) {
        tag(field, kVarint);
        varint(value);
    }

    // Wire type 2: bytes, strings and embedded messages.
    void bytesField(std::uint32_t field, std::span<const std::uint8_t> value) {
        tag(field, kLengthDelimited);
        varint(value.size());
        bytes_.insert(bytes_.end(), value.begin(), value.end());
    }

    void messageField(std::uint32_t field, const ProtobufWriter& message) {
        bytesField(field, message.bytes());
    }

    // A packed repeated varint field: one length-delimited run of varints.
    void packedVarintField(std::uint32_t field, std::span<const std::uint32_t> values) {
        ProtobufWriter run;
        for (const std::uint32_t value : values) {
            run.varint(value);
        }
        bytesField(field, run.bytes());
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    static constexpr std::uint32_t kVarint = 0;
    static constexpr std::uint32_t kLengthDelimited = 2;

    void tag(std::uint32_t field, std::uint32_t wireType) {
        varint((static_cast<std::uint64_t>(field) << 3) | wireType);
    }

    void varint(std::uint64_t value) {
        while (value >= 0x80) {
            bytes_.push_back(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        bytes_.push_back(static_cast<std::uint8_t>(value));
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace qor::firmware
