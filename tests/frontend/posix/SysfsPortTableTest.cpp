// The serial device table from a fake sysfs tree laid out like the kernel's: class/tty/<name>
// links to the tty's folder under devices/, whose "device" link leads to the port's device and
// that one's "driver" link to the driver.
#include <gtest/gtest.h>

#include <filesystem>

#include "frontend/PortNames.h"
#include "platform/posix/SysfsPortTable.h"
#include "tests/frontend/posix/TestFolder.h"

namespace qor::platform {
namespace {

namespace fs = std::filesystem;

class SysfsPortTable : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(root_ / "class" / "tty"); }

    // A tty with a device behind it; an empty driver leaves the device without a driver link.
    void addPort(const std::string& name, const std::string& driver) {
        const fs::path port = root_ / "devices" / "bus0" / ("port-" + name);
        const fs::path tty = port / "tty" / name;
        fs::create_directories(tty);
        fs::create_directory_symlink("../../devices/bus0/port-" + name + "/tty/" + name,
                                     root_ / "class" / "tty" / name);
        fs::create_directory_symlink("../../../port-" + name, tty / "device");
        if (!driver.empty()) {
            fs::create_directories(root_ / "bus" / "drivers" / driver);
            fs::create_directory_symlink("../../../bus/drivers/" + driver, port / "driver");
        }
    }
    // A virtual terminal: no device.
    void addVirtual(const std::string& name) {
        fs::create_directories(root_ / "devices" / "virtual" / "tty" / name);
        fs::create_directory_symlink("../../devices/virtual/tty/" + name,
                                     root_ / "class" / "tty" / name);
    }

    test::TestFolder folder_{"sysfs"};
    const fs::path& root_ = folder_.path();
};

TEST_F(SysfsPortTable, FtdiPortsAreVirtualComPortsInNaturalOrder) {
    addVirtual("tty0");
    addVirtual("ptmx");
    addPort("ttyUSB10", "ftdi_sio");
    addPort("ttyS0", "serial8250");
    addPort("ttyUSB2", "ftdi_sio");
    addPort("ttyACM0", "cdc_acm");
    addPort("ttyUSB1", "");
    addPort("ttyUSB3", "cp210x");

    const std::vector<SerialDevice> devices = readSysfsSerialDevices(root_);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const SerialDevice& d : devices) {
        pairs.emplace_back(d.deviceName, d.portName);
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"\\Device\\ttyACM0", "/dev/ttyACM0"}, {"\\Device\\ttyS0", "/dev/ttyS0"},
        {"\\Device\\ttyUSB1", "/dev/ttyUSB1"}, {"\\Device\\VCP0", "/dev/ttyUSB2"},
        {"\\Device\\ttyUSB3", "/dev/ttyUSB3"}, {"\\Device\\VCP1", "/dev/ttyUSB10"},
    };
    EXPECT_EQ(pairs, expected);
    EXPECT_EQ(offeredPortNames(devices),
              (std::vector<std::string>{"/dev/ttyUSB2", "/dev/ttyUSB10"}));
}

TEST_F(SysfsPortTable, NoPortsOrNoTreeGiveAnEmptyTable) {
    addVirtual("tty1");
    EXPECT_TRUE(readSysfsSerialDevices(root_).empty());
    EXPECT_TRUE(readSysfsSerialDevices(root_ / "missing").empty());
}

}  // namespace
}  // namespace qor::platform
