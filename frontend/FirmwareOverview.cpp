#include "frontend/FirmwareOverview.h"

#include <cstdio>

#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"

namespace qor {
namespace {

std::string twoNumbers(const char* format, unsigned first, unsigned second) {
    char text[32];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

}  // namespace

OverviewRow overviewRow(const TBl3FileHeader& header) {
    return {getClassName(header.qor_class, header.qor_print),
            twoNumbers("%u.%.2u", header.qor_verH, header.qor_verL),
            getPlatformName(header.qor_platform),
            getPrintName(header.qor_print),
            header.qor_date,
            twoNumbers("%u.%u", header.qor_bl, header.qor_bl_ver)};
}

std::vector<OverviewRow> overviewRows() {
    std::vector<OverviewRow> rows;
    TBl3FileHeader header;
    if (selectedFirmwareIndex.load() == 0) {
        getFirmwareHeader(0, header);
        rows.push_back(overviewRow(header));
    }
    for (std::int32_t index = getFirmwareCount(); index >= 1; --index) {
        getFirmwareHeader(index, header);
        rows.push_back(overviewRow(header));
    }
    return rows;
}

}  // namespace qor
