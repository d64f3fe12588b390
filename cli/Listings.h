// What the headless front end prints instead of a run: the port list and the firmware overview.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "frontend/FirmwareOverview.h"

namespace qor::cli {

// The column captions, then one line per row; each column as wide as its widest text, columns
// two blanks apart.
void printTable(std::ostream& out, const std::vector<std::string>& captions,
                const std::vector<std::vector<std::string>>& rows);

// One port name per line, in the order the window's port box lists them.
void printPortNames(std::ostream& out, const std::vector<std::string>& names);

// The overview's column captions and rows as a table (printTable).
void printOverview(std::ostream& out, const std::vector<OverviewRow>& rows);

// --list-ports and --firmware (with --descriptor, the file is read first and its row leads, as
// after the window's File version). Returns the exit status.
int printListings(const CliOptions& options, std::ostream& out, std::ostream& err);

}  // namespace qor::cli
