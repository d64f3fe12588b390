// Bench mode: its parts (run facts, summary, JSON lines, output) and the program against several
// simulated loggers at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/BenchOutput.h"
#include "cli/BenchSummary.h"
#include "cli/CliOptions.h"
#include "cli/RunFacts.h"
#include "frontend/PortNames.h"
#include "platform/CommandLine.h"
#include "platform/PortTable.h"
#include "tests/support/SimProcess.h"

namespace qor::cli {
namespace {

using test::RunningSim;
using Json = nlohmann::json;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Replaced at once, so that the program never reads half a table.
void writeTable(const std::string& path,
                const std::vector<std::pair<std::string, std::string>>& rows) {
    {
        std::ofstream file(path + ".new");
        for (const auto& [device, port] : rows) {
            file << device << "=" << port << "\n";
        }
    }
    std::filesystem::rename(path + ".new", path);
}

Notification note(std::uint32_t code, std::int32_t value = 0) {
    return {code, value, {}};
}

TEST(BenchOptions, PortsAndModes) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> ports;
        bool allPorts, watch;
        std::string json;
        bool bench;
    };
    const Case cases[] = {
        {{"--port", "COM3"}, {"COM3"}, false, false, "", false},
        {{"--port", "COM3", "--port", "COM5"}, {"COM3", "COM5"}, false, false, "", true},
        {{"--all-ports"}, {}, true, false, "", true},
        {{"--watch"}, {}, false, true, "", true},
        {{"--port", "COM3", "--json", "r.json"}, {"COM3"}, false, false, "r.json", true},
        {{"--port", "COM5", "--all-ports", "--watch"}, {"COM5"}, true, true, "", true},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto options = parseCliOptions(c.args, error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->ports, c.ports);
        EXPECT_EQ(options->allPorts, c.allPorts);
        EXPECT_EQ(options->watch, c.watch);
        EXPECT_EQ(options->jsonFile, c.json);
        EXPECT_EQ(options->benchMode(), c.bench) << c.args.size();
    }
    std::string error;
    EXPECT_FALSE(parseCliOptions({"--port", "COM3", "--port", "COM5", "--port", "COM3"}, error));
    EXPECT_EQ(error, "port \"COM3\" is named twice");
    EXPECT_FALSE(parseCliOptions({"--all-ports", "--json"}, error));
}

// Notification orders of whole runs, as the update procedure posts them.
TEST(RunFacts, LoggerAndModuleFirmwareBeforeAndAfter) {
    const std::vector<Notification> success = {
        note(20, 26145), note(21, 0x010A),                              // logger
        note(25, 26156), note(22, 18),     note(23, 35),                // module hardware
        note(20, 26156), note(21, 0x0201), note(23, 35), note(22, 18),  // firmware before
        note(27, 1),     note(26),         note(1, 50),                 // selection, transfer
        note(20, 26156), note(21, 0x0205), note(0)};                    // firmware after
    RunFactsRecorder recorder;
    for (const Notification& n : success) {
        recorder.take(n);
    }
    RunFacts expected{26145, 0x010A, 26156, 0x0201, 26156, 0x0205, {}};
    EXPECT_EQ(recorder.facts(), expected);

    // No answer after the transfer: the restart identifies everything again and the firmware
    // now reports the new version, but "before" stays what the module had at first.
    RunFactsRecorder restarted;
    for (const Notification& n : success) {
        restarted.take(n.code == 0 ? note(13) : n);
    }
    restarted.take(note(20, 26145));
    restarted.take(note(21, 0x010A));
    restarted.take(note(25, 26156));
    restarted.take(note(20, 26156));
    restarted.take(note(21, 0x0205));
    EXPECT_EQ(restarted.facts(), expected);

    // A module without known firmware, and a run that ends at the wrong logger.
    RunFactsRecorder unknown;
    for (const Notification& n : {note(20, 26145), note(21, 0x010A), note(25, 26156), note(29)}) {
        unknown.take(n);
    }
    EXPECT_EQ(unknown.facts(), (RunFacts{26145, 0x010A, 0, {}, {}, {}, {}}));
}

