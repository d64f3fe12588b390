#include "tests/support/SimProcess.h"

#include <sys/wait.h>

#include <cstdio>

namespace qor::test {

RunningSim::RunningSim(sim::Config config)
    : sim_(std::make_unique<sim::Simulator>(std::move(config), &transcript_)),
      thread_([this] { sim_->run(); }) {}

RunningSim::~RunningSim() {
    transcript();
}

std::string RunningSim::transcript() {
    sim_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    return transcript_.str();
}

ProgramOutcome runProgram(const std::string& program, const std::string& args) {
    const std::string command = program + " " + args + " </dev/null 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {-1, {}};
    }
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int raw = ::pclose(pipe);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

bool endsWithReportLine(const std::string& out, const std::string& text) {
    const std::string tail = " -> " + text + "\n";
    return out.size() >= tail.size() &&
           out.compare(out.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace qor::test
