// What a bench session prints while its runs go on: every report line of every run, whole and
// with its port in front ("COM5 | 14-05-09 -> Progress 42%"). On a terminal that takes cursor
// moves, a run's progress reports do not scroll by: each running port has one progress line
// under the report lines instead, redrawn in place. Lines come from one reader thread per run;
// each is written whole.
#pragma once

#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qor::cli {

// The percentage of a report line "hh-nn-ss -> Progress 42%"; nothing for any other line.
std::optional<int> progressOfReportLine(const std::string& line);

class BenchOutput {
  public:
    // live: draw the progress lines on out (a terminal that takes cursor moves).
    BenchOutput(std::ostream& out, std::ostream& err, bool live);

    void runStarted(const std::string& port);
    // One whole line the run printed.
    void runLine(const std::string& port, const std::string& line);
    void runEnded(const std::string& port);
    // A line of the bench's own, on err.
    void note(const std::string& text);

  private:
    struct Running {
        std::string port;
        int percent = 0;
        std::string latest;  // the text of the last report line other than progress
    };

    Running* find(const std::string& port);
    // The progress lines: taken off the screen before other lines are written, put back after.
    void erase();
    void draw();

    std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
    bool live_;
    std::vector<Running> running_;
    std::size_t drawn_ = 0;
};

}  // namespace qor::cli
