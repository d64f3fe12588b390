#include "engine/BlockCrc.h"

namespace qor {
namespace {

template <class T>
constexpr std::array<T, 256> makeReflectedTable(unsigned polynomial) {
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ polynomial : crc >> 1;
        }
        table[i] = static_cast<T>(crc);
    }
    return table;
}

constexpr auto kCrc16Table = makeReflectedTable<std::uint16_t>(0x8408u);
constexpr auto kCrc8Table = makeReflectedTable<std::uint8_t>(0xE0u);

}  // namespace

const std::array<std::uint16_t, 256>& blockCrc16Table() {
    return kCrc16Table;
}

const std::array<std::uint8_t, 256>& blockCrc8Table() {
    return kCrc8Table;
}

std::uint16_t blockCrc16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<std::uint16_t>(kCrc16Table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8));
    }
    return static_cast<std::uint16_t>(crc ^ 0xFFFFu);
}

std::uint8_t blockCrc8(const std::uint8_t* data, std::size_t length) {
    std::uint8_t crc = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc = kCrc8Table[crc ^ data[i]];
    }
    return static_cast<std::uint8_t>(crc ^ 0xFFu);
}

}  // namespace qor
