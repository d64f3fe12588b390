// The Windows programs against the logger simulator (tools/sim, run on the build host by
// serial_peers.py), on COM ports that wine maps to the simulators' pseudo-terminals. They run
// with the limits they have on Windows: the tool within the runner's 60 s.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/Catalogue.h"
#include "engine/CommThread.h"
#include "engine/console/OruConsoleApp.h"
#include "engine/console/OruPipe.h"
#include "engine/console/OruPipeFilters.h"
#include "platform/SerialPort.h"
#include "platform/win32/WinText.h"
#include "tests/win32/WinTestSupport.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using Lines = std::vector<std::string>;

struct Finished {
    bool ran = false;
    std::uint32_t exitCode = 0;
    Lines lines;
};

// Runs a console program to its end (at most limitMs) and collects its output lines.
Finished runProgram(const std::string& commandLine, std::uint32_t limitMs) {
    TOruPipe pipe(true);
    TOruAnsiSBCSPipeFilter filter(&pipe, false);
    Finished result;
    filter.setOnLineEnd([&](TOruPipeFilter&, const std::string& l) { result.lines.push_back(l); });
    TOruConsoleApp app;
    app.setStdOut(pipe.WriteHandle());
    app.setTimeSlice(5);
    app.setUseNewConsole(true);
    app.setMaxExecTime(limitMs);
    app.setOnWork([&](TOruCustomConsoleApp&) { filter.ReadPipe(); });
    app.setOnComplete([&](TOruCustomConsoleApp&) { filter.Flush(); });
    result.ran = app.Execute(commandLine, "");
    result.exitCode = app.ExitCode();
    return result;
}

std::string joined(const Lines& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += line + "\n";
    }
    return all;
}

// One command frame and its answer over the seam; empty when no valid answer came.
Bytes exchange(platform::SerialHandle port, Bytes frame) {
    frame.resize(7);
    frame.push_back(calculateCRC8(frame.data(), 7));
    std::uint32_t n = 0;
    std::uint8_t answer[8] = {};
    if (!platform::serialPurge(port) || !platform::serialWrite(port, frame.data(), 8, n) ||
        n != 8 || !platform::serialRead(port, answer, 8, n) || n != 8 ||
        calculateCRC8(answer, 7) != answer[7]) {
        return {};
    }
    return Bytes(answer, answer + 8);
}

// Command 3, selector 0, until the logger answers for its module (once the module has restarted,
// or once pass-through has ended after a quiet line): the firmware class and version. The
// attempts are 1.5 s apart, so that the line is quiet longer than the 1 s pass-through limit
// that a simulator here may have.
Bytes moduleFirmware(const std::string& port) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto h = openComPort(port, 9600);
        if (h != INVALID_HANDLE_VALUE_32) {
            const Bytes answer = exchange(h, {0x83, 0x30, 0, 0, 0, 0, 0});
            platform::serialClose(h);
            if (!answer.empty()) {
                return answer;
            }
        }
        std::this_thread::sleep_for(1500ms);
    }
    return {};
}

class Win32WithSimulator : public ::testing::Test {
  protected:
    const std::string port_ = test::portFromEnvironment("QOR_SIM_PORT");
};

TEST_F(Win32WithSimulator, TheDfuToolUpdatesTheRadioModule) {
    test::ScopedTempDirectory temp;
    TBl3FileHeader header;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    ASSERT_TRUE(getFirmware(1, header, size, length, data));
    const std::string package = temp.path() + "qor_data.zip";
    std::ofstream(std::filesystem::path(platform::widen(package)), std::ios::binary)
        .write(reinterpret_cast<const char*>(data), size);

    // The logger passes its line through to the module's bootloader.
    const auto h = openComPort(port_, 9600);
    ASSERT_NE(h, INVALID_HANDLE_VALUE_32);
    const Bytes answer = exchange(h, {0x82, 0x30, 0, 0, 0, 0, 0});
    platform::serialClose(h);
    ASSERT_EQ(answer.size(), 8u);
    ASSERT_EQ(answer[0] & 0x20, 0);

    const Finished tool = runProgram(
        test::hostPath(QOR_DFU_TOOL_EXE) + " --qor -cd 0 -p " + port_ + " -pkg " + package, 60000);
    ASSERT_TRUE(tool.ran);
    EXPECT_EQ(tool.exitCode, 0u);
    ASSERT_GE(tool.lines.size(), 4u);
    EXPECT_EQ(tool.lines.front(), "Start programming.");
    EXPECT_EQ(tool.lines[1], "0/72092");
    EXPECT_EQ(tool.lines[tool.lines.size() - 2], "72092/72092");
    EXPECT_EQ(tool.lines.back(), "Device programmed.");

    const Bytes firmware = moduleFirmware(port_);
    ASSERT_EQ(firmware.size(), 8u) << "the module did not answer after its restart";
    EXPECT_EQ(makeWord(firmware[2], firmware[1]), 26156);
    EXPECT_EQ(makeWord(firmware[4], firmware[3]), 0x0205);
}

