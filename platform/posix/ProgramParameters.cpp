#include "platform/ProgramParameters.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

namespace qor::platform {

// Linux keeps the arguments as NUL-terminated strings in /proc/self/cmdline; the first is the
// program. Where that file does not exist the list is empty.
std::vector<std::string> programParameters() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> parameters;
    bool program = true;
    std::string::size_type start = 0;
    while (start < all.size()) {
        auto end = all.find('\0', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        if (!program) {
            parameters.push_back(all.substr(start, end - start));
        }
        program = false;
        start = end + 1;
    }
    return parameters;
}

std::string programPath() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(n));
    return path;
}

}  // namespace qor::platform
