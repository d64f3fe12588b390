// The system's table of serial devices: one (device name, port name) pair per present port.
#pragma once

#include <string>
#include <vector>

namespace qor::platform {

struct SerialDevice {
    std::string deviceName;  // the driver's name for the device, e.g. \Device\VCP0
    std::string portName;    // what a program opens, e.g. COM5 or /dev/ttyUSB0
};

// The pairs in the system's own stable order; empty when there are none or no table.
// Windows: the values of HKEY_LOCAL_MACHINE\hardware\devicemap\serialcomm in enumeration order
// (a value without text data is left out). Linux: see SysfsPortTable.h.
std::vector<SerialDevice> readSerialDevices();

}  // namespace qor::platform
