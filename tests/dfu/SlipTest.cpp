#include <gtest/gtest.h>

#include "tools/dfu/Slip.h"

namespace qor::dfu {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> drain(SlipDecoder& decoder) {
    std::vector<Bytes> packets;
    Bytes p;
    while (decoder.next(p)) {
        packets.push_back(p);
    }
    return packets;
}

TEST(Slip, EncodesEscapesAndEndsWithEndOnly) {
    EXPECT_EQ(slipEncode(Bytes{0x01, 0xC0, 0x02, 0xDB, 0xDC, 0xDD}),
              (Bytes{0x01, 0xDB, 0xDC, 0x02, 0xDB, 0xDD, 0xDC, 0xDD, 0xC0}));
    EXPECT_EQ(slipEncode(Bytes{}), Bytes{0xC0});
}

TEST(Slip, DecodesPacketsSplitAtEveryByte) {
    const std::vector<Bytes> packets = {{0x60, 0x09, 0x01, 0xC0}, {0xDB}, {0x10, 0xDB, 0xDC}};
    Bytes stream;
    for (const auto& p : packets) {
        slipEncodeAppend(p, stream);
    }
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        SlipDecoder decoder;
        decoder.feed(std::span(stream).first(split));
        decoder.feed(std::span(stream).subspan(split));
        EXPECT_EQ(drain(decoder), packets) << "split at " << split;
    }
}

TEST(Slip, SkipsEmptyPacketsAndResynchronisesAfterGarbage) {
    struct Case {
        const char* what;
        Bytes stream;
        std::vector<Bytes> packets;
        std::size_t dropped;
    };
    const std::vector<Case> cases = {
        {"leading and repeated END", {0xC0, 0xC0, 0x01, 0xC0, 0xC0}, {{0x01}}, 0},
        {"invalid escape", {0x01, 0xDB, 0x05, 0x02, 0xC0, 0x03, 0xC0}, {{0x03}}, 1},
        {"escape right before END", {0x01, 0xDB, 0xC0, 0x04, 0xC0}, {{0x04}}, 1},
        {"oversized packet", {1, 2, 3, 4, 5, 6, 0xC0, 7, 0xC0}, {{7}}, 1},
        {"unterminated tail stays pending", {0x01, 0xC0, 0x02}, {{0x01}}, 0},
    };
    for (const auto& c : cases) {
        SlipDecoder decoder(4);
        decoder.feed(c.stream);
        EXPECT_EQ(drain(decoder), c.packets) << c.what;
        EXPECT_EQ(decoder.droppedPackets(), c.dropped) << c.what;
    }
}

}  // namespace
}  // namespace qor::dfu