TEST(RunFacts, RecordLineCarriesTheFactsAndNothingElseIsOne) {
    const RunFacts facts{26145, 0x010A, 0, {}, 26156, 0x0205, "Update was \"not\" successfull!"};
    EXPECT_EQ(readRecordLine(recordLine(facts)), facts);
    for (const std::string& other :
         {std::string("12-00-01 -> Version 2.5"), std::string("qor-ble-update-cli: no"),
          recordLine(facts).substr(0, 20)}) {
        EXPECT_FALSE(readRecordLine(other)) << other;
    }
}

const BenchRow kDone{"COM5", {26145, 0x010A, 26156, 0x0201, 26156, 0x0205, "Done."}, 0, 31.04, 0};
const BenchRow kGone{"COM12", {{}, {}, {}, {}, {}, {}, "Port gone."}, 10, 1.0, 86400 + 3661};

TEST(BenchSummary, TableOneRowPerRunInTheOrderGiven) {
    std::ostringstream out;
    printSummary(out, {kDone, kGone});
    EXPECT_EQ(out.str(),
              "Port   Logger       Module before  Module after  Exit  Time    Outcome\n"
              "COM5   26145 V1.10  26156 V2.01    26156 V2.05   0     31.0 s  Done.\n"
              "COM12  -            -              -             10    1.0 s   Port gone.\n");
}

TEST(BenchSummary, ExitStatusOfTheFirstFailedRun) {
    BenchRow verify = kDone;
    verify.exitStatus = 45;
    const std::pair<std::vector<BenchRow>, int> cases[] = {
        {{}, 0},
        {{kDone, kDone}, 0},
        {{kDone, kGone, verify}, 10},
        {{verify, kDone, kGone}, 45},
    };
    for (const auto& [rows, status] : cases) {
        EXPECT_EQ(benchExitStatus(rows), status) << rows.size();
    }
}

// The facts of a default simulated logger updated from 2.01 to 2.05, as a JSON line has them.
void expectDefaultLoggerUpdated(const Json& run) {
    EXPECT_EQ(run["loggerClass"], 26145);
    EXPECT_EQ(run["loggerVersion"], "1.10");
    EXPECT_EQ(run["moduleClassBefore"], 26156);
    EXPECT_EQ(run["moduleVersionBefore"], "2.01");
    EXPECT_EQ(run["moduleClassAfter"], 26156);
    EXPECT_EQ(run["moduleVersionAfter"], "2.05");
}

TEST(BenchSummary, JsonLineFieldByField) {
    for (const BenchRow& row : {kDone, kGone}) {
        const std::string line = jsonLine(row);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const Json json = Json::parse(line);
        EXPECT_EQ(json["port"], row.port);
        EXPECT_EQ(json["outcome"], row.facts.outcome);
        EXPECT_EQ(json["exitStatus"], row.exitStatus);
        EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), row.port == "COM5" ? 31.0 : 1.0);
        EXPECT_EQ(json["program"].get<std::string>().rfind("qor-ble-update-cli ", 0), 0u);
    }
    const Json done = Json::parse(jsonLine(kDone));
    EXPECT_EQ(done["start"], "1970-01-01T00:00:00Z");
    expectDefaultLoggerUpdated(done);
    const Json gone = Json::parse(jsonLine(kGone));
    EXPECT_EQ(gone["start"], "1970-01-02T01:01:01Z");
    for (const char* unknown : {"loggerClass", "loggerVersion", "moduleClassBefore",
                                "moduleVersionBefore", "moduleClassAfter", "moduleVersionAfter"}) {
        EXPECT_TRUE(gone[unknown].is_null()) << unknown;
    }
}

