#include "platform/TempFiles.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace qor::platform {
namespace {

std::string fromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool allowsExecution(const std::string& dir) {
    struct statvfs info {};
    return statvfs(dir.c_str(), &info) == 0 && (info.f_flag & ST_NOEXEC) == 0;
}

// A private folder below base, or an empty string.
std::string makePrivateFolder(const std::string& base) {
    if (base.empty()) {
        return {};
    }
    std::string pattern = base;
    if (pattern.back() != '/') {
        pattern += '/';
    }
    pattern += "qor-ble-update-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        return {};
    }
    std::string dir(buffer.data());
    if (!allowsExecution(dir)) {
        rmdir(dir.c_str());
        return {};
    }
    return dir + '/';
}

}  // namespace

ToolDirectory createToolDirectory() {
    std::string tmp = fromEnv("TMPDIR");
    if (tmp.empty()) {
        tmp = "/tmp";
    }
    std::vector<std::string> bases = {tmp, fromEnv("XDG_RUNTIME_DIR")};
    const std::string home = fromEnv("HOME");
    if (!home.empty()) {
        const std::string cache = home + "/.cache";
        mkdir(cache.c_str(), 0700);
        bases.push_back(cache);
    }
    for (const auto& base : bases) {
        const std::string dir = makePrivateFolder(base);
        if (!dir.empty()) {
            return {dir, true};
        }
    }
    throw std::runtime_error("No temporary folder that allows running the DFU tool (tried " + tmp +
                             ", $XDG_RUNTIME_DIR and ~/.cache)");
}

void removeToolDirectory(const ToolDirectory& directory) {
    if (directory.ownFolder && !directory.path.empty()) {
        rmdir(directory.path.c_str());
    }
}

std::string toolProgramName() {
    return "qor_ble_dfu";
}

bool makeExecutable(const std::string& path) {
    return chmod(path.c_str(), 0700) == 0;
}

PrivateTempDirectory::PrivateTempDirectory() = default;

PrivateTempDirectory::~PrivateTempDirectory() = default;

}  // namespace qor::platform
