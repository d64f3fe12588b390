// The system's table of serial devices: one (device name, port name) pair per present port.
#pragma once

#include <string>
#include <vector>

namespace qor::platform {

struct SerialDevice {
    std::string deviceName;  // the driver's name for the device, e.g. \Device\VCP0
    std::string portName;    // what a program opens, e.g. COM5 or /dev/ttyUSB0
};

// The environment variable that replaces the system's table by a file, for tests and demos
// against simulated loggers: one "device name=port name" per line in table order; blank lines
// and lines beginning with # are skipped. The file is read anew at every call, so that ports
// arrive and leave as it changes.
inline constexpr const char* kSerialDeviceTableVariable = "QOR_SERIAL_DEVICE_TABLE";

// The pairs in the system's own stable order (or the file's, see above); empty when there are
// none or no table.
std::vector<SerialDevice> readSerialDevices();

// True when the table can be read, so that reading it again and again shows ports arrive and
// leave.
bool serialDevicesReadable();

// The system's own table. Windows: the values of HKEY_LOCAL_MACHINE\hardware\devicemap\serialcomm
// in enumeration order (a value without text data is left out). Linux: see SysfsPortTable.h.
std::vector<SerialDevice> readSystemSerialDevices();
// Windows: always (the key exists once a port does). Linux: the kernel's tty class is there.
bool systemSerialDevicesReadable();

}  // namespace qor::platform
