// The end of a bench session: one row per run, as a table, as JSON lines, and the exit status.
#pragma once

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "cli/RunFacts.h"

namespace qor::cli {

struct BenchRow {
    std::string port;
    RunFacts facts;
    int exitStatus = 0;
    double seconds = 0;         // from the start of the run's process to its end
    std::time_t startedAt = 0;  // wall-clock time of that start
};

// The table: port, logger class and version, module firmware before and after, exit status,
// duration and outcome; a value the run never learnt is "-", a module that reported no firmware
// "unknown".
void printSummary(std::ostream& out, const std::vector<BenchRow>& rows);

// One JSON object on one line, for a record kept across sessions: port, start (UTC, ISO 8601),
// the facts (classes as numbers, versions as "2.05", null where unknown), outcome, exit status,
// duration in seconds and the program's version.
std::string jsonLine(const BenchRow& row);

// 0 when every run succeeded, otherwise the exit status of the first failed row.
int benchExitStatus(const std::vector<BenchRow>& rows);

}  // namespace qor::cli
