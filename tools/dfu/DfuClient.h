// Nordic Secure DFU client over a serial line: sends the images of a package to the
// bootloader and reports what happens as output lines through a callback (it never prints).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/dfu/Package.h"

namespace qor::dfu {

struct DfuOptions {
    std::uint32_t baudRate = 57600;
    std::uint32_t connectDelayMs = 3000;  // before the port is opened
    // A response must start within this time after its request has left the line.
    std::uint32_t responseTimeoutMs = 1000;
    // Pings until the bootloader answers (it may still be starting).
    std::uint32_t pingTries = 20;
    std::uint32_t pingTimeoutMs = 250;
    // Once it has answered, the bootloader counts as gone when nothing at all came from it for
    // this long after the line fell quiet.
    std::uint32_t silenceLimitMs = 3000;
    // One object, its retries included, may take this long before the transfer gives up.
    std::uint32_t objectTimeLimitMs = 15000;
    // The transfer ends with its error line by this time after the tool started, well inside
    // the minute the update program gives the tool.
    std::uint32_t transferTimeLimitMs = 55000;
    // Data bytes between two checksum requests inside an object: a damaged object is given up
    // as soon as one of them shows it, instead of after the whole object.
    std::uint32_t checkpointBytes = 256;
};

class DfuClient {
  public:
    using LineSink = std::function<void(const std::string& line)>;

    DfuClient(LineSink sink, DfuOptions options = {});

    // Opens the port and sends every image of a validated package. Reports "Start programming.",
    // the progress lines "position/total", then "Device programmed." or one "Error: ..." line.
    bool program(const std::string& port, const Package& package);

  private:
    LineSink sink_;
    DfuOptions options_;
};

}  // namespace qor::dfu
