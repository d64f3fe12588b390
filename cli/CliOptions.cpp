#include "cli/CliOptions.h"

#include <algorithm>
#include <charconv>

#include "engine/Exceptions.h"

namespace qor::cli {

std::string cliUsage() {
    return "Usage: qor-ble-update-cli --port NAME [options]\n"
           "       qor-ble-update-cli --port NAME --port NAME ... | --all-ports | --watch\n"
           "                          [--json FILE] [options]\n"
           "       qor-ble-update-cli --list-ports | --firmware [--descriptor FILE]\n"
           "Updates the Bluetooth LE radio module of a QOR BLE-Z40 logger, as the window's\n"
           "Update button does, and prints every report line. Bench mode updates several\n"
           "loggers at the same time, prints each report line with its port in front and ends\n"
           "with a summary, one row per port.\n"
           "\n"
           "  --port NAME          serial port of the logger (COM3; /dev/ttyUSB0 on Linux); more\n"
           "                       than once: these ports at the same time (bench mode)\n"
           "  --all-ports          every port the window offers, at the same time (bench mode)\n"
           "  --watch              bench mode that goes on: after the ports named (or, without\n"
           "                       --port, those offered now) every logger port that arrives is\n"
           "                       updated once; Ctrl-C stops taking new ones and lets the\n"
           "                       running updates finish, a second Ctrl-C cancels them\n"
           "  --json FILE          append the summary to FILE, one JSON object per run and line\n"
           "                       (bench mode)\n"
           "  --read-info-only     identify logger and module and find the image, transfer "
           "nothing\n"
           "  --no-class-check     match images on platform, print and kind alone\n"
           "  --descriptor FILE    use the descriptor file FILE instead of the built-in images\n"
           "  --max-restarts N     give up (exit status 30) after N automatic restarts\n"
           "                       (default: restart without limit)\n"
           "  --yes                answer the question about saved measurements with Yes\n"
           "  --list-ports         print the ports the window offers (the logger's USB serial\n"
           "                       ports), one per line, and start nothing\n"
           "  --firmware           print the firmware overview (Info > Firmware) and start\n"
           "                       nothing; with --descriptor, that file's row comes first\n"
           "  --help               this text\n"
           "  --version            the program's version\n"
           "\n"
           "Exit status: 0 success; the error code of a failed run (10, 11, 20, 40, 41, 45, 47,\n"
           "70, 100 to 104); 1 any other failure; 2 wrong usage; 30 restarts used up. Bench\n"
           "mode: 0 when every run succeeded, otherwise the status of the first failed port in\n"
           "the order given (ports named, then those offered, then those that arrived); 10 when\n"
           "--all-ports finds no port.\n";
}

std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    CliOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string v;
        if (arg == "--port" || arg == "--json" || arg == "--descriptor" ||
            arg == "--max-restarts") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            v = args[++i];
        }
        if (arg == "--port") {
            if (std::find(options.ports.begin(), options.ports.end(), v) != options.ports.end()) {
                error = "port \"" + v + "\" is named twice";
                return std::nullopt;
            }
            options.ports.push_back(v);
        } else if (arg == "--json") {
            options.jsonFile = v;
        } else if (arg == "--all-ports") {
            options.allPorts = true;
        } else if (arg == "--watch") {
            options.watch = true;
        } else if (arg == "--bench-child") {
            options.benchChild = true;
        } else if (arg == "--descriptor") {
            options.descriptorFile = v;
        } else if (arg == "--max-restarts") {
            std::uint32_t n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc() || end != v.data() + v.size()) {
                error = "--max-restarts needs a whole number, not \"" + v + "\"";
                return std::nullopt;
            }
            options.maxRestarts = n;
        } else if (arg == "--read-info-only") {
            options.readInfoOnly = true;
        } else if (arg == "--no-class-check") {
            options.noClassCheck = true;
        } else if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--list-ports") {
            options.listPorts = true;
        } else if (arg == "--firmware") {
            options.firmware = true;
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            error = "unknown option \"" + arg + "\"";
            return std::nullopt;
        }
    }
    const bool listing = options.listPorts || options.firmware;
    const bool portsGiven = !options.ports.empty() || options.allPorts || options.watch;
    if (!options.help && !options.version && !listing && !portsGiven) {
        error = "--port is missing";
        return std::nullopt;
    }
    if (options.benchChild && (options.ports.size() != 1 || options.benchMode())) {
        error = "--bench-child runs one --port";
        return std::nullopt;
    }
    return options;
}

int exitStatusForError(std::int32_t errorCode) {
    switch (errorCode) {
        case cEX_PORT_OPEN:
        case cEX_PORT_IO:
        case cEX_CANCEL:
        case cEX_WRONG_LOGGER:
        case cEX_LOGGER_EXCEPTION:
        case cEX_VERIFY:
        case cEX_NO_UPDATE:
        case cEX_INFO_ONLY:
        case cEX_KE_TIMEOUT:
        case cEX_KE_CRC:
        case cEX_KE_POR:
        case cEX_KE_NAK:
        case cEX_KE_ANSWER:
            return errorCode;
        default:
            return kExitOtherFailure;
    }
}

}  // namespace qor::cli
