// Serial devices from the kernel's tty class in sysfs. Every tty with a device behind it is one
// entry, ordered by kernel name with numbers compared as numbers (ttyS2 before ttyS10). A port
// driven by the FTDI USB serial driver (ftdi_sio, the chip the Windows VCP driver serves) is
// named \Device\VCP<n>, n counting those ports from 0 in that order; any other port is named
// \Device\<kernel name>. The port name is the device path /dev/<kernel name>.
#pragma once

#include <filesystem>
#include <vector>

#include "platform/PortTable.h"

namespace qor::platform {

// sysfsRoot is /sys on a running system; tests hand in a tree of their own.
std::vector<SerialDevice> readSysfsSerialDevices(const std::filesystem::path& sysfsRoot);

}  // namespace qor::platform
