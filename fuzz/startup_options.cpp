// The start-up option reader fed arbitrary command-line parameters (NUL-separated) and prefixes:
// values are cut to their limit, and only the exact values "+" and "-" change a setting.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/StartupOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool serviceMode = (data[0] & 1) != 0;
    std::vector<std::string> parameters(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            parameters.emplace_back();
        } else {
            parameters.back().push_back(static_cast<char>(data[i]));
        }
    }
    const std::string prefix = parameters.front();
    parameters.erase(parameters.begin());

    const std::string value = qor::getParamValue(parameters, prefix, "default");
    if (value.size() > std::max<std::size_t>(qor::kMaxParamValue, 7)) {
        std::abort();
    }
    const qor::StartupOptions options = qor::applyStartupOptions(serviceMode, parameters);
    if (options.serviceLevel < 0 || options.serviceLevel > 2 ||
        (!serviceMode && (options.serviceLevel != 0 || !options.checkClass))) {
        std::abort();
    }
    return 0;
}
