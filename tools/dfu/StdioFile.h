// Reading an open C stream to its end (shared by the OS-specific file openers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace qor::dfu {

// Reads everything left in file and closes it; false on a read error.
inline bool readAllAndClose(std::FILE* file, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::uint8_t buffer[16384];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace qor::dfu