// Lines from several runs at once come out whole, each with its port in front.
TEST(BenchOutput, WholeLinesWithTheirPortFromManyThreads) {
    std::ostringstream out;
    std::ostringstream err;
    BenchOutput output(out, err, false);
    std::vector<std::thread> runs;
    for (int run = 0; run < 4; ++run) {
        runs.emplace_back([&output, run] {
            const std::string port = "COM" + std::to_string(run);
            for (int i = 0; i < 200; ++i) {
                output.runLine(port, "12-00-00 -> Progress " + std::to_string(i % 100) + "%");
            }
        });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    const std::vector<std::string> lines = linesOf(out.str());
    ASSERT_EQ(lines.size(), 800u);
    for (const std::string& line : lines) {
        const auto bar = line.find(" | ");
        ASSERT_NE(bar, std::string::npos) << line;
        EXPECT_EQ(line.substr(0, 3), "COM") << line;
        EXPECT_TRUE(progressOfReportLine(line.substr(bar + 3))) << line;
    }
}

// On a terminal the progress reports become one line per running port, redrawn in place.
TEST(BenchOutput, OnATerminalOneProgressLinePerPort) {
    std::ostringstream out;
    std::ostringstream err;
    BenchOutput output(out, err, true);
    output.runStarted("COM5");
    output.runStarted("COM7");
    output.runLine("COM5", "12-00-00 -> Start programming.");
    output.runLine("COM5", "12-00-01 -> Progress 50%");
    output.runLine("COM7", "12-00-01 -> Progress 10%");
    const std::string text = out.str();
    EXPECT_EQ(text.find("-> Progress"), std::string::npos) << text;
    EXPECT_NE(text.find("COM5 | 12-00-00 -> Start programming.\n"), std::string::npos);
    // The last drawing: both ports, erased before anything else is written.
    const std::string last = text.substr(text.rfind("\x1b[?7l"));
    EXPECT_EQ(last,
              "\x1b[?7lCOM5 | [##########..........]  50%  Start programming.\n"
              "COM7 | [##..................]  10%  \n\x1b[?7h");
    output.runEnded("COM5");
    output.runEnded("COM7");
    output.note("Stopping.");
    EXPECT_EQ(
        out.str().substr(text.size()),
        "\x1b[2A\r\x1b[J\x1b[?7lCOM7 | [##..................]  10%  \n\x1b[?7h\x1b[1A\r\x1b[J");
    EXPECT_EQ(err.str(), "Stopping.\n");
}

TEST(BenchOutput, ProgressLinesAreRecognisedExactly) {
    const std::pair<std::string, std::optional<int>> cases[] = {
        {"12-00-00 -> Progress 42%", 42},       {"12-00-00 -> Progress 0%", 0},
        {"12-00-00 -> Progress 42", {}},        {"12-00-00 -> Progress x%", {}},
        {"12-00-00 -> Start programming.", {}}, {"Progress 42%", {}},
    };
    for (const auto& [line, percent] : cases) {
        EXPECT_EQ(progressOfReportLine(line), percent) << line;
    }
}

TEST(BenchCommandLine, QuotedArgumentsComeBackUnchanged) {
    for (const std::string& arg :
         {std::string("COM5"), std::string("/dev/pts/3"), std::string(""), std::string("a b"),
          std::string(R"(C:\Program Files\)"), std::string(R"(say "hi")"),
          std::string(R"(\\server\a b\\)"), std::string(R"(x\"y)")}) {
        const auto args =
            platform::splitCommandLine(platform::quoteProgram("C:\\My Tools\\cli.exe") +
                                       " --port " + platform::quoteArgument(arg));
        ASSERT_EQ(args.size(), 3u) << arg;
        EXPECT_EQ(args[0], "C:\\My Tools\\cli.exe");
        EXPECT_EQ(args[2], arg);
    }
}

// The test seam of the port table: a file read anew at every call, filtered like the system's.
TEST(BenchPortTable, AFileStandsInForTheSystemsTable) {
    const std::string table = ::testing::TempDir() + "bench-seam-table.txt";
    std::ofstream(table) << "# ports of the bench\r\n\\Device\\VCP0=COM5\r\n\r\n"
                            "\\Device\\Serial0=COM1\nno separator\n\\device\\vcp1=COM7\n";
    ::setenv(platform::kSerialDeviceTableVariable, table.c_str(), 1);
    const std::vector<platform::SerialDevice> devices = platform::readSerialDevices();
    EXPECT_TRUE(platform::serialDevicesReadable());
    ::setenv(platform::kSerialDeviceTableVariable, (table + ".missing").c_str(), 1);
    EXPECT_FALSE(platform::serialDevicesReadable());
    EXPECT_TRUE(platform::readSerialDevices().empty());
    ::unsetenv(platform::kSerialDeviceTableVariable);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].deviceName, "\\Device\\VCP0");
    EXPECT_EQ(devices[0].portName, "COM5");
    EXPECT_EQ(offeredPortNames(devices), (std::vector<std::string>{"COM5", "COM7"}));
}

