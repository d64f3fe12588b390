#include "cli/CliOptions.h"

#include <charconv>

#include "engine/Exceptions.h"

namespace qor::cli {

std::string cliUsage() {
    return "Usage: qor-ble-update-cli --port NAME [options]\n"
           "       qor-ble-update-cli --list-ports | --firmware [--descriptor FILE]\n"
           "Updates the Bluetooth LE radio module of a QOR BLE-Z40 logger, as the window's\n"
           "Update button does, and prints every report line.\n"
           "\n"
           "  --port NAME          serial port of the logger (COM3; /dev/ttyUSB0 on Linux)\n"
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
           "70, 100 to 104); 1 any other failure; 2 wrong usage; 30 restarts used up.\n";
}

std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    CliOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (arg == "--port") {
            const std::string* v = value("--port");
            if (v == nullptr) {
                return std::nullopt;
            }
            options.port = *v;
        } else if (arg == "--descriptor") {
            const std::string* v = value("--descriptor");
            if (v == nullptr) {
                return std::nullopt;
            }
            options.descriptorFile = *v;
        } else if (arg == "--max-restarts") {
            const std::string* v = value("--max-restarts");
            if (v == nullptr) {
                return std::nullopt;
            }
            std::uint32_t n = 0;
            const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
            if (ec != std::errc() || end != v->data() + v->size()) {
                error = "--max-restarts needs a whole number, not \"" + *v + "\"";
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
    if (!options.help && !options.version && !listing && options.port.empty()) {
        error = "--port is missing";
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
