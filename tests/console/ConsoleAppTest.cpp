#include "engine/console/OruConsoleApp.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/console/OruPipeFilters.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using qor::TOruAnsiSBCSPipeFilter;
using qor::TOruConsoleApp;
using qor::TOruCustomConsoleApp;
using qor::TOruPipe;
using qor::TOruPipeFilter;

const std::string kChild = QOR_CONSOLE_CHILD;

// The runner wired the way the update engine wires it: output through a pipe and a line
// filter, read after every slice, flushed on completion. Records what happened in order.
struct ToolRun {
    TOruPipe pipe{true};
    TOruAnsiSBCSPipeFilter filter{&pipe, false};
    TOruConsoleApp app;
    std::vector<std::string> events;
    std::string output;
    std::vector<std::string> lines;
    std::string outputAtLastWork;
    std::function<void(TOruCustomConsoleApp&)> extraWork;
    std::function<void(TOruCustomConsoleApp&)> extraComplete;

    ToolRun() {
        filter.setOnText([this](TOruPipeFilter&, const std::string& t) { output += t; });
        filter.setOnLineEnd([this](TOruPipeFilter&, const std::string& l) { lines.push_back(l); });
        app.setStdOut(pipe.WriteHandle());
        app.setTimeSlice(5);
        app.setUseNewConsole(true);
        app.setOnStart([this](TOruCustomConsoleApp&) { events.push_back("start"); });
        app.setOnWork([this](TOruCustomConsoleApp& sender) {
            EXPECT_EQ(&sender, &app);
            filter.ReadPipe();
            outputAtLastWork = output;
            if (events.empty() || events.back() != "work") {
                events.push_back("work");
            }
            if (extraWork) {
                extraWork(sender);
            }
        });
        app.setOnComplete([this](TOruCustomConsoleApp& sender) {
            filter.Flush();
            events.push_back("complete");
            if (extraComplete) {
                extraComplete(sender);
            }
        });
    }

    bool run(const std::string& steps, const std::string& dir = "") {
        return app.Execute(kChild + " " + steps, dir);
    }
};

using Events = std::vector<std::string>;

// Linux: the process is gone or has died and waits to be reaped.
bool hasEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return true;
    }
    const auto paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() &&
           (text[paren + 2] == 'Z' || text[paren + 2] == 'X');
}

bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!hasEnded(pid)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(OruConsoleApp, ReadsTheExitCodeAndTheOutput) {
    ToolRun r;
    EXPECT_TRUE(r.run(R"(out:Start\r\n out:1/2\r\n "out:no end" exit:7)"));
    EXPECT_EQ(r.app.ExitCode(), 7u);
    EXPECT_EQ(r.app.ErrorCode(), 0u);
    EXPECT_EQ(r.app.ErrorMessage(), "");
    EXPECT_EQ(r.events, (Events{"start", "work", "complete"}));
    EXPECT_EQ(r.lines, (std::vector<std::string>{"Start", "1/2", "no end"}));
    EXPECT_EQ(r.app.TimeToLive(), 0u);
    EXPECT_EQ(r.app.ProcessInfo().process, 0u);  // released when Execute returns
}

TEST(OruConsoleApp, ReadsTheLastOutputOnceMoreAfterTheChildEnded) {
    ToolRun r;
    r.app.setTimeSlice(20000);  // one slice: the wait ends with the child
    EXPECT_TRUE(r.run("sleep:100 out:tail\\r\\nlast"));
    EXPECT_EQ(r.events, (Events{"start", "work", "complete"}));
    EXPECT_EQ(r.outputAtLastWork, "tail\r\nlast");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"tail", "last"}));
    EXPECT_GE(r.app.ElapsedTime(), 100u);
}

TEST(OruConsoleApp, KeepsThePipeDrainedForALotOfOutput) {
    ToolRun r;
    EXPECT_TRUE(r.run("fill:300000 exit:0"));
    EXPECT_EQ(r.output.size(), 300000u);
}

