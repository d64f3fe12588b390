// The simulator's command line: strict parsing into a Config, and the help text.
#pragma once

#include <string>
#include <vector>

#include "tools/sim/SimConfig.h"

namespace qor::sim {

struct ParsedOptions {
    enum class Outcome { Run, Help, Error } outcome = Outcome::Run;
    Config config;
    std::string error;  // for Error: what was wrong
};

ParsedOptions parseOptions(const std::vector<std::string>& args);

const std::string& helpText();

// Every option the parser takes (--help aside).
std::vector<std::string> optionNames();

}  // namespace qor::sim
