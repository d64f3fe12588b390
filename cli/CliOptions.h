// Command line of the headless front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::cli {

struct CliOptions {
    std::string port;
    bool readInfoOnly = false;
    bool noClassCheck = false;
    std::string descriptorFile;
    std::optional<std::uint32_t> maxRestarts;  // none: restart without limit, like the window
    bool yes = false;
    bool listPorts = false;  // print the port list and start nothing
    bool firmware = false;   // print the firmware overview and start nothing
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name; on a usage error returns nothing and sets error.
std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& args, std::string& error);

std::string cliUsage();

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitOtherFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRestartsUsedUp = 30;

// The exit status after notification 10 with this error value.
int exitStatusForError(std::int32_t errorCode);

}  // namespace qor::cli
