// The port box offers the ports whose device name begins with \device\vcp, in table order.
#include <gtest/gtest.h>

#include "frontend/PortNames.h"

namespace qor {
namespace {

using platform::SerialDevice;

TEST(PortNames, KeepsVirtualComPortsInTableOrder) {
    struct Case {
        const char* what;
        std::vector<SerialDevice> table;
        std::vector<std::string> offered;
    };
    const Case cases[] = {
        {"order",
         {{"\\Device\\Serial0", "COM1"}, {"\\Device\\VCP0", "COM5"}, {"\\Device\\VCP1", "COM7"}},
         {"COM5", "COM7"}},
        {"later entries first in the table stay first",
         {{"\\Device\\VCP1", "COM7"}, {"\\Device\\VCP0", "COM5"}},
         {"COM7", "COM5"}},
        {"case", {{"\\Device\\VCP3", "COM3"}, {"\\device\\vcp3", "COM4"}}, {"COM3", "COM4"}},
        {"vcp elsewhere",
         {{"\\Device\\USBVCP0", "COM2"},
          {"x\\Device\\VCP0", "COM3"},
          {"\\Device\\Serial\\VCP0", "COM4"},
          {"\\Device\\VC", "COM6"}},
         {}},
        {"none at all", {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(offeredPortNames(c.table), c.offered) << c.what;
    }
}

TEST(PortNames, CaseFoldsOnlyTheLettersAToZ) {
    // Characters 0x5C ('\') and 0x7C ('|') differ by the case bit, as do '@' and '`'.
    EXPECT_FALSE(isOfferedDevice("|device|vcp0"));
    EXPECT_TRUE(isOfferedDevice("\\DeViCe\\VcP"));
}

}  // namespace
}  // namespace qor
