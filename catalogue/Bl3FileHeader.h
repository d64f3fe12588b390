// The firmware image descriptor: for which module an image is, its version and how it is sent.
#pragma once

#include <cstdint>
#include <string>

namespace qor {

// Marks a numeric descriptor field without a value (also an unlisted platform or print code).
inline constexpr std::uint16_t kFieldWithoutValue = 0xFFFF;

// Bootloader kind qor_bl: 4 block bootloader protocol, 5 external DFU tool; descriptor files
// yield only 2, 3 or kFieldWithoutValue.
struct TBl3FileHeader {
    std::uint16_t qor_class = 0;
    std::uint16_t qor_verH = 0;
    std::uint16_t qor_verL = 0;
    std::uint16_t qor_platform = 0;
    std::uint16_t qor_print = 0;
    std::string qor_date;
    std::uint16_t qor_bl = 0;
    std::uint16_t qor_bl_ver = 0;

    bool operator==(const TBl3FileHeader&) const = default;
};

}  // namespace qor
