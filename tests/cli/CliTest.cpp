// The headless program as a user runs it: its options, its output and its exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Listings.h"
#include "tests/support/SimProcess.h"

namespace qor::cli {
namespace {

using test::endsWithReportLine;
using test::RunningSim;

test::ProgramOutcome runCli(const std::string& args) {
    return test::runProgram(QOR_CLI_PATH, args);
}

TEST(CliOptions, ParsesEveryOptionAndRefusesWrongUsage) {
    std::string error;
    const auto all = parseCliOptions({"--port", "COM3", "--read-info-only", "--no-class-check",
                                      "--descriptor", "a b.txt", "--max-restarts", "3", "--yes"},
                                     error);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->ports, std::vector<std::string>{"COM3"});
    EXPECT_TRUE(all->readInfoOnly);
    EXPECT_TRUE(all->noClassCheck);
    EXPECT_EQ(all->descriptorFile, "a b.txt");
    EXPECT_EQ(all->maxRestarts, 3u);
    EXPECT_TRUE(all->yes);
    const auto plain = parseCliOptions({"--port", "COM3"}, error);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->maxRestarts);
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                  {"--port"},
                                                  {"--port", "COM3", "--max-restarts", "x"},
                                                  {"--port", "COM3", "--max-restarts", "-1"},
                                                  {"--port", "COM3", "--bogus"}}) {
        EXPECT_FALSE(parseCliOptions(wrong, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(parseCliOptions({"--help"}, error));
}

TEST(CliOptions, ListingsNeedNoPort) {
    std::string error;
    const auto ports = parseCliOptions({"--list-ports"}, error);
    ASSERT_TRUE(ports);
    EXPECT_TRUE(ports->listPorts);
    const auto firmware = parseCliOptions({"--firmware", "--descriptor", "d.txt"}, error);
    ASSERT_TRUE(firmware);
    EXPECT_TRUE(firmware->firmware);
    EXPECT_EQ(firmware->descriptorFile, "d.txt");
}

TEST(CliListings, OverviewColumnsAsWideAsTheirWidestText) {
    std::ostringstream out;
    printOverview(out, {{"Module A", "2.05", "P", "Print 35", "", "5.0"},
                        {"B", "65535.03", "?", "?", "20.01.2020", "65535.1"}});
    EXPECT_EQ(out.str(),
              "Firmware  Version   Platform  Print     Date        BL\n"
              "Module A  2.05      P         Print 35              5.0\n"
              "B         65535.03  ?         ?         20.01.2020  65535.1\n");
}

// The program's own lists: the built-in row, and a descriptor file's row before it.
TEST(CliProgram, FirmwareAndPortLists) {
    const test::ProgramOutcome builtin = runCli("--firmware");
    EXPECT_EQ(builtin.status, 0);
    std::istringstream lines(builtin.out);
    std::string header;
    std::string row;
    std::getline(lines, header);
    std::getline(lines, row);
    EXPECT_EQ(header.rfind("Firmware  ", 0), 0u) << builtin.out;
    EXPECT_NE(row.find("  2.05  "), std::string::npos) << builtin.out;
    EXPECT_NE(row.find("  19.08.2019 15:36:40  5.0"), std::string::npos) << builtin.out;
    EXPECT_FALSE(std::getline(lines, row));

    const std::string file = ::testing::TempDir() + "cli-descriptor.txt";
    std::ofstream(file) << "bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\n"
                           "versionL=7\nplatform=18\nprint=35\ndate=20.01.2020\n";
    const test::ProgramOutcome withFile = runCli("--firmware --descriptor " + file);
    EXPECT_EQ(withFile.status, 0);
    const auto fileRow = withFile.out.find("  2.07  ");
    EXPECT_NE(fileRow, std::string::npos) << withFile.out;
    EXPECT_LT(fileRow, withFile.out.find("  2.05  ")) << withFile.out;
    EXPECT_EQ(runCli("--firmware --descriptor " + file + ".missing").status, 1);

    // Whatever ports this machine has: device paths, one per line.
    const test::ProgramOutcome ports = runCli("--list-ports");
    EXPECT_EQ(ports.status, 0);
    std::istringstream portLines(ports.out);
    for (std::string line; std::getline(portLines, line);) {
        EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;
    }
}

TEST(CliProgram, UsageErrorsAndTheUnansweredQuestionExitWith2) {
    EXPECT_EQ(runCli("--bogus").status, 2);
    EXPECT_EQ(runCli("").status, 2);
    // No terminal and no --yes: nothing is started.
    const test::ProgramOutcome unanswered = runCli("--port /dev/qor-no-such-port");
    EXPECT_EQ(unanswered.status, 2);
    EXPECT_NE(unanswered.out.find("--yes"), std::string::npos);
    EXPECT_EQ(runCli("--help").status, 0);
}

TEST(CliProgram, PortNotReadyExitsWith10) {
    const test::ProgramOutcome o = runCli("--port /dev/qor-no-such-port --yes");
    EXPECT_EQ(o.status, 10);
    EXPECT_TRUE(endsWithReportLine(
        o.out, "Aborted because serial port \"/dev/qor-no-such-port\" is not ready!"))
        << o.out;
}

TEST(CliProgram, WrongLoggerExitsWith40) {
    sim::Config config;
    config.identity.loggerClass = 26000;
    RunningSim logger(config);
    const test::ProgramOutcome o = runCli("--port " + logger.path() + " --yes");
    EXPECT_EQ(o.status, 40);
    EXPECT_NE(o.out.find(" -> Class 26000 ["), std::string::npos);
    EXPECT_TRUE(
        endsWithReportLine(o.out, "Aborted because no update is available for this logger!"))
        << o.out;
}

TEST(CliProgram, CtrlCCancelsTheRun) {
    RunningSim logger{sim::Config{}};
    const std::string out = ::testing::TempDir() + "cli-ctrl-c.txt";
    const std::string port = logger.path();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::execl(QOR_CLI_PATH, QOR_CLI_PATH, "--port", port.c_str(), "--yes",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // During the pause before the first command, as a user would press it.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(child, SIGINT);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 20);
    std::ifstream file(out);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_TRUE(endsWithReportLine(text, "Process cancelled!")) << text;
}

TEST(CliProgram, SuccessfulUpdateExitsWith0) {
    RunningSim logger{sim::Config{}};
    const test::ProgramOutcome o = runCli("--port " + logger.path() + " --yes");
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_NE(o.out.find(" -> Device programmed.\n"), std::string::npos);
    EXPECT_NE(o.out.find("V2.05 succesfully completed.\n"), std::string::npos);
}

}  // namespace
}  // namespace qor::cli
