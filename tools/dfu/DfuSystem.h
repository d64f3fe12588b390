// What the DFU tool needs from its OS beyond the serial port: its arguments in UTF-8, files
// named by UTF-8 paths, standard output that passes CR LF unchanged, and the system's text for
// the last error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qor::dfu {

// The program's arguments without the program name, UTF-8 encoded. Arguments quoted on the
// command line arrive as one entry each.
std::vector<std::string> toolArguments(int argc, char** argv);

// Reads a whole file; false (and the reason in lastSystemErrorText) when it cannot.
bool readFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes);

// Writes one line followed by CR LF to standard output and flushes it, without any newline
// translation.
void writeOutputLine(const std::string& line);

// The system's description of the error the last failed system call left behind.
std::string lastSystemErrorText();

}  // namespace qor::dfu
