// The rows of the firmware overview: one per catalogue descriptor, one text per column.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "catalogue/Bl3FileHeader.h"

namespace qor {

inline constexpr std::size_t kOverviewColumnCount = 6;
inline constexpr std::array<const char*, kOverviewColumnCount> kOverviewColumns = {
    "Firmware", "Version", "Platform", "Print", "Date", "BL"};

using OverviewRow = std::array<std::string, kOverviewColumnCount>;

// Class name (print as variant key), "verH.verL" (two-digit minor), platform and print names,
// the date as it stands, "bl.blVer". Numbers are unsigned: 0xFFFF shows 65535.
OverviewRow overviewRow(const TBl3FileHeader& header);

// The rows the overview lists now: entry 0 first when selectedFirmwareIndex is 0, then the
// built-in entries from the highest index down to 1.
std::vector<OverviewRow> overviewRows();

}  // namespace qor
