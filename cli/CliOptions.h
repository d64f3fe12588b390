// Command line of the headless front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::cli {

struct CliOptions {
    std::vector<std::string> ports;  // in the order given, each once
    bool allPorts = false;           // every port the window offers
    bool watch = false;              // go on with every logger port that arrives
    std::string jsonFile;            // the summary appended as JSON lines
    // One run of bench mode in a process of its own, started by the bench: its report lines, then
    // the run's record for the summary, on standard output; "cancel" on standard input cancels.
    bool benchChild = false;
    bool readInfoOnly = false;
    bool noClassCheck = false;
    std::string descriptorFile;
    std::optional<std::uint32_t> maxRestarts;  // none: restart without limit, like the window
    bool yes = false;
    bool listPorts = false;  // print the port list and start nothing
    bool firmware = false;   // print the firmware overview and start nothing
    bool help = false;
    bool version = false;

    // Several ports at the same time, each in its own process, with a summary at the end: more
    // than one --port, or any option that only this mode has.
    bool benchMode() const { return ports.size() > 1 || allPorts || watch || !jsonFile.empty(); }
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
