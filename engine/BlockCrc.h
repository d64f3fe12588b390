// The two check values of the block bootloader's frames, both table-driven and reflected:
// CRC-16/X-25 for long frames and an inverted CRC-8 (polynomial 0x07) for short ones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qor {

// T16[i]: the reflected register (polynomial 0x8408) after shifting in the byte i.
const std::array<std::uint16_t, 256>& blockCrc16Table();
// T8[i]: the same for the reflected polynomial 0xE0.
const std::array<std::uint8_t, 256>& blockCrc8Table();

// Initial value 0xFFFF, final XOR 0xFFFF; "123456789" gives 0x906E.
std::uint16_t blockCrc16(const std::uint8_t* data, std::size_t length);
// Initial value 0xFF, final XOR 0xFF; "123456789" gives 0x2F.
std::uint8_t blockCrc8(const std::uint8_t* data, std::size_t length);

}  // namespace qor
