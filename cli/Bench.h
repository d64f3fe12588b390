// Bench mode: several loggers updated at the same time, each run in a process of its own (the
// engine's run state is process-wide), its report lines printed with its port in front, and a
// summary at the end. With --watch every logger port that arrives is updated too.
#pragma once

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/BenchOutput.h"
#include "cli/BenchSummary.h"
#include "cli/CliOptions.h"

namespace qor::cli {

class Bench {
  public:
    // The question about saved measurements: true on Yes.
    using Confirm = std::function<bool()>;

    // interrupts: how often the user has pressed Ctrl-C so far (counted by a signal handler).
    // live: the output is a terminal that takes cursor moves.
    Bench(CliOptions options, std::ostream& out, std::ostream& err, bool live,
          const std::atomic<int>& interrupts);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Checks the input, asks the question once, runs every port, prints the summary (and
    // appends it to the --json file) and returns the exit status.
    int run(const Confirm& confirm);

  private:
    struct Job;

    // Bad input, found before anything starts: false after saying why on err.
    bool checkInput();
    std::vector<std::string> portsAtHand() const;
    std::string childCommandLine(const std::string& port) const;
    void start(const std::string& port);
    // Rows for the runs that have ended; false while any run goes on.
    bool collectEnded();
    void cancelRunning();
    // The run's line in the --json file, when there is one.
    void appendRecord(const BenchRow& row);
    // Watch mode: the offered ports now; those that were not there before start once they
    // have been seen twice in a row, so that a port that is still being set up is left alone.
    void lookForArrivals();
    void startWaiting();

    CliOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    const std::atomic<int>& interrupts_;
    BenchOutput output_;
    std::string program_;
    std::ofstream json_;
    std::vector<std::unique_ptr<Job>> running_;
    std::vector<BenchRow> rows_;
    std::set<std::string> present_;     // offered ports known to be plugged in
    std::set<std::string> candidates_;  // offered ports seen once, not yet taken
    std::vector<std::string> waiting_;  // arrived while a run on the same port still went on
};

}  // namespace qor::cli
