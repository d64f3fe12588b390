// What a long-lived process holds: open file descriptors, threads, resident memory (Linux).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace qor::test {

struct ProcessFigures {
    int fds = 0;
    int threads = 0;
    int children = 0;  // child processes, ended ones not yet reaped included
    std::int64_t residentKb = 0;
};

inline int countEntries(const char* folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++n;
    }
    return n;
}

inline int countChildren() {
    const std::string self = std::to_string(getpid());
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // "pid (comm) state ppid ...": the command may hold blanks, so read after its ")".
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        std::string ppid;
        std::istringstream rest(line.substr(close + 1));
        rest >> state >> ppid;
        n += ppid == self ? 1 : 0;
    }
    return n;
}

// The figures once the run's worker has gone. A worker counts itself out just before its thread
// ends, so that thread may still be listed for a moment: threads are counted as the fewest seen
// within 200 ms (a thread that stays is counted all the same).
inline ProcessFigures sampleProcess() {
    ProcessFigures figures;
    figures.threads = countEntries("/proc/self/task");
    for (int i = 0; i < 20; ++i) {
        usleep(10000);
        figures.threads = std::min(figures.threads, countEntries("/proc/self/task"));
    }
    // The directory listing holds one descriptor of its own, the same one every time.
    figures.fds = countEntries("/proc/self/fd");
    figures.children = countChildren();
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0;
    std::int64_t resident = 0;
    statm >> size >> resident;
    figures.residentKb = resident * sysconf(_SC_PAGESIZE) / 1024;
    return figures;
}

// Prints the figures after the early and the last run and judges them: descriptors and threads
// must not grow, resident memory by at most 1 MB. Returns the process's exit status.
inline int judgeLongDay(const char* what, int earlyRun, const ProcessFigures& early, int lastRun,
                        const ProcessFigures& last, int failedRuns) {
    std::printf(
        "%s: after run %d / run %d: open descriptors %d / %d, threads %d / %d, child processes "
        "%d / %d, resident memory %lld / %lld kB (%+lld kB); failed runs: %d\n",
        what, earlyRun, lastRun, early.fds, last.fds, early.threads, last.threads, early.children,
        last.children, static_cast<long long>(early.residentKb),
        static_cast<long long>(last.residentKb),
        static_cast<long long>(last.residentKb - early.residentKb), failedRuns);
    const bool grew = last.fds > early.fds || last.threads > early.threads ||
                      last.children > early.children || last.residentKb - early.residentKb > 1024;
    if (grew) {
        std::printf("%s: the process grew\n", what);
    }
    return grew || failedRuns > 0 ? 1 : 0;
}

}  // namespace qor::test
