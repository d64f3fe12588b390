#include "tools/sim/SimCrc.h"

namespace qor::sim {
namespace {

// One generic reflected CRC: shift each byte in from the least significant bit.
template <typename T>
T reflectedCrc(std::span<const std::uint8_t> data, T polynomial, T init, T finalXor) {
    T crc = init;
    for (const std::uint8_t byte : data) {
        crc = static_cast<T>(crc ^ byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? static_cast<T>((crc >> 1) ^ polynomial)
                                  : static_cast<T>(crc >> 1);
        }
    }
    return static_cast<T>(crc ^ finalXor);
}

}  // namespace

std::uint8_t crc8Maxim(std::span<const std::uint8_t> data) {
    return reflectedCrc<std::uint8_t>(data, 0x8C, 0x00, 0x00);
}

std::uint16_t crc16X25(std::span<const std::uint8_t> data) {
    return reflectedCrc<std::uint16_t>(data, 0x8408, 0xFFFF, 0xFFFF);
}

std::uint8_t blockCrc8(std::span<const std::uint8_t> data) {
    return reflectedCrc<std::uint8_t>(data, 0xE0, 0xFF, 0xFF);
}

}  // namespace qor::sim
