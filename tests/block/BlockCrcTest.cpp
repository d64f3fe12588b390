#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/BlockCrc.h"
#include "engine/CommThread.h"

namespace qor {
namespace {

const std::string kDigits = "123456789";

const std::uint8_t* bytes(const std::string& text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(BlockCrc, CheckValuesAndTableEntries) {
    EXPECT_EQ(blockCrc16(bytes(kDigits), kDigits.size()), 0x906E);
    EXPECT_EQ(blockCrc8(bytes(kDigits), kDigits.size()), 0x2F);
    EXPECT_EQ(blockCrc16Table()[1], 0x1189);
    EXPECT_EQ(blockCrc16Table()[128], 0x8408);
    EXPECT_EQ(blockCrc8Table()[1], 0x91);
    EXPECT_EQ(blockCrc8Table()[128], 0xE0);
    // Empty input: the initial value inverted.
    EXPECT_EQ(blockCrc16(nullptr, 0), 0x0000);
    EXPECT_EQ(blockCrc8(nullptr, 0), 0x00);
    // Not the command link's CRC-8/MAXIM.
    EXPECT_NE(blockCrc8(bytes(kDigits), kDigits.size()),
              calculateCRC8(bytes(kDigits), static_cast<std::uint16_t>(kDigits.size())));
}

// Wire frames of the protocol: the check value closes each frame, least significant byte first.
TEST(BlockCrc, CloseTheKnownWireFrames) {
    struct Frame {
        std::vector<std::uint8_t> bytes;
        bool isLong;
    };
    const std::vector<Frame> frames = {
        {{0x78, 0x01, 0x00, 0x0D, 0x7A, 0xC2}, true},
        {{0x78, 0x01, 0x00, 0x0A, 0xC5, 0xB6}, true},
        {{0x78, 0x05, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0xAD, 0xB7}, true},
        {{0x78, 0x09, 0x00, 0x0C, 0xF6, 0x1B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x33},
         true},
        {{0x08, 0x00, 0xFE}, false},
    };
    for (const Frame& f : frames) {
        const std::size_t body = f.bytes.size() - (f.isLong ? 2 : 1);
        if (f.isLong) {
            EXPECT_EQ(blockCrc16(f.bytes.data(), body), makeWord(f.bytes[body + 1], f.bytes[body]));
        } else {
            EXPECT_EQ(blockCrc8(f.bytes.data(), body), f.bytes[body]);
        }
    }
}

}  // namespace
}  // namespace qor
