// SLIP framing of the serial DFU line: END (0xC0) closes a packet, ESC (0xDB) escapes END and
// ESC inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace qor::dfu {

inline constexpr std::uint8_t kSlipEnd = 0xC0;
inline constexpr std::uint8_t kSlipEsc = 0xDB;
inline constexpr std::uint8_t kSlipEscEnd = 0xDC;
inline constexpr std::uint8_t kSlipEscEsc = 0xDD;

// The escaped payload followed by END; no leading END (a receiver would see an empty packet).
std::vector<std::uint8_t> slipEncode(std::span<const std::uint8_t> payload);

// Appends the encoding of payload to out (saves copies when packets are batched).
void slipEncodeAppend(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out);

// Turns a byte stream into packets. Empty packets are skipped; a packet with an invalid escape
// or longer than the limit is dropped and decoding resumes after the next END.
class SlipDecoder {
  public:
    explicit SlipDecoder(std::size_t maxPacketSize = 4096) : maxPacketSize_(maxPacketSize) {}

    void feed(std::span<const std::uint8_t> bytes);
    // Takes the oldest complete packet; false when none is waiting.
    bool next(std::vector<std::uint8_t>& packet);

    // Packets dropped as malformed or oversized since construction.
    std::size_t droppedPackets() const { return dropped_; }
    // Forgets partial input and waiting packets.
    void reset();

  private:
    std::size_t maxPacketSize_;
    std::vector<std::uint8_t> current_;
    std::deque<std::vector<std::uint8_t>> ready_;
    bool escaped_ = false;
    bool discarding_ = false;
    std::size_t dropped_ = 0;
};

}  // namespace qor::dfu
