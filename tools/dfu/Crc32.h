// CRC-32 as zlib and the DFU bootloader compute it (reflected 0xEDB88320, init and final XOR
// 0xFFFFFFFF). Chainable: crc32(b, crc32(a)) == crc32(a + b).
#pragma once

#include <cstdint>
#include <span>

namespace qor::dfu {

std::uint32_t crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace qor::dfu