// The headless front end on Windows identifies the logger and the module and picks the image;
// reading only ends the run with error 70, its exit status.
TEST_F(Win32WithSimulator, TheFrontEndReadsTheLoggerAndTheModule) {
    const Finished cli = runProgram(
        test::hostPath(QOR_CLI_EXE) + " --port " + port_ + " --read-info-only --yes", 60000);
    ASSERT_TRUE(cli.ran);
    const std::string all = joined(cli.lines);
    EXPECT_EQ(cli.exitCode, 70u) << all;
    for (const char* expected :
         {"Start at serial port \"", "Class 26145 [QOR Z40]", "Update class 26156 [BLE module G2]",
          "Check BLE module G2 V2.05, NINA-B3 UART, BL5.0", "Only read update info!"}) {
        EXPECT_NE(all.find(expected), std::string::npos) << expected << "\n" << all;
    }
}

// A whole update through a Windows headless program, against a simulator of its own
// (CMakeLists.txt gives each port variable's simulator its options).
struct WholeRun {
    const char* name;
    const char* program;
    const char* portVariable;
    std::uint32_t exitCode;
    const char* lastLine;
    std::uint16_t versionAfter;  // what the module reports afterwards
};

void PrintTo(const WholeRun& c, std::ostream* os) {
    *os << c.name;
}

// The temporary folder that GetTempPathW reports now.
std::string temporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return n == 0 || n > MAX_PATH + 1 ? std::string() : platform::narrow(std::wstring(buffer, n));
}

class Win32WholeRun : public ::testing::TestWithParam<WholeRun> {};

// The exit status and the last report line; the DFU tool's two files are gone from the
// program's temporary folder and the prefix's; the module reports the version it now runs.
TEST_P(Win32WholeRun, EndsAsTheModuleSaysAndLeavesNoTemporaryFiles) {
    const WholeRun& c = GetParam();
    const std::string port = test::portFromEnvironment(c.portVariable);
    const std::string prefixTemp = temporaryFolder();
    ASSERT_FALSE(prefixTemp.empty());
    // A folder of its own: the tool's file names are fixed, and runs go on side by side.
    test::ScopedTempDirectory temp;
    const Finished cli =
        runProgram(test::hostPath(c.program) + " --port " + port + " --yes", 180000);
    ASSERT_TRUE(cli.ran);
    const std::string all = joined(cli.lines);
    EXPECT_EQ(cli.exitCode, c.exitCode) << all;
    ASSERT_FALSE(cli.lines.empty());
    const std::string last = std::string(" -> ") + c.lastLine;
    EXPECT_TRUE(
        cli.lines.back().size() >= last.size() &&
        cli.lines.back().compare(cli.lines.back().size() - last.size(), last.size(), last) == 0)
        << all;
    for (const std::string& folder : {temp.path(), prefixTemp}) {
        for (const char* file : {"qor_ble_dfu.exe", "qor_data.zip"}) {
            EXPECT_FALSE(std::filesystem::exists(platform::widen(folder + file))) << folder + file;
        }
    }

    const Bytes firmware = moduleFirmware(port);
    ASSERT_EQ(firmware.size(), 8u) << "the module did not answer after the run";
    EXPECT_EQ(makeWord(firmware[2], firmware[1]), 26156);
    EXPECT_EQ(makeWord(firmware[4], firmware[3]), c.versionAfter);
}

constexpr const char* kSuccess = "Update BLE module G2 V2.05 succesfully completed.";

INSTANTIATE_TEST_SUITE_P(
    Runs, Win32WholeRun,
    ::testing::Values(
        WholeRun{"BuiltinPackage", QOR_CLI_EXE, "QOR_SIM_PORT", 0, kSuccess, 0x0205},
        WholeRun{"ModuleKeepsItsVersion", QOR_CLI_EXE, "QOR_SIM_KEEPS_VERSION_PORT", 45,
                 "Update was not successfull!", 0x0201},
        WholeRun{"Kind4Image", QOR_CLI_KIND4_EXE, "QOR_SIM_BLOCK_PORT", 0, kSuccess, 0x0205},
        WholeRun{"Kind4AnnounceRefused", QOR_CLI_KIND4_EXE, "QOR_SIM_BLOCK_REFUSING_PORT", 103,
                 "Fatal Exception has occurred!", 0x0201}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qor
