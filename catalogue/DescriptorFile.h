// Descriptor files: eight "key=value" lines that describe one firmware image.
//   bootloader=2, bootloader version=1, class=26156, versionH=2, versionL=7, platform=18,
//   print=35, date=20.01.2020
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "catalogue/Bl3FileHeader.h"

namespace qor {

// A descriptor file that cannot be opened, read or converted; the message says which and where.
class EDescriptorFile : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The text after the line's first "=" when the text before it is exactly key; otherwise (no
// "=", another key) an empty text.
std::string getKeyValue(std::string_view line, std::string_view key);

// A signed 32-bit integer: optional leading blanks and sign, then decimal digits, or hex digits
// after "$", "0x", "0X", "x" or "X" (up to 32 bits of them: $FFFFFFFF is -1). Nothing may
// follow the digits; empty texts and values beyond 32 bits give no value.
std::optional<std::int32_t> parseInteger(std::string_view text);

// Reads the next eight lines of 8-bit text (ending in LF or CR LF; missing lines count as empty)
// into header in the order bootloader, bootloader version, class, versionH, versionL, platform,
// print, date, writing each field as soon as its line is converted. Numbers keep their low 16
// bits; the bootloader kind is 2 or 3 for exactly "2" or "3", else 0xFFFF; the date is the
// value as it stands. Returns true; a read or conversion failure throws EDescriptorFile and
// leaves the fields already written.
// (A stream's reader is an object of its own, so that programs reading only named files do not
// carry the C++ streams.)
bool readBl3FileHeader(std::istream& file, TBl3FileHeader& header);
// The same for the file's text held in memory (a conversion failure is its only failure).
bool readBl3FileHeader(std::string_view text, TBl3FileHeader& header);

// The reading itself, for any source of lines: nextLine gives the next line without its line
// break (an empty text past the end) or throws EDescriptorFile.
bool readBl3FileHeaderLines(const std::function<std::string()>& nextLine, TBl3FileHeader& header);
// A line without the CR of its CR LF.
std::string withoutCarriageReturn(std::string line);

// The whole text of the descriptor file named in UTF-8; EDescriptorFile naming the file when
// it cannot be opened or read (a folder, for instance).
std::string readDescriptorFile(const std::string& fileName);

}  // namespace qor
