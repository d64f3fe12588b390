// Whole update runs: the worker, the DFU tool it carries and the notification texts, against
// the simulated logger.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"
#include "cli/CliFrontEnd.h"
#include "engine/KECommThread.h"
#include "engine/RunState.h"
#include "platform/Resource.h"
#include "tests/support/SimProcess.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

using test::RunningSim;

// The report lines without their time stamps ("hh-nn-ss -> ").
Lines reportLines(const std::string& out) {
    Lines lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.size() >= 12 && line.compare(8, 4, " -> ") == 0 ? line.substr(12)
                                                                             : line);
    }
    return lines;
}

bool contains(const Lines& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

struct RunResult {
    int status;
    Lines report;
};

class UpdateRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CommThreadClass = &createWorker<TKECommThread>;
        tmp_ = fs::temp_directory_path() /
               ("qor-update-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(tmp_);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        cancelFlag = false;
    }
    void TearDown() override {
        EXPECT_TRUE(TCommThread::waitForWorkers(15000));
        ::unsetenv("TMPDIR");
        fs::remove_all(tmp_);
        checkClassFlag = true;
    }

    RunResult run(const std::string& port, cli::CliOptions options = {}) {
        options.ports = {port};
        options.yes = true;
        if (!options.maxRestarts) {
            options.maxRestarts = 0;
        }
        std::ostringstream out;
        std::ostringstream err;
        cli::CliFrontEnd frontEnd(options, out, err, false);
        const int status = frontEnd.run();
        return {status, reportLines(out.str())};
    }

    bool tmpIsEmpty() const { return fs::is_empty(tmp_); }

    fs::path tmp_;
};

sim::Config withIdentity(std::function<void(sim::Identity&)> change) {
    sim::Config config;
    change(config.identity);
    return config;
}

TEST_F(UpdateRunTest, BuiltInImageUpdatesTheModuleTo205) {
    RunningSim logger{sim::Config{}};
    const RunResult result = run(logger.path());
    EXPECT_EQ(result.status, 0);
    const std::string module = getClassName(26156, 0xFFFF);
    const std::string image = getClassName(26156, 35);
    const std::string print = getPrintName(35);
    const std::string platform = getPlatformName(18);
    // Identification in its order, the scan, the selection, the tool's lines, the check.
    const Lines expectedStart = {
        "Start at serial port \"" + logger.path() + "\"",
        "Class 26145 [" + getClassName(26145, 0xFFFF) + "]",
        "Version 1.10",
        "Update class 26156 [" + module + "]",
        "Platform 18 [" + platform + "]",
        "Print 35 [" + print + "]",
        "Class 26156 [" + module + "]",
        "Version 2.1",
        "Print 35 [" + print + "]",
        "Platform 18 [" + platform + "]",
        "Check " + image + " V2.05, " + print + ", BL5.0",
        "Update " + image + " V2.05, " + print + ", BL5.0",
        "Start programming.",
    };
    ASSERT_GE(result.report.size(), expectedStart.size());
    EXPECT_EQ(Lines(result.report.begin(), result.report.begin() + expectedStart.size()),
              expectedStart);
    const Lines expectedEnd = {
        "Device programmed.",
        "complete",
        "Class 26156 [" + module + "]",
        "Version 2.5",
        "Update " + image + " V2.05 succesfully completed.",
    };
    ASSERT_GE(result.report.size(), expectedEnd.size());
    EXPECT_EQ(Lines(result.report.end() - expectedEnd.size(), result.report.end()), expectedEnd);
    // Progress rises to 99 in between, never 100.
    std::vector<int> progress;
    for (const auto& line : result.report) {
        if (line.rfind("Progress ", 0) == 0) {
            progress.push_back(std::stoi(line.substr(9)));
        }
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 99);
    EXPECT_EQ(logger.sim().moduleFirmware().version, 0x0205);
    EXPECT_EQ(selectedFirmwareIndex.load(), 1);
    EXPECT_TRUE(tmpIsEmpty());
}

