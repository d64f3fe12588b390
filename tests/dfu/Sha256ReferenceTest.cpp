#include <gtest/gtest.h>
#include <openssl/sha.h>

#include "tests/dfu/DfuTestSupport.h"
#include "tools/dfu/Sha256.h"

namespace qor::dfu {
namespace {

// Every length across the padding boundaries (55/56/64 bytes and their multiples).
TEST(Sha256, AgreesWithOpenSslAtEveryLengthUpTo200) {
    const auto data = test::testImage(200, 7);
    for (std::size_t n = 0; n <= data.size(); ++n) {
        std::array<std::uint8_t, 32> expected{};
        SHA256(data.data(), n, expected.data());
        ASSERT_EQ(sha256(std::span(data).first(n)), expected) << "length " << n;
    }
}

}  // namespace
}  // namespace qor::dfu