// ---- The program against simulated loggers ----

test::ProgramOutcome runCli(const std::string& args, const std::string& table = {}) {
    const std::string env =
        table.empty() ? std::string()
                      : std::string(platform::kSerialDeviceTableVariable) + "=" + table + " ";
    return test::runProgram(env + QOR_CLI_PATH, args);
}

// The summary's rows in order, each split at its column gaps.
std::vector<std::vector<std::string>> summaryRows(const std::string& out) {
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    for (const std::string& line : linesOf(out)) {
        if (line.rfind("Port ", 0) == 0) {
            inTable = true;
        } else if (inTable) {
            std::vector<std::string> cells;
            for (std::size_t at = 0; at < line.size();) {
                const auto gap = line.find("  ", at);
                cells.push_back(line.substr(at, gap - at));
                at = gap == std::string::npos ? line.size() : line.find_first_not_of(' ', gap);
            }
            rows.push_back(cells);
        }
    }
    return rows;
}

// Every line before the summary is a whole report line of one of the runs.
void expectWholeLinesOfRuns(const std::string& out, const std::vector<std::string>& ports) {
    for (const std::string& line : linesOf(out)) {
        if (line.empty()) {
            break;
        }
        bool ofARun = false;
        for (const std::string& port : ports) {
            ofARun = ofARun ||
                     (line.rfind(port + " | ", 0) == 0 && line.find(" -> ") == port.size() + 3 + 8);
        }
        EXPECT_TRUE(ofARun) << line;
    }
}

// The number of report lines of the port with this text.
std::size_t reportLines(const std::string& out, const std::string& port, const std::string& text) {
    std::size_t count = 0;
    for (const std::string& line : linesOf(out)) {
        const std::string tail = " -> " + text;
        count += line.rfind(port + " | ", 0) == 0 && line.size() >= tail.size() &&
                 line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    }
    return count;
}

std::string successText() {
    return "Update BLE module G2 V2.05 succesfully completed.";
}

TEST(BenchProgram, ThreeLoggersInParallelFromThePortTable) {
    std::vector<std::unique_ptr<RunningSim>> loggers;
    for (int i = 0; i < 4; ++i) {
        loggers.push_back(std::make_unique<RunningSim>(sim::Config{}));
    }
    // Three of the logger's USB ports and one of another kind, which is not offered.
    const std::string table = ::testing::TempDir() + "bench-table.txt";
    writeTable(table, {{"\\Device\\VCP0", loggers[0]->path()},
                       {"\\Device\\Serial0", loggers[3]->path()},
                       {"\\Device\\VCP1", loggers[1]->path()},
                       {"\\device\\vcp2", loggers[2]->path()}});
    const std::string record = ::testing::TempDir() + "bench-record.json";
    std::ofstream(record) << "{\"port\":\"COM1\",\"from\":\"an earlier session\"}\n";

    const test::ProgramOutcome o = runCli("--all-ports --yes --json " + record, table);
    EXPECT_EQ(o.status, 0) << o.out;
    const std::vector<std::string> ports = {loggers[0]->path(), loggers[1]->path(),
                                            loggers[2]->path()};
    expectWholeLinesOfRuns(o.out, ports);
    // At the same time: every run had started before the first one ended.
    const auto firstEnd = o.out.find(successText());
    for (const std::string& port : ports) {
        EXPECT_LT(o.out.find(port + " | "), firstEnd) << port;
    }

    const auto rows = summaryRows(o.out);
    ASSERT_EQ(rows.size(), 3u) << o.out;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::vector<std::string>& row = rows[i];
        ASSERT_EQ(row.size(), 7u) << o.out;
        EXPECT_EQ(row[0], ports[i]);
        EXPECT_EQ(row[1], "26145 V1.10");
        EXPECT_EQ(row[2], "26156 V2.01");
        EXPECT_EQ(row[3], "26156 V2.05");
        EXPECT_EQ(row[4], "0");
        EXPECT_EQ(row[6], successText());
    }
    EXPECT_EQ(o.out.find(loggers[3]->path() + " | "), std::string::npos);

    // Appended: the earlier line stays, one object per run follows.
    const std::vector<std::string> lines = linesOf(readFile(record));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Json::parse(lines[0])["from"], "an earlier session");
    std::set<std::string> recorded;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Json run = Json::parse(lines[i]);
        recorded.insert(run["port"].get<std::string>());
        expectDefaultLoggerUpdated(run);
        EXPECT_EQ(run["outcome"], successText());
        EXPECT_EQ(run["exitStatus"], 0);
        EXPECT_GT(run["seconds"].get<double>(), 5.0);
        EXPECT_LT(run["seconds"].get<double>(), 120.0);
        EXPECT_EQ(run["start"].get<std::string>().size(), 20u);
    }
    EXPECT_EQ(recorded, std::set<std::string>(ports.begin(), ports.end()));
}