// Runs that end before anything reaches the module.
TEST_F(UpdateRunTest, IdentificationDecidesBeforeAnyTransfer) {
    struct Case {
        const char* name;
        std::function<void(sim::Identity&)> identity;
        bool readInfoOnly;
        bool noClassCheck;
        int status;
        Lines mustHave;
        Lines mustNotHave;
    };
    const std::string check =
        "Check " + getClassName(26156, 35) + " V2.05, " + getPrintName(35) + ", BL5.0";
    const std::vector<Case> cases = {
        {"logger version 1.7",
         [](sim::Identity& i) { i.loggerVersion = 0x0107; },
         false,
         false,
         40,
         {"Version 1.7", "Aborted because no update is available for this logger!"},
         {"Update class 26156 [" + getClassName(26156, 0xFFFF) + "]"}},
        {"logger version 1.8 is accepted",
         [](sim::Identity& i) { i.loggerVersion = 0x0108; },
         true,
         false,
         70,
         {"Version 1.8", check, "Only read update info!"},
         {}},
        {"another logger class",
         [](sim::Identity& i) { i.loggerClass = 26135; },
         false,
         false,
         40,
         {"Aborted because no update is available for this logger!"},
         {}},
        {"update class 26150",
         [](sim::Identity& i) { i.updateClass = 26150; },
         false,
         false,
         47,
         {"There is no update available or the logger has another update ID!"},
         {check}},
        {"WLAN class with the class check",
         [](sim::Identity& i) { i.updateClass = 26155; },
         false,
         false,
         47,
         {check, "There is no update available or the logger has another update ID!"},
         {}},
        {"no firmware version",
         [](sim::Identity& i) { i.firmware.fwClass = 0; },
         true,
         false,
         70,
         {"Unknown version of radio module.", check, "Only read update info!"},
         {}},
        {"print without a name",
         [](sim::Identity& i) { i.print = 999; },
         false,
         false,
         47,
         {"Print 65535 [?]", check},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunningSim logger{withIdentity(c.identity)};
        cli::CliOptions options;
        options.readInfoOnly = c.readInfoOnly;
        options.noClassCheck = c.noClassCheck;
        const RunResult result = run(logger.path(), options);
        EXPECT_EQ(result.status, c.status);
        for (const auto& line : c.mustHave) {
            EXPECT_TRUE(contains(result.report, line)) << line;
        }
        for (const auto& line : c.mustNotHave) {
            EXPECT_FALSE(contains(result.report, line)) << line;
        }
        const std::string transcript = logger.transcript();
        // Nothing went through to the module: no pass-through command, no pass-through.
        EXPECT_EQ(transcript.find("rx logger 9600 82 30"), std::string::npos);
        EXPECT_EQ(transcript.find("pass-through on"), std::string::npos);
        if (c.status == 40 && !c.mustNotHave.empty()) {
            EXPECT_EQ(transcript.find("rx logger 9600 83 30"), std::string::npos);
        }
    }
    EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(UpdateRunTest, WithoutTheClassCheckAModuleThatKeepsItsClassFailsVerification) {
    RunningSim logger{withIdentity([](sim::Identity& i) { i.updateClass = 26155; })};
    cli::CliOptions options;
    options.noClassCheck = true;
    const RunResult result = run(logger.path(), options);
    EXPECT_EQ(result.status, 45);
    EXPECT_TRUE(contains(result.report, "Device programmed."));
    EXPECT_TRUE(contains(result.report, "Class 26155 [" + getClassName(26155, 0xFFFF) + "]"));
    EXPECT_EQ(result.report.back(), "Update was not successfull!");
}

TEST_F(UpdateRunTest, ModuleReportingAnotherVersionFailsVerification) {
    RunningSim logger{withIdentity([](sim::Identity& i) { i.versionAfterUpdate = 0x0204; })};
    const RunResult result = run(logger.path());
    EXPECT_EQ(result.status, 45);
    EXPECT_TRUE(contains(result.report, "Version 2.4"));
    EXPECT_EQ(result.report.back(), "Update was not successfull!");
}

TEST_F(UpdateRunTest, ToolErrorLineReachesTheReport) {
    sim::Config config;
    config.nordic.silent = true;
    RunningSim logger{config};
    const RunResult result = run(logger.path());
    EXPECT_TRUE(contains(result.report, "Error: No ping response after opening COM port"));
    EXPECT_TRUE(contains(result.report, "complete"));
    // The module kept its old firmware.
    EXPECT_TRUE(contains(result.report, "Version 2.1"));
    EXPECT_EQ(result.status, 45);
    EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(UpdateRunTest, CancelDuringTheRestartWaitEndsWithinASecond) {
    RunningSim logger{sim::Config{}};
    std::atomic<bool> stop{false};
    // Cancel as soon as the tool has finished: the worker is then in its restart wait.
    std::thread canceller([&] {
        while (!stop) {
            if (logger.sim().passThroughSessionsEnded() > 0 ||
                logger.sim().moduleFirmware().version == 0x0205) {
                cancelFlag = true;
                return;
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = run(logger.path());
    stop = true;
    canceller.join();
    EXPECT_EQ(result.status, 20);
    EXPECT_EQ(result.report.back(), "Process cancelled!");
    // No verification: the port was not reopened for it.
    EXPECT_EQ(std::count_if(result.report.begin(), result.report.end(),
                            [](const std::string& l) { return l.rfind("Version ", 0) == 0; }),
              2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 9s);
}

TEST_F(UpdateRunTest, NoAnswerRestartsTheRunAndGivesUpWhenRestartsAreUsedUp) {
    sim::Config config;
    config.linkFaults.push_back({sim::LinkFaultKind::NoAnswer, {1, {}}, 1, true, 0});
    RunningSim logger{config};
    cli::CliOptions options;
    options.maxRestarts = 1;
    const RunResult result = run(logger.path(), options);
    EXPECT_EQ(result.status, 30);
    EXPECT_EQ(std::count(result.report.begin(), result.report.end(),
                         "Repeat update because communication error!"),
              2);
    EXPECT_EQ(std::count(result.report.begin(), result.report.end(),
                         "Start at serial port \"" + logger.path() + "\""),
              2);
}

TEST_F(UpdateRunTest, ToolThatCannotBeStartedEndsWithAFatalException) {
    // A tool file the system cannot execute, in place of the real one.
    const auto real = platform::findResource("UPDATE_PROG");
    static const std::uint8_t notAProgram[] = "this is not a program";
    platform::ResourceRegistration replace("UPDATE_PROG", notAProgram, sizeof notAProgram);
    RunningSim logger{sim::Config{}};
    const RunResult result = run(logger.path());
    platform::ResourceRegistration restore("UPDATE_PROG", real.data(), real.size());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.report.back(), "Fatal Exception has occurred!");
    EXPECT_FALSE(contains(result.report, "complete"));
    // The private folder is gone with both files.
    EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(UpdateRunTest, ToolFilesLiveInAPrivateFolderDuringTheRun) {
    RunningSim logger{sim::Config{}};
    std::atomic<bool> stop{false};
    std::atomic<bool> seen{false};
    std::atomic<unsigned> mode{0};
    std::vector<std::string> names;
    std::thread watcher([&] {
        while (!stop && !seen) {
            for (const auto& entry : fs::directory_iterator(tmp_)) {
                std::vector<std::string> found;
                std::error_code ec;
                for (const auto& file : fs::directory_iterator(entry.path(), ec)) {
                    found.push_back(file.path().filename().string());
                }
                if (found.size() == 2) {
                    struct stat info {};
                    ::stat(entry.path().c_str(), &info);
                    mode = info.st_mode & 0777;
                    std::sort(found.begin(), found.end());
                    names = found;
                    seen = true;
                }
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    const RunResult result = run(logger.path());
    stop = true;
    watcher.join();
    EXPECT_EQ(result.status, 0);
    ASSERT_TRUE(seen);
    EXPECT_EQ(mode.load(), 0700u);
    EXPECT_EQ(names, (std::vector<std::string>{"qor_ble_dfu", "qor_data.zip"}));
    EXPECT_TRUE(tmpIsEmpty());
}

}  // namespace
}  // namespace qor
