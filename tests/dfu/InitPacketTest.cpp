#include <gtest/gtest.h>

#include <array>

#include "tests/dfu/DfuTestSupport.h"
#include "tools/dfu/InitPacket.h"

namespace qor::dfu {
namespace {

using test::Bytes;
using test::Pb;

Bytes reversedSha(std::uint8_t first) {
    Bytes h(32);
    for (std::size_t i = 0; i < h.size(); ++i) {
        h[i] = static_cast<std::uint8_t>(first + i);
    }
    return h;
}

test::InitFields builtinLikeFields() {
    test::InitFields f;
    f.appSize = 72092;
    f.hash = reversedSha(0x10);
    return f;
}

TEST(InitPacket, DecodesASignedPacketAsTheToolingWritesIt) {
    const auto fields = builtinLikeFields();
    const Bytes dat = test::signedInitPacket(fields);
    // The layout the packaging tool produces for such an image is 143 bytes long.
    ASSERT_EQ(dat.size(), 143u);
    std::string error;
    const auto packet = decodeInitPacket(dat, error);
    ASSERT_TRUE(packet) << error;
    const InitCommand& c = packet->init;
    EXPECT_EQ(c.fw_version, 20500u);
    EXPECT_EQ(c.hw_version, 52u);
    EXPECT_EQ(c.sd_req, std::vector<std::uint32_t>{0xB6});
    EXPECT_EQ(c.type, FwType::Application);
    EXPECT_EQ(c.sd_size, 0u);
    EXPECT_EQ(c.bl_size, 0u);
    EXPECT_EQ(c.app_size, 72092u);
    EXPECT_EQ(c.hash_type, HashType::Sha256);
    EXPECT_EQ(c.hash, fields.hash);  // kept as stored, least significant byte first
    EXPECT_FALSE(c.is_debug);
    ASSERT_EQ(c.boot_validation.size(), 1u);
    EXPECT_EQ(c.boot_validation[0].type, ValidationType::NoValidation);
    EXPECT_TRUE(c.boot_validation[0].bytes.empty());
    EXPECT_TRUE(packet->isSigned);
    EXPECT_EQ(packet->signature_type, SignatureType::EcdsaP256Sha256);
    EXPECT_EQ(packet->signature.size(), 64u);
    EXPECT_EQ(packet->signature.front(), 0xA0);
    EXPECT_EQ(packet->commandBytes, test::command(fields).data());
}

TEST(InitPacket, DecodesPlainPacketsUnpackedRepeatsAndSkipsUnknownFields) {
    Pb hash;
    hash.varint(1, 3).bytes(2, reversedSha(1));
    Pb init;
    init.varint(3, 0xB6).varint(3, 0x101).varint(7, 1000).message(8, hash);
    init.fixed32(50, 7).fixed64(51, 9).bytes(52, Bytes{1, 2}).varint(53, 1);  // unknown
    Pb cmd;
    cmd.varint(1, 1).message(2, init);
    Pb packet;
    packet.message(1, cmd).varint(9, 5);
    std::string error;
    const auto decoded = decodeInitPacket(packet.data(), error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_FALSE(decoded->isSigned);
    EXPECT_EQ(decoded->init.sd_req, (std::vector<std::uint32_t>{0xB6, 0x101}));
    EXPECT_EQ(decoded->init.app_size, 1000u);
    EXPECT_FALSE(decoded->init.fw_version.has_value());
    EXPECT_FALSE(decoded->init.type.has_value());
    EXPECT_EQ(decoded->commandBytes, cmd.data());
}

// Wraps an InitCommand body into a plain Packet.
Bytes plainPacket(const Pb& init) {
    Pb cmd;
    cmd.varint(1, 1).message(2, init);
    return Pb().message(1, cmd).data();
}

TEST(InitPacket, RejectsMalformedMessages) {
    const Pb goodHash = Pb().varint(1, 3).bytes(2, reversedSha(0));
    struct Case {
        const char* what;
        Bytes packet;
    };
    const std::vector<Case> cases = {
        {"empty input", {}},
        {"no command", Pb().varint(7, 1).data()},
        {"plain and signed command", Pb().message(1, test::command(builtinLikeFields()))
                                         .raw(Bytes(test::signedInitPacket(builtinLikeFields())))
                                         .data()},
        {"op code RESET", Pb().message(1, Pb().varint(1, 0).message(2, Pb().varint(7, 1))).data()},
        {"op code absent", Pb().message(1, Pb().message(2, Pb().varint(7, 1))).data()},
        {"INIT without init", Pb().message(1, Pb().varint(1, 1)).data()},
        {"op code out of range", Pb().message(1, Pb().varint(1, 2)).data()},
        {"app_size wider than 32 bits", plainPacket(Pb().varint(7, 0x100000000ull))},
        {"app_size as fixed32", plainPacket(Pb().fixed32(7, 5))},
        {"init as varint", Pb().message(1, Pb().varint(1, 1).varint(2, 3)).data()},
        {"type out of range", plainPacket(Pb().varint(4, 5))},
        {"is_debug not a boolean", plainPacket(Pb().varint(9, 2))},
        {"app_size twice", plainPacket(Pb().varint(7, 1).varint(7, 2))},
        {"hash without its bytes", plainPacket(Pb().message(8, Pb().varint(1, 3)))},
        {"hash without its type", plainPacket(Pb().message(8, Pb().bytes(2, Bytes(32))))},
        {"hash type out of range",
         plainPacket(Pb().message(8, Pb().varint(1, 9).bytes(2, Bytes(32))))},
        {"boot validation without type", plainPacket(Pb().message(10, Pb().bytes(2, Bytes{})))},
        {"reset without timeout",
         Pb().message(1, Pb().varint(1, 1).message(2, Pb()).message(3, Pb())).data()},
        {"signed command without signature",
         Pb().message(2, Pb().message(1, test::command(builtinLikeFields())).varint(2, 0)).data()},
        {"signature type out of range",
         Pb().message(2, Pb().message(1, test::command(builtinLikeFields()))
                             .varint(2, 2)
                             .bytes(3, Bytes(64)))
             .data()},
        {"group wire type", Bytes{0x0B, 0x0C}},
        {"field number zero", Bytes{0x00, 0x01}},
        {"eleven-byte varint",
         Bytes{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"tenth varint byte above one",
         Bytes{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}},
        {"length beyond the end", Bytes{0x0A, 0x05, 0x08, 0x01}},
        {"huge length", Bytes{0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x08}},
        {"packed sd_req with a truncated varint", plainPacket(Pb().bytes(3, Bytes{0xB6, 0x81}))},
        {"hash that is not a message",
         plainPacket(Pb().bytes(8, Bytes{0xFF}).message(7, goodHash))},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(decodeInitPacket(c.packet, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

// Truncations and single-byte corruptions of a real packet: every prefix must be refused, and
// no input may lead the decoder outside its buffer (the sanitizer build checks that).
TEST(InitPacket, TruncationsAreRejectedAndCorruptionsStayInBounds) {
    const Bytes dat = test::signedInitPacket(builtinLikeFields());
    std::string error;
    for (std::size_t n = 0; n < dat.size(); ++n) {
        // Copy, so the decoder cannot peek beyond the prefix without the sanitizer noticing.
        const Bytes prefix(dat.begin(), dat.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(decodeInitPacket(prefix, error)) << "prefix of " << n;
    }
    std::size_t refused = 0;
    for (std::size_t i = 0; i < dat.size(); ++i) {
        for (const std::uint8_t value : std::array<std::uint8_t, 4>{0x00, 0x7F, 0x80, 0xFF}) {
            Bytes corrupt = dat;
            corrupt[i] = value;
            if (!decodeInitPacket(corrupt, error)) {
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 0u);
}

}  // namespace
}  // namespace qor::dfu
