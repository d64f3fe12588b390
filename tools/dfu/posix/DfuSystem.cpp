#include "tools/dfu/DfuSystem.h"

#include "tools/dfu/StdioFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qor::dfu {

std::vector<std::string> toolArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

bool readFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    return file != nullptr && readAllAndClose(file, bytes);
}

void writeOutputLine(const std::string& line) {
    const std::string out = line + "\r\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

std::string lastSystemErrorText() {
    return std::strerror(errno);
}

}  // namespace qor::dfu
