#include "cli/Listings.h"

#include <algorithm>
#include <iterator>

#include "cli/CliFrontEnd.h"
#include "frontend/PortNames.h"

namespace qor::cli {

void printTable(std::ostream& out, const std::vector<std::string>& captions,
                const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths(captions.size());
    for (std::size_t column = 0; column < captions.size(); ++column) {
        widths[column] = captions[column].size();
        for (const auto& row : rows) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    const auto printLine = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t column = 0; column < cells.size(); ++column) {
            line += cells[column];
            if (column + 1 < cells.size()) {
                line.append(widths[column] - cells[column].size() + 2, ' ');
            }
        }
        out << line << "\n";
    };
    printLine(captions);
    for (const auto& row : rows) {
        printLine(row);
    }
}

void printPortNames(std::ostream& out, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        out << name << "\n";
    }
}

void printOverview(std::ostream& out, const std::vector<OverviewRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    for (const OverviewRow& row : rows) {
        cells.emplace_back(row.begin(), row.end());
    }
    printTable(out,
               std::vector<std::string>(std::begin(kOverviewColumns), std::end(kOverviewColumns)),
               cells);
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
