// The headless program's option parser fed arbitrary arguments (NUL-separated): it parses them
// or names the usage error.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::string error;
    const auto options = qor::cli::parseCliOptions(args, error);
    if (!options && error.empty()) {
        std::abort();
    }
    return 0;
}