TEST(BenchProgram, FailedRunsLeaveTheOthersAloneAndTheFirstFailureIsTheExitStatus) {
    RunningSim good{sim::Config{}};
    sim::Config keepsOld;
    keepsOld.identity.versionAfterUpdate = 0x0201;
    RunningSim stale{keepsOld};
    const std::string missing = "/dev/qor-no-such-port";
    const test::ProgramOutcome o = runCli("--port " + good.path() + " --port " + missing +
                                          " --port " + stale.path() + " --yes");
    // The missing port comes first in the order given.
    EXPECT_EQ(o.status, 10) << o.out;
    expectWholeLinesOfRuns(o.out, {good.path(), missing, stale.path()});
    const auto rows = summaryRows(o.out);
    ASSERT_EQ(rows.size(), 3u) << o.out;
    // In the order given, whatever order the runs ended in.
    EXPECT_EQ(rows[0], (std::vector<std::string>{good.path(), "26145 V1.10", "26156 V2.01",
                                                 "26156 V2.05", "0", rows[0][5], successText()}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{
                           missing, "-", "-", "-", "10", rows[1][5],
                           "Aborted because serial port \"" + missing + "\" is not ready!"}));
    EXPECT_EQ(rows[2],
              (std::vector<std::string>{stale.path(), "26145 V1.10", "26156 V2.01", "26156 V2.01",
                                        "45", rows[2][5], "Update was not successfull!"}));
}

TEST(BenchProgram, BadInputIsRefusedBeforeAnyRunStarts) {
    RunningSim logger{sim::Config{}};
    const std::string port = logger.path();
    const std::string noTable = ::testing::TempDir() + "no-such-table.txt";
    struct Case {
        std::string args;
        std::string table;
        std::string message;
    };
    const Case cases[] = {
        {"--port " + port + " --port /dev/x --port " + port, "",
         "port \"" + port + "\" is named twice"},
        {"--watch", noTable, "--watch cannot see ports arrive"},
        {"--port " + port + " --json " + ::testing::TempDir(), "", "--json: cannot append to"},
    };
    for (const Case& c : cases) {
        const test::ProgramOutcome o = runCli(c.args + " --yes", c.table);
        EXPECT_EQ(o.status, 2) << c.args;
        EXPECT_NE(o.out.find(c.message), std::string::npos) << o.out;
        EXPECT_EQ(o.out.find("Start at serial port"), std::string::npos) << o.out;
    }
}

