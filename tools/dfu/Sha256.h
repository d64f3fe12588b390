// SHA-256 (FIPS 180-4): the hash the init packet carries for its image.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qor::dfu {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data);

}  // namespace qor::dfu
