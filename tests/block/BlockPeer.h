// The radio module's block bootloader as the test plays it on the far side of a pty: frame
// builders and a frame reader.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/PtyPeer.h"

namespace qor::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kLongHeader = 0x78;
inline constexpr std::uint8_t kPowerOnHeader = 0x08;  // kind 1

// A long frame (kind 15) with the given data and a correct CRC-16.
Bytes longFrame(const Bytes& data, std::uint8_t header = kLongHeader);
// A short frame with the given header and data and a correct CRC-8.
Bytes shortFrame(std::uint8_t header, const Bytes& data);
// A power-on report of `total` bytes: flags, an unused byte, CL 26156, PF 18, PR 35, V 1, B 4
// and the text, as far as the length reaches.
Bytes powerOnReport(int total, const std::string& text = "", std::uint8_t header = kPowerOnHeader,
                    std::uint8_t flags = 0x01);

// Reads one block frame the host wrote (header, length, rest); what arrived on a time-out.
Bytes readBlockFrame(PtyPeer& peer, std::chrono::milliseconds timeout);

// The image bytes of a test image: a pattern that differs from block to block.
Bytes testImage(std::size_t length);

// The write-block command for `count` bytes of `image` at `offset`.
Bytes writeBlockFrame(const Bytes& image, std::uint32_t offset, std::uint32_t count);

}  // namespace qor::test
