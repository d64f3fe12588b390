#include "cli/Listings.h"

#include <algorithm>
#include <array>

#include "cli/CliFrontEnd.h"
#include "frontend/PortNames.h"

namespace qor::cli {
namespace {

void printLine(std::ostream& out, const OverviewRow& cells,
               const std::array<std::size_t, kOverviewColumnCount>& widths) {
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column) {
        line += cells[column];
        if (column + 1 < cells.size()) {
            line.append(widths[column] - cells[column].size() + 2, ' ');
        }
    }
    out << line << "\n";
}

}  // namespace

void printPortNames(std::ostream& out, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        out << name << "\n";
    }
}

void printOverview(std::ostream& out, const std::vector<OverviewRow>& rows) {
    OverviewRow captions;
    std::array<std::size_t, kOverviewColumnCount> widths{};
    for (std::size_t column = 0; column < kOverviewColumnCount; ++column) {
        captions[column] = kOverviewColumns[column];
        widths[column] = captions[column].size();
        for (const OverviewRow& row : rows) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    printLine(out, captions, widths);
    for (const OverviewRow& row : rows) {
        printLine(out, row, widths);
    }
}

int printListings(const CliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.listPorts) {
        printPortNames(out, listOfferedPorts());
    }
    if (options.firmware) {
        if (!options.descriptorFile.empty() && !selectDescriptorFile(options.descriptorFile, err)) {
            return kExitOtherFailure;
        }
        if (options.listPorts) {
            out << "\n";
        }
        printOverview(out, overviewRows());
    }
    return kExitSuccess;
}

}  // namespace qor::cli
