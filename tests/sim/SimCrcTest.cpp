#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "tools/sim/SimCrc.h"

namespace qor::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(SimCrc, CheckValues) {
    EXPECT_EQ(crc8Maxim(ascii("123456789")), 0xA1);
    EXPECT_EQ(crc8Maxim(ascii("abc")), 0x42);
    EXPECT_EQ(crc8Maxim(Bytes(7, 0)), 0x00);
    EXPECT_EQ(crc16X25(ascii("123456789")), 0x906E);
    EXPECT_EQ(blockCrc8(ascii("123456789")), 0x2F);
}

// The last byte(s) of each known frame are the CRC of the bytes before them.
TEST(SimCrc, KnownFrames) {
    const std::vector<Bytes> commandFrames = {
        {0x81, 0, 0, 0, 0, 0, 0, 0xAA},    {0x82, 0x30, 0, 0, 0, 0, 0, 0x00},
        {0x83, 0x30, 2, 0, 0, 0, 0, 0xBE}, {0x83, 0x30, 0, 0, 0, 0, 0, 0x3D},
        {0x83, 0x30, 1, 0, 0, 0, 0, 0xF0},
    };
    for (const Bytes& frame : commandFrames) {
        EXPECT_EQ(crc8Maxim(std::span(frame).first(7)), frame[7]);
    }
    const std::vector<Bytes> longFrames = {
        {0x78, 0x01, 0x00, 0x0D, 0x7A, 0xC2},
        {0x78, 0x01, 0x00, 0x0A, 0xC5, 0xB6},
        {0x78, 0x05, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0xAD, 0xB7},
        {0x78, 0x09, 0x00, 0x0C, 0xF6, 0x1B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x33},
    };
    for (const Bytes& frame : longFrames) {
        const std::uint16_t crc = crc16X25(std::span(frame).first(frame.size() - 2));
        EXPECT_EQ(crc & 0xFF, frame[frame.size() - 2]);
        EXPECT_EQ(crc >> 8, frame.back());
    }
    EXPECT_EQ(blockCrc8(Bytes{0x08, 0x00}), 0xFE);
}

}  // namespace
}  // namespace qor::sim
