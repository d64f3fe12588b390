// The console runner, its pipe and its line filter on Win32, with a Windows child program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/console/OruConsoleApp.h"
#include "engine/console/OruPipe.h"
#include "engine/console/OruPipeFilters.h"
#include "platform/Process.h"
#include "platform/win32/WinText.h"
#include "tests/win32/WinTestSupport.h"

namespace qor {
namespace {

using Lines = std::vector<std::string>;

const std::string kChild = test::hostPath(QOR_WIN_CHILD);

// The runner wired as the update engine wires it, recording what happened.
struct ToolRun {
    TOruPipe pipe{true};
    TOruAnsiSBCSPipeFilter filter{&pipe, false};
    TOruConsoleApp app;
    std::vector<std::string> events;
    std::string output;
    Lines lines;
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
            filter.ReadPipe();
            if (events.back() != "work") {
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

// A handle to the child that outlives the runner's, to watch it end.
struct Watched {
    HANDLE handle = nullptr;
    ~Watched() {
        if (handle != nullptr) {
            TerminateProcess(handle, 1);
            CloseHandle(handle);
        }
    }
    void open(std::uint32_t pid) {
        if (handle == nullptr) {
            handle = OpenProcess(
                SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
        }
    }
    bool endsWithin(DWORD ms) const { return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }
    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(handle, &code);
        return code;
    }
};

TEST(Win32ConsoleRunner, ReadsTheLinesAndTheExitCode) {
    ToolRun r;
    EXPECT_TRUE(r.run(R"(out:Start\r\n out:1/2\r\n\r\n "out:no end" exit:7)"));
    EXPECT_EQ(r.app.ExitCode(), 7u);
    EXPECT_EQ(r.app.ErrorCode(), 0u);
    EXPECT_EQ(r.events, (Lines{"start", "work", "complete"}));
    EXPECT_EQ(r.lines, (Lines{"Start", "1/2", "", "no end"}));
    EXPECT_EQ(r.app.ProcessInfo().process, 0u);
}

TEST(Win32ConsoleRunner, ReadsTheLastOutputAfterTheChildEnded) {
    ToolRun r;
    r.app.setTimeSlice(20000);  // one slice: the wait ends with the child
    EXPECT_TRUE(r.run("sleep:100 out:tail\\r\\nlast"));
    EXPECT_EQ(r.events, (Lines{"start", "work", "complete"}));
    EXPECT_EQ(r.lines, (Lines{"tail", "last"}));
}

TEST(Win32ConsoleRunner, KeepsThePipeDrainedForALotOfOutput) {
    ToolRun r;
    EXPECT_TRUE(r.run("fill:300000"));
    EXPECT_EQ(r.output.size(), 300000u);
}

// Hidden, with its own console, the pipe as standard output; the command line unchanged.
TEST(Win32ConsoleRunner, StartsTheChildHiddenWithThePipeAsOutput) {
    ToolRun r;
    const std::string commandLine = kChild + " startup  cmdline";
    ASSERT_TRUE(r.app.Execute(commandLine, ""));
    ASSERT_EQ(r.lines.size(), 2u) << r.output;
    const DWORD flags = STARTF_USESHOWWINDOW | STARTF_USEFILLATTRIBUTE | STARTF_USESTDHANDLES;
    char expected[64];
    std::snprintf(expected, sizeof expected, "flags=%lx show=%u out=pipe", flags, SW_HIDE);
    EXPECT_EQ(r.lines[0], expected);
    EXPECT_EQ(r.lines[1], commandLine);
}

TEST(Win32ConsoleRunner, StartsTheChildInTheGivenFolder) {
    test::ScopedTempDirectory folder;
    ToolRun r;
    ASSERT_TRUE(r.run("cwd", folder.path()));
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0] + "\\", folder.path());
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

class Win32StoppedRun : public ::testing::TestWithParam<StopCase> {};

// OnComplete runs while the child still lives; then TerminateProcess ends it with the runner's
// own error code as its exit code.
TEST_P(Win32StoppedRun, CompletesFirstThenEndsTheChildWithTheErrorCode) {
    const StopCase& c = GetParam();
    ToolRun r;
    Watched child;
    bool aliveAtComplete = false;
    // Long enough for wine to start the child and pass its first line on a loaded machine.
    r.app.setMaxExecTime(2000);
    r.app.setKillTimedOutProcess(c.kill);
    r.extraWork = [&](TOruCustomConsoleApp& app) {
        child.open(app.ProcessInfo().processId);
        if (c.requestStop) {
            app.Terminate();
        }
    };
    r.extraComplete = [&](TOruCustomConsoleApp&) { aliveAtComplete = !child.endsWithin(200); };
    EXPECT_FALSE(r.run("out:begun\\r\\n sleep:20000"));
    EXPECT_EQ(r.app.ErrorCode(), c.code);
    EXPECT_EQ(r.app.ErrorMessage(), c.message);
    EXPECT_EQ(r.app.ExitCode(), 0u);
    ASSERT_NE(child.handle, nullptr);
    EXPECT_TRUE(aliveAtComplete);
    if (c.kill) {
        ASSERT_TRUE(child.endsWithin(5000));
        EXPECT_EQ(child.exitCode(), c.code);
    } else {
        EXPECT_FALSE(child.endsWithin(0));
    }
    if (!c.requestStop) {
        EXPECT_GE(r.app.ElapsedTime(), 2000u);
        EXPECT_EQ(r.lines, Lines{"begun"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Win32StoppedRun,
    ::testing::Values(StopCase{"TimedOut", false, true, 0x20000001u, "Application timed out"},
                      StopCase{"TimedOutLeftRunning", false, false, 0x20000001u,
                               "Application timed out"},
                      StopCase{"Terminated", true, true, 0x20000002u, "Application terminated"}),
    [](const auto& p) { return std::string(p.param.name); });

struct MissingCase {
    const char* name;
    const char* program;  // written into the folder when it has contents
    const char* contents;
    DWORD error;
};

void PrintTo(const MissingCase& c, std::ostream* os) {
    *os << c.name;
}

class Win32NotStarted : public ::testing::TestWithParam<MissingCase> {};

TEST_P(Win32NotStarted, ReturnsTheSystemErrorWithoutCallbacks) {
    const MissingCase& c = GetParam();
    test::ScopedTempDirectory folder;
    const std::string program = folder.path() + c.program;
    if (c.contents != nullptr) {
        std::ofstream(std::filesystem::path(platform::widen(program))) << c.contents;
    }
    ToolRun r;
    EXPECT_FALSE(r.app.Execute(program + " out:x", ""));
    EXPECT_EQ(r.app.ErrorCode(), c.error);
    EXPECT_EQ(r.app.ErrorMessage(), platform::errorText(c.error));
    EXPECT_FALSE(r.app.ErrorMessage().empty());
    EXPECT_EQ(r.app.ExitCode(), 0u);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(r.app.ProcessInfo().process, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Win32NotStarted,
                         ::testing::Values(MissingCase{"NoSuchProgram", "qor_no_such_tool.exe",
                                                       nullptr, ERROR_FILE_NOT_FOUND},
                                           MissingCase{"NotAProgram", "qor_text.exe",
                                                       "not a program", ERROR_BAD_EXE_FORMAT}),
                         [](const auto& p) { return std::string(p.param.name); });

// Peeking never blocks; once every write end is gone and the bytes are read, the pipe reads as
// empty rather than failing (PeekNamedPipe then says ERROR_BROKEN_PIPE).
TEST(Win32Pipe, ReadsWhatWaitsAndThenNothingOnceTheWritersAreGone) {
    TOruPipe pipe(true);
    EXPECT_EQ(pipe.AvailableDataSize(), 0u);
    std::uint32_t read = 7;
    std::uint8_t byte = 0;
    EXPECT_FALSE(pipe.ReadData(&byte, 1, read));
    EXPECT_EQ(read, 0u);
    pipe.WriteBytes({'a', 'b', 'c'});
    pipe.CloseWriteHandle();
    EXPECT_EQ(pipe.AvailableDataSize(), 3u);
    EXPECT_EQ(pipe.ReadBytes(2), (std::vector<std::uint8_t>{'a', 'b'}));
    EXPECT_EQ(pipe.ReadBytes(), (std::vector<std::uint8_t>{'c'}));
    EXPECT_EQ(pipe.AvailableDataSize(), 0u);
    EXPECT_THROW(pipe.WriteBytes({'d'}), EInOutError);
}

}  // namespace
}  // namespace qor
