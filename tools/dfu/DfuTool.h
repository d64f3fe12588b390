// The DFU tool's work behind main(): command line, package checks, transfer.
#pragma once

#include <string>
#include <vector>

#include "tools/dfu/DfuClient.h"

namespace qor::dfu {

// Runs the tool with its arguments (without the program name) and returns its exit code.
// Without "--qor" it does nothing and returns 0. Otherwise: "-cd" seconds to wait before
// connecting (default 3), "-p" the serial port, "-pkg" the package file. The package is read
// and checked before the port is touched. Every output line goes to sink; `base` supplies the
// timing (tests shorten it), the command line the delay.
int runDfuTool(const std::vector<std::string>& args, const DfuClient::LineSink& sink,
               DfuOptions base = {});

}  // namespace qor::dfu
