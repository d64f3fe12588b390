#include "tools/dfu/DfuTool.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "tools/dfu/Package.h"

namespace qor::dfu {
namespace {

constexpr std::uint32_t kMaxConnectDelaySeconds = 3600;

struct Arguments {
    std::optional<std::string> port;
    std::optional<std::string> package;
    std::uint32_t connectDelaySeconds = 3;
};

// Parses the options after "--qor"; on failure returns nothing and says why in error.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args, std::string& error) {
    Arguments parsed;
    std::string* lastValue = nullptr;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--qor") {
            lastValue = nullptr;
            continue;
        }
        if (arg == "-p" || arg == "-pkg" || arg == "-cd") {
            if (i + 1 >= args.size()) {
                error = "Option " + arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            lastValue = nullptr;
            if (arg == "-cd") {
                std::uint32_t seconds = 0;
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (ec != std::errc() || end != value.data() + value.size() ||
                    seconds > kMaxConnectDelaySeconds) {
                    error = "Invalid connect delay: " + value;
                    return std::nullopt;
                }
                parsed.connectDelaySeconds = seconds;
            } else {
                auto& slot = arg == "-p" ? parsed.port : parsed.package;
                slot = value;
                lastValue = &*slot;
            }
            continue;
        }
        if (lastValue != nullptr && !arg.starts_with("-")) {
            // An unquoted path or port name with a blank arrives in pieces: join them again.
            *lastValue += " " + arg;
            continue;
        }
        error = "Unknown argument: " + arg;
        return std::nullopt;
    }
    if (!parsed.port || parsed.port->empty()) {
        error = "No serial port given (-p)";
        return std::nullopt;
    }
    if (!parsed.package || parsed.package->empty()) {
        error = "No package given (-pkg)";
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

int runDfuTool(const std::vector<std::string>& args, const DfuClient::LineSink& sink,
               DfuOptions base) {
    if (std::ranges::find(args, "--qor") == args.end()) {
        return 0;
    }
    std::string error;
    const auto parsed = parseArguments(args, error);
    if (!parsed) {
        sink("Error: " + error);
        return 1;
    }
    // Everything about the package is checked before a single byte goes to the port.
    const auto package = readPackageFile(*parsed->package, error);
    if (!package || !validatePackage(*package, error)) {
        sink("Error: " + error);
        return 1;
    }
    base.connectDelayMs = parsed->connectDelaySeconds * 1000u;
    DfuClient client(sink, base);
    return client.program(*parsed->port, *package) ? 0 : 1;
}

}  // namespace qor::dfu
