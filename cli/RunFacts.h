// What one update run found out about the logger and its radio module, gathered from its
// notifications, for the bench summary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/Notifications.h"

namespace qor::cli {

struct RunFacts {
    std::optional<std::uint16_t> loggerClass;
    std::optional<std::uint16_t> loggerVersion;
    // The module firmware before the transfer (class 0: the module reported none) and after it.
    std::optional<std::uint16_t> moduleClassBefore;
    std::optional<std::uint16_t> moduleVersionBefore;
    std::optional<std::uint16_t> moduleClassAfter;
    std::optional<std::uint16_t> moduleVersionAfter;
    std::string outcome;  // the run's final message

    bool operator==(const RunFacts&) const = default;
};

// Takes a run's notifications in order. Class and version notifications mean the logger before
// the module's hardware answer (25), the module's firmware until the transfer begins (26), and
// the firmware after it from then on. An automatic restart (13) identifies everything again: the
// logger and the firmware before keep what was seen first, the firmware after what was seen
// last.
class RunFactsRecorder {
  public:
    void take(const Notification& notification);
    RunFacts& facts() { return facts_; }
    const RunFacts& facts() const { return facts_; }

  private:
    enum class Stage { Logger, Module, After };
    Stage stage_ = Stage::Logger;
    RunFacts facts_;
};

// "2.05": major, then minor with two digits, as the final message writes a version.
std::string versionText(std::uint16_t word);

// The facts as one line for the bench that started the run, and back. The line begins with a
// marker that no report line has; readRecordLine gives nothing for any other line.
std::string recordLine(const RunFacts& facts);
std::optional<RunFacts> readRecordLine(const std::string& line);

}  // namespace qor::cli
