#include "frontend/StartupOptions.h"

#include "platform/Settings.h"

namespace qor {
namespace {

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool beginsWith(const std::string& parameter, std::string_view prefix) {
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upperAscii(parameter[i]) != upperAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool isServiceMode() {
    return platform::readUserInteger("intern") == kServiceModeUnlock;
}

std::string getParamValue(const std::vector<std::string>& parameters, std::string_view prefix,
                          const std::string& def) {
    for (const std::string& parameter : parameters) {
        if (parameter.size() > prefix.size() && beginsWith(parameter, prefix)) {
            return parameter.substr(prefix.size(), kMaxParamValue);
        }
    }
    return def;
}

StartupOptions applyStartupOptions(bool serviceMode, const std::vector<std::string>& parameters) {
    StartupOptions options;
    if (serviceMode && getParamValue(parameters, "cc:", "") == "-") {
        options.checkClass = false;
    }
    const std::string format = getParamValue(parameters, "mf:", "");
    if (format == "+") {
        options.measurementFormat = true;
    } else if (format == "-") {
        options.measurementFormat = false;
    }
    if (serviceMode) {
        options.serviceLevel = getParamValue(parameters, "f:", "-") == "+" ? 2 : 1;
    }
    return options;
}

}  // namespace qor
