// Whole files by UTF-8 name: read, written, deleted, and what a name stands for. The system's
// own calls, not the C++ streams, whose locale machinery would triple the size of the Windows
// programs.
#pragma once

#include <cstddef>
#include <string>

namespace qor::platform {

enum class FileKind { Missing, Regular, Folder, Other };

// What the name stands for now; Missing also when it cannot be looked at.
FileKind fileKind(const std::string& path);

// Reads the whole file into bytes; false with the system's reason in `error`.
bool readWholeFile(const std::string& path, std::string& bytes, std::string& error);

// Creates the file, or replaces one of that name, with exactly these bytes; false with the
// system's reason in `error` (a partly written file may be left then).
bool writeWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::string& error);

// Deletes the file; false when it could not (gone already included).
bool deleteFile(const std::string& path);

}  // namespace qor::platform
