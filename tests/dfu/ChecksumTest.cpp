#include <gtest/gtest.h>
#include <zlib.h>

#include <string_view>

#include "tests/dfu/DfuTestSupport.h"
#include "tools/dfu/Crc32.h"
#include "tools/dfu/Sha256.h"

namespace qor::dfu {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TEST(Crc32, MatchesTheCheckValueAndZlibAndChains) {
    EXPECT_EQ(crc32(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32({}), 0u);
    const auto data = test::testImage(5000);
    const auto whole = crc32(data);
    EXPECT_EQ(whole, ::crc32(0, data.data(), static_cast<uInt>(data.size())));
    for (const std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{4096}}) {
        const std::span<const std::uint8_t> all(data);
        EXPECT_EQ(crc32(all.subspan(split), crc32(all.first(split))), whole) << split;
    }
}

TEST(Sha256, KnownVectors) {
    EXPECT_EQ(hex(sha256(bytesOf(""))),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(sha256(bytesOf("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(sha256(bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(hex(sha256(bytesOf(million))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace qor::dfu
