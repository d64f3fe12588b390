// The ports the port box offers: the USB virtual COM ports of the system's serial device table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/PortTable.h"

namespace qor {

// True when the device name, in lower case (A to Z), begins with "\device\vcp".
bool isOfferedDevice(std::string_view deviceName);

// The port names of the offered devices, in table order.
std::vector<std::string> offeredPortNames(const std::vector<platform::SerialDevice>& devices);

// The same for the system's table as it is now.
std::vector<std::string> listOfferedPorts();

}  // namespace qor
