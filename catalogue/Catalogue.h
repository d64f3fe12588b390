// The firmware catalogue. Entry 0 is the descriptor last read from a descriptor file (no image
// data); entries 1 to getFirmwareCount() are the images the program carries.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>

#include "catalogue/Bl3FileHeader.h"

namespace qor {

// -1 nothing selected (the built-in entries may be used), 0 a descriptor file was read (entry 0
// alone), 1 to N the built-in entry that the update procedure's scan chose.
extern std::atomic<std::int32_t> selectedFirmwareIndex;

std::int32_t getFirmwareCount();

// Index 0: a copy of the loaded descriptor, no data. Index 1 to N: the built-in descriptor,
// size, length and the image bytes (valid for the life of the process). Any other index:
// false, with class, platform and print set to 0xFFFF and the other header fields untouched.
// size and length are 0 and data is null unless a built-in entry fills them.
bool getFirmware(std::int32_t index, TBl3FileHeader& header, std::uint32_t& size,
                 std::uint32_t& length, const std::uint8_t*& data);

// The descriptor of an entry; for an index without one: class, platform and print 0xFFFF, the
// other numbers 0 and an empty date.
void getFirmwareHeader(std::int32_t index, TBl3FileHeader& header);

// The descriptor of the DFU package that the program carries, and the package's bytes.
const TBl3FileHeader& builtinFileHeader();
std::span<const std::uint8_t> builtinPackage();

// Entry 0 is written by descriptor file reads on the window's thread while the worker may copy
// it: both go through one lock, so a copy never sees a half-written descriptor.
TBl3FileHeader loadedFileHeader();

// Reads the file's next eight lines into entry 0 under that lock (readBl3FileHeader). Throws
// EDescriptorFile on a read or conversion failure; the fields read before it keep their new
// values. The caller sets selectedFirmwareIndex.
bool readLoadedFileHeader(std::istream& file);
// Runs read on entry 0 under that lock and returns its result.
bool updateLoadedFileHeader(const std::function<bool(TBl3FileHeader& header)>& read);
// The same for the file named in UTF-8, read as 8-bit text; EDescriptorFile also when it cannot
// be opened or read.
bool readLoadedFileHeader(const std::string& fileName);

}  // namespace qor