TEST(BenchProgram, AllPortsWithoutALoggerPortStartsNothing) {
    const std::string table = ::testing::TempDir() + "bench-empty-table.txt";
    writeTable(table, {{"\\Device\\Serial0", "/dev/ttyS0"}});
    const test::ProgramOutcome o = runCli("--all-ports --yes", table);
    EXPECT_EQ(o.status, 10);
    EXPECT_NE(o.out.find("no logger port is plugged in"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("Start at serial port"), std::string::npos) << o.out;
}

// The program running in the background with its output read as it comes.
class WatchingCli {
  public:
    WatchingCli(const std::string& table, const std::vector<std::string>& args) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::setenv(platform::kSerialDeviceTableVariable, table.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(QOR_CLI_PATH)};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(QOR_CLI_PATH, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~WatchingCli() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    WatchingCli(const WatchingCli&) = delete;
    WatchingCli& operator=(const WatchingCli&) = delete;

    // Reads until done(output) holds; false when it did not within a minute.
    bool waitUntil(const std::function<bool(const std::string&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done(output_)) {
            if (std::chrono::steady_clock::now() > deadline || !readSome(500)) {
                return false;
            }
        }
        return true;
    }
    void interrupt() { ::kill(pid_, SIGINT); }
    int exitStatus() {
        while (readSome(60000)) {
        }
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    const std::string& output() const { return output_; }

  private:
    // False at the end of the output.
    bool readSome(int timeoutMs) {
        pollfd wait{out_, POLLIN, 0};
        if (::poll(&wait, 1, timeoutMs) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// Loggers plugged in while the bench watches: every arrival is updated once, a port that
// leaves and comes back is a new logger, Ctrl-C stops taking new ones and a second one cancels
// what still runs.
TEST(BenchProgram, WatchModeTakesArrivingLoggersUntilCtrlC) {
    RunningSim a{sim::Config{}};
    RunningSim b{sim::Config{}};
    RunningSim c{sim::Config{}};
    RunningSim other{sim::Config{}};
    const std::string table = ::testing::TempDir() + "bench-watch-table.txt";
    const std::pair<std::string, std::string> vcpA{"\\Device\\VCP0", a.path()};
    const std::pair<std::string, std::string> vcpB{"\\Device\\VCP1", b.path()};
    const std::pair<std::string, std::string> vcpC{"\\Device\\VCP2", c.path()};
    const std::pair<std::string, std::string> serial{"\\Device\\Serial0", other.path()};
    writeTable(table, {vcpA, serial});
    const auto lines = [](const std::string& port, const std::string& text, std::size_t count) {
        return [=](const std::string& out) { return reportLines(out, port, text) >= count; };
    };
    const std::string startA = "Start at serial port \"" + a.path() + "\"";
    const std::string done = successText();

    WatchingCli cli(table, {"--watch", "--yes"});
    ASSERT_TRUE(cli.waitUntil(lines(a.path(), startA, 1))) << cli.output();
    writeTable(table, {vcpA, serial, vcpB});
    ASSERT_TRUE(cli.waitUntil(lines(b.path(), "Start at serial port \"" + b.path() + "\"", 1)))
        << cli.output();
    // A unplugged and plugged in again while its run goes on: a new logger, whose run starts
    // when the first has ended.
    writeTable(table, {serial, vcpB});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    writeTable(table, {serial, vcpB, vcpA});
    ASSERT_TRUE(cli.waitUntil(lines(a.path(), startA, 2))) << cli.output();
    EXPECT_EQ(reportLines(cli.output(), a.path(), done), 1u) << cli.output();

    cli.interrupt();
    ASSERT_TRUE(cli.waitUntil([](const std::string& out) {
        return out.find("no new loggers are taken") != std::string::npos;
    })) << cli.output();
    writeTable(table, {serial, vcpB, vcpA, vcpC});
    // B finishes; A's second run is cancelled by the second Ctrl-C during its restart wait.
    ASSERT_TRUE(cli.waitUntil(lines(b.path(), done, 1))) << cli.output();
    ASSERT_TRUE(cli.waitUntil(lines(a.path(), "complete", 2))) << cli.output();
    cli.interrupt();
    EXPECT_EQ(cli.exitStatus(), 20) << cli.output();

    const auto rows = summaryRows(cli.output());
    ASSERT_EQ(rows.size(), 3u) << cli.output();
    const std::pair<std::string, std::string> expected[] = {
        {a.path(), "0"}, {b.path(), "0"}, {a.path(), "20"}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 7u) << cli.output();
        EXPECT_EQ(rows[i][0], expected[i].first);
        EXPECT_EQ(rows[i][4], expected[i].second);
    }
    EXPECT_EQ(rows[2][6], "Process cancelled!");
    // Neither the port of another kind nor the logger plugged in after Ctrl-C was touched.
    for (const std::string& untouched : {c.path(), other.path()}) {
        EXPECT_EQ(cli.output().find(untouched + " | "), std::string::npos) << cli.output();
    }
}

}  // namespace
}  // namespace qor::cli
