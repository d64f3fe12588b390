#include "platform/Settings.h"

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace qor::platform {
namespace {

std::string settingsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            return {};
        }
        base = std::string(home) + "/.config";
    }
    return base + "/Vandrel/Qor.conf";
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// A decimal number from 0 to 2^32 - 1, nothing before or after it.
std::optional<std::uint32_t> parseDword(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<std::uint32_t> readUserInteger(const std::string& name) {
    const std::string path = settingsFile();
    if (path.empty()) {
        return std::nullopt;
    }
    std::ifstream file(path);
    std::string line;
    while (file && std::getline(file, line)) {
        const std::string_view text = trimBlanks(line);
        if (text.empty() || text.front() == '#' || text.front() == ';') {
            continue;
        }
        const auto equals = text.find('=');
        if (equals == std::string_view::npos ||
            !sameName(trimBlanks(text.substr(0, equals)), name)) {
            continue;
        }
        return parseDword(trimBlanks(text.substr(equals + 1)));
    }
    return std::nullopt;
}

}  // namespace qor::platform
