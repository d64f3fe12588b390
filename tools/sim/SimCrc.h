// The device side's own CRCs, computed bit by bit. They are deliberately independent of the
// host's table-driven code, so that a mistake there shows up as a frame the device ignores.
#pragma once

#include <cstdint>
#include <span>

namespace qor::sim {

// CRC-8/MAXIM (1-Wire): reflected polynomial 0x8C, initial value 0, no final XOR. Protects the
// logger's 8-byte command and answer frames.
std::uint8_t crc8Maxim(std::span<const std::uint8_t> data);

// CRC-16/X-25: reflected polynomial 0x8408, initial value and final XOR 0xFFFF. Protects the
// block bootloader's long frames.
std::uint16_t crc16X25(std::span<const std::uint8_t> data);

// Reflected polynomial 0xE0, initial value and final XOR 0xFF. Protects the block
// bootloader's short frames.
std::uint8_t blockCrc8(std::span<const std::uint8_t> data);

}  // namespace qor::sim
