// The simulated logger served on a thread of the test, and the headless program run as a user
// would run it against it.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tools/sim/Simulator.h"

namespace qor::test {

class RunningSim {
  public:
    explicit RunningSim(sim::Config config);
    ~RunningSim();
    RunningSim(const RunningSim&) = delete;
    RunningSim& operator=(const RunningSim&) = delete;

    const std::string& path() const { return sim_->slavePath(); }
    sim::Simulator& sim() { return *sim_; }
    // Stops the simulator and returns its transcript.
    std::string transcript();

  private:
    std::ostringstream transcript_;
    std::unique_ptr<sim::Simulator> sim_;
    std::thread thread_;
};

struct ProgramOutcome {
    int status;       // exit status, -1 when the program did not exit normally
    std::string out;  // standard output and standard error together
};

// Runs program with the arguments (split by the shell) and standard input from /dev/null, so
// no terminal can answer a question.
ProgramOutcome runProgram(const std::string& program, const std::string& args);

// True when out's last line is a report line "hh-nn-ss -> text".
bool endsWithReportLine(const std::string& out, const std::string& text);

}  // namespace qor::test