struct StopCase {
    const char* name;
    bool requestStop;  // Terminate from OnWork instead of the time limit
    bool kill;
    std::uint32_t code;
    const char* message;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class StoppedRun : public ::testing::TestWithParam<StopCase> {};

TEST_P(StoppedRun, CompletesFirstThenEndsTheChild) {
    const StopCase& c = GetParam();
    ToolRun r;
    ASSERT_TRUE(r.run("exit:7"));
    ASSERT_EQ(r.app.ExitCode(), 7u);
    r.events.clear();

    pid_t child = 0;
    bool aliveAtComplete = false;
    r.app.setMaxExecTime(300);
    r.app.setKillTimedOutProcess(c.kill);
    r.extraWork = [&](TOruCustomConsoleApp& app) {
        child = static_cast<pid_t>(app.ProcessInfo().processId);
        if (c.requestStop) {
            app.Terminate();
        }
    };
    r.extraComplete = [&](TOruCustomConsoleApp& app) {
        EXPECT_EQ(app.ErrorCode(), c.code);
        // A child killed before this point would be gone well within the pause.
        aliveAtComplete = !endsWithin(child, 200ms);
    };
    EXPECT_FALSE(r.run("out:begun\\r\\n sleep:20000"));
    EXPECT_EQ(r.app.ErrorCode(), c.code);
    EXPECT_EQ(r.app.ErrorMessage(), c.message);
    EXPECT_EQ(r.app.ExitCode(), 0u);
    EXPECT_EQ(r.app.TimeToLive(), 0u);
    EXPECT_EQ(r.events.back(), "complete");
    EXPECT_TRUE(aliveAtComplete);
    ASSERT_NE(child, 0);
    if (c.kill) {
        EXPECT_TRUE(endsWithin(child, 5000ms));
    } else {
        EXPECT_FALSE(hasEnded(child));
        kill(child, SIGKILL);
    }
    if (!c.requestStop) {
        EXPECT_GE(r.app.ElapsedTime(), 300u);
        EXPECT_LT(r.app.ElapsedTime(), 15000u);
        EXPECT_EQ(r.lines, std::vector<std::string>{"begun"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoppedRun,
    ::testing::Values(StopCase{"TimedOut", false, true, 0x20000001u, "Application timed out"},
                      StopCase{"TimedOutLeftRunning", false, false, 0x20000001u,
                               "Application timed out"},
                      StopCase{"Terminated", true, true, 0x20000002u, "Application terminated"}),
    [](const auto& p) { return std::string(p.param.name); });

struct MissingCase {
    const char* name;
    std::function<std::string()> program;
    int error;
};

void PrintTo(const MissingCase& c, std::ostream* os) {
    *os << c.name;
}

class NotStarted : public ::testing::TestWithParam<MissingCase> {};

TEST_P(NotStarted, ReturnsTheSystemErrorWithoutCallbacks) {
    const MissingCase& c = GetParam();
    ToolRun r;
    ASSERT_TRUE(r.run("exit:3"));
    r.events.clear();
    EXPECT_FALSE(r.app.Execute("\"" + c.program() + "\" out:x", ""));
    EXPECT_EQ(r.app.ErrorCode(), static_cast<std::uint32_t>(c.error));
    EXPECT_EQ(r.app.ErrorMessage(), std::strerror(c.error));
    EXPECT_EQ(r.app.ExitCode(), 0u);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(r.app.ProcessInfo().process, 0u);
    EXPECT_EQ(r.pipe.AvailableDataSize(), 0u);
}

std::string notExecutableFile() {
    const auto path =
        std::filesystem::temp_directory_path() / ("qor_console_plain_" + std::to_string(getpid()));
    std::ofstream(path) << "#!/bin/sh\n";
    chmod(path.c_str(), 0644);
    return path.string();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotStarted,
    ::testing::Values(
        MissingCase{"NoSuchPath", [] { return std::string("/no/such/dir/qor_tool"); }, ENOENT},
        MissingCase{"NotOnPath", [] { return std::string("qor_no_such_tool_anywhere"); }, ENOENT},
        MissingCase{"NotExecutable", notExecutableFile, EACCES},
        MissingCase{"Directory", [] { return std::string("/"); }, EACCES}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(OruConsoleApp, MissingWorkingDirectoryFailsTheStart) {
    ToolRun r;
    EXPECT_FALSE(r.run("out:x", "/no/such/dir"));
    EXPECT_EQ(r.app.ErrorCode(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_TRUE(r.events.empty());
}

// What the child sees of the command line, the working directory, the environment and its
// standard handles.
struct ChildCase {
    const char* name;
    std::function<void(ToolRun&)> setup;
    const char* steps;
    std::string expected;
};

void PrintTo(const ChildCase& c, std::ostream* os) {
    *os << c.name;
}

class ChildSees : public ::testing::TestWithParam<ChildCase> {};

TEST_P(ChildSees, WhatTheRunnerPasses) {
    const ChildCase& c = GetParam();
    ToolRun r;
    if (c.setup) {
        c.setup(r);
    }
    ASSERT_TRUE(r.app.Execute(kChild + " " + c.steps, r.app.CurrentDir())) << r.app.ErrorMessage();
    EXPECT_EQ(r.output, c.expected);
    EXPECT_EQ(r.app.ExitCode(), 0u);
}

const char kNarrowEnv[] = "QOR_PROBE=narrow\0OTHER=1\0";
const char16_t kWideEnv[] = u"QOR_PROBE=wide\u00e9\U0001F600\0";

INSTANTIATE_TEST_SUITE_P(
    Cases, ChildSees,
    ::testing::Values(
        ChildCase{"QuotedArguments", nullptr, R"(argv a "b c"  d\"e "f\\" "" g\h)",
                  "a\0b c\0d\"e\0f\\\0\0g\\h\0"s},
        ChildCase{"WorkingDirectory", [](ToolRun& r) { r.app.setCurrentDir("/"); }, "cwd", "/"},
        ChildCase{"EmptyWorkingDirectoryInherits", nullptr, "cwd",
                  std::filesystem::current_path().string()},
        ChildCase{"NarrowEnvironment", [](ToolRun& r) { r.app.setEnvironment(kNarrowEnv); },
                  "env:QOR_PROBE env:PATH", "narrow<unset>"},
        ChildCase{"WideEnvironment",
                  [](ToolRun& r) {
                      r.app.setEnvironment(kWideEnv);
                      r.app.setUnicodeEnvironment(true);
                  },
                  "env:QOR_PROBE", "wide\xC3\xA9\xF0\x9F\x98\x80"},
        ChildCase{"StandardErrorWhenGiven",
                  [](ToolRun& r) { r.app.setStdErr(r.pipe.WriteHandle()); }, "err:oops out:!",
                  "oops!"},
        ChildCase{"NoStandardInputGiven", nullptr, "cat out:end", "end"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(OruConsoleApp, HandsAPipeToTheChildAsStandardInput) {
    ToolRun r;
    TOruPipe input(true);
    input.WriteBytes({'f', 'e', 'd'});
    input.CloseWriteHandle();  // the child sees the end after the bytes
    r.app.setStdIn(input.ReadHandle());
    EXPECT_TRUE(r.run("cat"));
    EXPECT_EQ(r.output, "fed");
}

TEST(OruConsoleApp, CallbackExceptionLeavesExecuteAndTheChildRuns) {
    ToolRun r;
    pid_t child = 0;
    r.extraWork = [&](TOruCustomConsoleApp& app) {
        child = static_cast<pid_t>(app.ProcessInfo().processId);
        throw std::runtime_error("owner failed");
    };
    EXPECT_THROW(r.run("sleep:20000"), std::runtime_error);
    EXPECT_EQ(r.app.ProcessInfo().process, 0u);
    ASSERT_NE(child, 0);
    EXPECT_FALSE(hasEnded(child));
    kill(child, SIGKILL);
}

TEST(OruConsoleApp, FailedWaitCompletesWithTheSystemError) {
    ToolRun r;
    ASSERT_TRUE(r.run("exit:5"));
    r.events.clear();
    // Reaping the child behind the runner's back makes its next wait fail.
    r.extraWork = [](TOruCustomConsoleApp& app) {
        waitpid(static_cast<pid_t>(app.ProcessInfo().processId), nullptr, 0);
    };
    EXPECT_FALSE(r.run("sleep:100"));
    EXPECT_EQ(r.app.ErrorCode(), static_cast<std::uint32_t>(ECHILD));
    EXPECT_EQ(r.app.ErrorMessage(), std::strerror(ECHILD));
    EXPECT_EQ(r.app.ExitCode(), 0u);
    EXPECT_EQ(r.events, (Events{"start", "work", "complete"}));
}

TEST(OruConsoleApp, ZeroTimesStoreTheDefaults) {
    TOruConsoleApp app;
    app.setTimeSlice(0);
    app.setMaxExecTime(0);
    EXPECT_EQ(app.TimeSlice(), 50u);
    EXPECT_EQ(app.MaxExecTime(), 60000u);
    app.setTimeSlice(5);
    app.setMaxExecTime(qor::cOruInfinite);
    EXPECT_EQ(app.TimeSlice(), 5u);
    EXPECT_EQ(app.MaxExecTime(), qor::cOruInfinite);
}

TEST(OruConsoleApp, KeepsItsOwnCopyOfSecurityAttributes) {
    TOruConsoleApp app;
    qor::TOruSecurityAttributes attrs{nullptr, true};
    app.setProcessAttrs(&attrs);
    attrs.inheritHandle = false;
    ASSERT_NE(app.ProcessAttrs(), nullptr);
    EXPECT_NE(app.ProcessAttrs(), &attrs);
    EXPECT_TRUE(app.ProcessAttrs()->inheritHandle);
    app.setProcessAttrs(nullptr);
    EXPECT_EQ(app.ProcessAttrs(), nullptr);
}

}  // namespace
