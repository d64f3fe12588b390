// Display names of class, platform and print codes, and the validity checks that replace an
// unlisted platform or print code by 0xFFFF. Every unlisted code is named "?".
#pragma once

#include <cstdint>
#include <string>

namespace qor {

// Classes 26135 and 26145 have three names chosen by variantKey: WLAN boards (38, 47), Bluetooth
// LE boards (39, 48), the family name for anything else (callers without a print pass 0xFFFF).
std::string getClassName(std::uint16_t code, std::uint16_t variantKey);
std::string getPlatformName(std::uint16_t code);
std::string getPrintName(std::uint16_t code);

// code when the table names it, otherwise 0xFFFF.
std::uint16_t checkPlatform(std::uint16_t code);
std::uint16_t checkPrint(std::uint16_t code);

}  // namespace qor
