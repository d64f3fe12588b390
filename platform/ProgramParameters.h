// The process's own command-line parameters.
#pragma once

#include <string>
#include <vector>

namespace qor::platform {

// The parameters after the program's own path, in order. Windows: split from the process's
// command line as the C run-time does, each converted to the 8-bit (ANSI) code page, where a
// character without an exact equivalent becomes the code page's replacement character. POSIX:
// the bytes the process was given, unchanged (the locale's own encoding, usually UTF-8).
std::vector<std::string> programParameters();

// The full path of the running program's own file (UTF-8 on Windows); empty when it cannot be
// found out.
std::string programPath();

}  // namespace qor::platform
