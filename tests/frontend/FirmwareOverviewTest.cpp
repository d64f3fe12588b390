// The overview's rows: which descriptors, in which order, with which texts.
#include <gtest/gtest.h>

#include <sstream>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueTestSeam.h"
#include "catalogue/CodeNames.h"
#include "frontend/FirmwareOverview.h"

namespace qor {
namespace {

class FirmwareOverview : public ::testing::Test {
  protected:
    void readDescriptor(const std::string& text) {
        std::istringstream file(text);
        ASSERT_TRUE(readLoadedFileHeader(file));
        selectedFirmwareIndex = 0;
    }

    test::ScopedCatalogueState state_;
};

const OverviewRow kBuiltinRow = {getClassName(26156, 35), "2.05",
                                 getPlatformName(18),     getPrintName(35),
                                 "19.08.2019 15:36:40",   "5.0"};

TEST_F(FirmwareOverview, BuiltinEntryAloneUnlessTheLoadedFileIsSelected) {
    for (const std::int32_t selected : {-1, 1}) {
        selectedFirmwareIndex = selected;
        EXPECT_EQ(overviewRows(), std::vector<OverviewRow>{kBuiltinRow}) << selected;
    }
    readDescriptor(
        "bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\nversionL=7\n"
        "platform=18\nprint=35\ndate=20.01.2020\n");
    const OverviewRow fileRow = {getClassName(26156, 35), "2.07",       getPlatformName(18),
                                 getPrintName(35),        "20.01.2020", "2.1"};
    EXPECT_EQ(overviewRows(), (std::vector<OverviewRow>{fileRow, kBuiltinRow}));

    // A run prepared since: the file is no longer listed, although entry 0 still holds it.
    selectedFirmwareIndex = -1;
    EXPECT_EQ(overviewRows(), std::vector<OverviewRow>{kBuiltinRow});
    EXPECT_EQ(loadedFileHeader().qor_verL, 7);
}

TEST_F(FirmwareOverview, BuiltinEntriesFromTheHighestIndexDown) {
    TBl3FileHeader added = builtinFileHeader();
    added.qor_verL = 6;
    const test::ScopedBuiltinEntry entry(added, {1, 2, 3}, 3, 3);
    selectedFirmwareIndex = -1;
    const auto rows = overviewRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "2.06");
    EXPECT_EQ(rows[1], kBuiltinRow);
}

TEST_F(FirmwareOverview, UnsignedNumbersAndUnknownNames) {
    // Codes without names, and fields a descriptor file left without a value.
    readDescriptor(
        "bootloader=5\nbootloader version=1\nclass=1\nversionH=-1\nversionL=3\n"
        "platform=77\nprint=$FFFF\ndate=\n");
    const OverviewRow row = overviewRows().front();
    EXPECT_EQ(row, (OverviewRow{"?", "65535.03", "?", "?", "", "65535.1"}));
}

}  // namespace
}  // namespace qor
