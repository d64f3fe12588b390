#include "cli/BenchSummary.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/Listings.h"

namespace qor::cli {
namespace {

// Fields in the order written, for a person reading the file.
using Json = nlohmann::ordered_json;

// "26156 V2.05", "26156" without a version, "-" when nothing is known.
std::string firmwareCell(const std::optional<std::uint16_t>& fwClass,
                         const std::optional<std::uint16_t>& version) {
    if (!fwClass) {
        return "-";
    }
    if (*fwClass == 0) {
        return "unknown";
    }
    std::string cell = std::to_string(*fwClass);
    if (version) {
        cell += " V" + versionText(*version);
    }
    return cell;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::string utcText(std::time_t time) {
    // gmtime's buffer is shared; the bench calls this on its one thread only.
    const std::tm* utc = std::gmtime(&time);
    char text[32] = "";
    if (utc != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    }
    return text;
}

Json number(const std::optional<std::uint16_t>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json version(const std::optional<std::uint16_t>& value) {
    return value ? Json(versionText(*value)) : Json(nullptr);
}

}  // namespace

void printSummary(std::ostream& out, const std::vector<BenchRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    for (const BenchRow& row : rows) {
        const RunFacts& f = row.facts;
        cells.push_back({row.port, firmwareCell(f.loggerClass, f.loggerVersion),
                         firmwareCell(f.moduleClassBefore, f.moduleVersionBefore),
                         firmwareCell(f.moduleClassAfter, f.moduleVersionAfter),
                         std::to_string(row.exitStatus), secondsText(row.seconds), f.outcome});
    }
    // The outcome, the longest text, last: on a narrow terminal only it wraps.
    printTable(out, {"Port", "Logger", "Module before", "Module after", "Exit", "Time", "Outcome"},
               cells);
}

std::string jsonLine(const BenchRow& row) {
    const RunFacts& f = row.facts;
    const Json line = {
        {"port", row.port},
        {"start", utcText(row.startedAt)},
        {"loggerClass", number(f.loggerClass)},
        {"loggerVersion", version(f.loggerVersion)},
        {"moduleClassBefore", number(f.moduleClassBefore)},
        {"moduleVersionBefore", version(f.moduleVersionBefore)},
        {"moduleClassAfter", number(f.moduleClassAfter)},
        {"moduleVersionAfter", version(f.moduleVersionAfter)},
        {"outcome", f.outcome},
        {"exitStatus", row.exitStatus},
        {"seconds", std::round(row.seconds * 10) / 10},
        {"program", "qor-ble-update-cli " QOR_VERSION},
    };
    return line.dump();
}

int benchExitStatus(const std::vector<BenchRow>& rows) {
    for (const BenchRow& row : rows) {
        if (row.exitStatus != 0) {
            return row.exitStatus;
        }
    }
    return 0;
}

}  // namespace qor::cli
