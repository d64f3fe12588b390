#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "tests/sim/SimHarness.h"
#include "tools/sim/Options.h"
#include "tools/sim/SimCrc.h"

namespace qor::sim::test {
namespace {

// Answers of the default identity: logger 26145 version 0x010A; module update class 26156,
// platform 18, print 35; firmware 26156 version 0x0201.
const Bytes kAnswer1 = {0x81, 0x00, 0x66, 0x21, 0x01, 0x0A, 0x00, 0x94};

Bytes withCrc(Bytes first7) {
    first7.push_back(crc8Maxim(first7));
    return first7;
}

TEST(CommandLink, AnswersEachCommandByteForByte) {
    RunningSim sim(Config{});
    HostPort host(sim.path(), 9600);
    ASSERT_TRUE(host.isOpen());
    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
    EXPECT_EQ(host.exchange(kCmd3Hardware),
              (Bytes{0x83, 0x2C, 0x66, 0x12, 0x00, 0x23, 0x00, 0x3D}));
    EXPECT_EQ(host.exchange(kCmd3Firmware),
              (Bytes{0x83, 0x2C, 0x66, 0x01, 0x02, 0x23, 0x00, 0xC2}));
    EXPECT_EQ(host.exchange(kCmd3Platform),
              (Bytes{0x83, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE5}));
    host.close();

    // The transcript shows both directions with the state and the speed.
    const std::string transcript = sim.finish();
    EXPECT_NE(transcript.find(" rx logger 9600 81 00 00 00 00 00 00 AA\n"), std::string::npos);
    EXPECT_NE(transcript.find(" tx logger 9600 81 00 66 21 01 0A 00 94\n"), std::string::npos);
    const std::regex line(
        R"((#.*)|(\d+ (rx|tx) \w+ \d+ [0-9A-F]{2}( [0-9A-F]{2})*)|(\d+ ev \w+ - .*))");
    std::istringstream lines(transcript);
    for (std::string text; std::getline(lines, text);) {
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    }
}

TEST(CommandLink, ReportsTheConfiguredIdentity) {
    RunningSim sim(configFrom(
        {"--logger-class", "0x1234", "--logger-version", "0x0107", "--module-update-class", "26155",
         "--module-platform", "7", "--module-print", "300", "--firmware-class", "0",
         "--firmware-version", "0", "--firmware-print", "0xFFFF", "--firmware-platform", "513"}));
    HostPort host(sim.path(), 9600);
    EXPECT_EQ(host.exchange(kCmd1), withCrc({0x81, 0, 0x12, 0x34, 0x01, 0x07, 0}));
    EXPECT_EQ(host.exchange(kCmd3Hardware), withCrc({0x83, 0x2B, 0x66, 7, 0, 0x2C, 0x01}));
    EXPECT_EQ(host.exchange(kCmd3Firmware), withCrc({0x83, 0, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(host.exchange(kCmd3Platform), withCrc({0x83, 0x01, 0x02, 0, 0, 0, 0}));
}

TEST(CommandLink, IgnoresWhatTheLoggerDoesNotUnderstand) {
    RunningSim sim(Config{});
    HostPort host(sim.path(), 9600);
    const std::vector<Bytes> ignored = {
        Bytes(8, 0x00),                        // reset frame
        {0x81, 0, 0, 0, 0, 0, 0, 0xAB},        // wrong CRC
        withCrc({0x84, 0x30, 0, 0, 0, 0, 0}),  // unknown command
        withCrc({0x83, 0x30, 3, 0, 0, 0, 0}),  // unknown selector
        withCrc({0x83, 0x00, 0, 0, 0, 0, 0}),  // p1 is not 0x30
        withCrc({0x01, 0, 0, 0, 0, 0, 0}),     // command bit 0x80 missing
        {0x81, 0, 0, 0, 0, 0, 0},              // 7 bytes, then a pause
    };
    for (const Bytes& frame : ignored) {
        EXPECT_TRUE(host.exchange(frame, 120ms).empty()) << ::testing::PrintToString(frame);
    }
    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
}

TEST(CommandLink, FramesAtAnotherSpeedGetNoAnswer) {
    RunningSim sim(Config{});
    HostPort host(sim.path(), 57600);
    ASSERT_TRUE(host.isOpen());
    EXPECT_TRUE(host.exchange(kCmd1).empty());
    host.reopen(9600);
    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
}

TEST(CommandLink, RealTimeAnswerTakesTheLineTime) {
    RunningSim sim(configFrom({"--realtime"}));
    HostPort host(sim.path(), 9600);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
    // 8 bytes each way at 9600 baud are 16.7 ms on the line.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 15ms);
}

struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(HostPort&)> check;
};

class LinkFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(LinkFaults, AreApplied) {
    RunningSim sim(configFrom(GetParam().args));
    HostPort host(sim.path(), 9600);
    GetParam().check(host);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, LinkFaults,
    ::testing::Values(FaultCase{"NoAnswerFromAttempt2",
                                {"--no-answer", "1:2"},
                                [](HostPort& host) {
                                    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
                                    EXPECT_TRUE(host.exchange(kCmd1).empty());
                                    EXPECT_TRUE(host.exchange(kCmd1).empty());
                                }},
                      FaultCase{"WrongCrcOnAttempt1",
                                {"--wrong-crc", "1:1"},
                                [](HostPort& host) {
                                    Bytes broken = kAnswer1;
                                    broken[7] ^= 0xFF;
                                    EXPECT_EQ(host.exchange(kCmd1), broken);
                                    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
                                }},
                      FaultCase{"ExceptionOnOneSelectorOnly",
                                {"--exception", "3.0"},
                                [](HostPort& host) {
                                    EXPECT_EQ(host.exchange(kCmd3Firmware),
                                              withCrc({0xA3, 0x2C, 0x66, 0x01, 0x02, 0x23, 0x00}));
                                    EXPECT_EQ(host.exchange(kCmd3Platform)[0], 0x83);
                                }},
                      FaultCase{"GarbageBeforeTheAnswer",
                                {"--garbage", "1:1:3"},
                                [](HostPort& host) {
                                    host.write(kCmd1);
                                    const Bytes expected = {0xA5, 0xA5, 0xA5, 0x81, 0x00, 0x66,
                                                            0x21, 0x01, 0x0A, 0x00, 0x94};
                                    EXPECT_EQ(host.read(11, 500ms), expected);
                                }},
                      FaultCase{"LateLastByte",
                                {"--late-byte", "1:1:400"},
                                [](HostPort& host) {
                                    host.write(kCmd1);
                                    EXPECT_EQ(host.read(8, 200ms),
                                              Bytes(kAnswer1.begin(), kAnswer1.end() - 1));
                                    EXPECT_EQ(host.read(1, 1000ms), Bytes{kAnswer1.back()});
                                }}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PassThrough, LastsAcrossReopeningAndEndsWhenIdle) {
    RunningSim sim(configFrom({"--passthrough-idle", "0.4"}));
    HostPort host(sim.path(), 9600);
    EXPECT_EQ(host.exchange(kCmd2), withCrc({0x82, 0, 0, 0, 0, 0, 0}));
    // Now the line goes to the module at 57600: a command frame at 9600 is noise.
    EXPECT_TRUE(host.exchange(kCmd1).empty());
    host.reopen(57600);
    NordicHost module(host);
    EXPECT_EQ(module.request({0x09, 0x07}), (Bytes{0x60, 0x09, 0x01, 0x07}));
    host.close();
    // The host gave up: the logger ends pass-through once the line was quiet long enough.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sim.sim().passThroughSessionsEnded(), 0);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (sim.sim().passThroughSessionsEnded() == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(sim.sim().passThroughSessionsEnded(), 1);
    host.reopen(9600);
    EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
}

TEST(PassThrough, OnceEndsAfterTheUpdateWasVerified) {
    RunningSim sim(configFrom({"--once", "--passthrough-idle", "0.2"}));
    HostPort host(sim.path(), 9600);
    EXPECT_EQ(host.exchange(kCmd2).size(), 8u);
    host.close();
    std::this_thread::sleep_for(400ms);
    host.reopen(9600);
    EXPECT_EQ(host.exchange(kCmd3Firmware).size(), 8u);
    EXPECT_FALSE(sim.waitForEnd(100ms));
    host.close();
    EXPECT_TRUE(sim.waitForEnd(2000ms));
}

// Like a real port: what the host left unread and its exclusive flag are gone after it closed.
TEST(SimLine, ReopenedPortStartsClean) {
    RunningSim sim(Config{});
    HostPort host(sim.path(), 9600);
    host.write(kCmd1);
    std::this_thread::sleep_for(100ms);  // the answer waits unread
    host.close();
    std::this_thread::sleep_for(100ms);
    const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(fd);
    host.reopen(9600);
    EXPECT_TRUE(host.read(1, 100ms).empty());
}

TEST(SimLine, LinkPointsAtTheSlaveAndGoesAway) {
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("qor-sim-link-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    {
        RunningSim sim(configFrom({"--link", link.string()}));
        EXPECT_EQ(std::filesystem::read_symlink(link), sim.path());
        HostPort host(link.string(), 9600);
        EXPECT_EQ(host.exchange(kCmd1), kAnswer1);
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    // Anything but a symlink at the path is left alone.
    std::ofstream(link) << "keep";
    EXPECT_THROW(Simulator(configFrom({"--link", link.string()})), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_regular_file(link));
    std::filesystem::remove(link);
}

}  // namespace
}  // namespace qor::sim::test
