// Linked into a test build of the headless program: its catalogue holds one image of bootloader
// kind 4 instead of the built-in package, so a whole update goes through the block bootloader.
#include <cstdint>
#include <vector>

#include "catalogue/CatalogueTestSeam.h"

namespace {

constexpr std::uint32_t kImageLength = 3000;  // blocks of 1024, 1024 and 952 bytes

std::vector<std::uint8_t> image() {
    std::vector<std::uint8_t> bytes(kImageLength);
    for (std::uint32_t i = 0; i < kImageLength; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    return bytes;
}

// BLE module G2, u-blox NINA, NINA-B3 UART, version 2.05: what the simulator's module is and
// reports after a block-bootloader update.
const qor::test::ScopedBuiltinEntry kind4Entry(qor::TBl3FileHeader{26156, 2, 5, 18, 35,
                                                                   "01.02.2024 10:00:00", 4, 1},
                                               image(), kImageLength, kImageLength,
                                               qor::test::ScopedBuiltinEntry::Placement::only);

}  // namespace
