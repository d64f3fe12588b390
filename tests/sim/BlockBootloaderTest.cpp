#include <gtest/gtest.h>

#include <functional>

#include "tests/sim/SimHarness.h"
#include "tools/sim/Options.h"
#include "tools/sim/SimCrc.h"

namespace qor::sim::test {
namespace {

// The default power-on report: CL 26156, PF 18, PR 35, V 1, B 4, text "QOR-BL".
const Bytes kReport = {0x08, 0x10, 0x01, 0x00, 0x2C, 0x66, 0x12, 0x00, 0x23, 0x00,
                       0x01, 0x04, 0x51, 0x4F, 0x52, 0x2D, 0x42, 0x4C, 0xB3};
const Bytes kAck = {0x08, 0x00, 0xFE};
const Bytes kAnnounce72694 = {0x78, 0x09, 0x00, 0x0C, 0xF6, 0x1B, 0x01,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x33};
const Bytes kEmptyBlockAt0 = {0x78, 0x05, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0xAD, 0xB7};
const Bytes kFinish = {0x78, 0x01, 0x00, 0x0D, 0x7A, 0xC2};
const Bytes kAccepted = {0x78, 0x01, 0x00, 0x0A, 0xC5, 0xB6};
const Bytes kRefused = {0x78, 0x01, 0x00, 0x0B, 0x4C, 0xA7};

Config blockConfig(std::vector<std::string> args) {
    args.insert(args.begin(), {"--bootloader", "block"});
    return configFrom(args);
}

Bytes longFrame(const Bytes& data) {
    Bytes frame{0x78, static_cast<std::uint8_t>(data.size()),
                static_cast<std::uint8_t>(data.size() >> 8)};
    frame.insert(frame.end(), data.begin(), data.end());
    const std::uint16_t crc = crc16X25(frame);
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

Bytes announce(std::uint32_t size, std::uint32_t length) {
    Bytes data{12};
    for (const std::uint32_t v : {size, length}) {
        const Bytes b = le32(v);
        data.insert(data.end(), b.begin(), b.end());
    }
    return longFrame(data);
}

Bytes block(std::uint32_t offset, std::size_t count) {
    Bytes data{14};
    const Bytes b = le32(offset);
    data.insert(data.end(), b.begin(), b.end());
    for (std::size_t i = 0; i < count; ++i) {
        data.push_back(static_cast<std::uint8_t>(offset + i));
    }
    return longFrame(data);
}

// A host that switched the logger to pass-through and reopened the port at 57600.
class BlockSession {
  public:
    explicit BlockSession(Config config) : sim(std::move(config)), host(sim.path(), 9600) {
        EXPECT_EQ(host.exchange(kCmd2).size(), 8u);
        // No report while the host still listens at 9600.
        EXPECT_TRUE(host.read(1, 100ms).empty());
        host.reopen(57600);
    }

    // Sends a frame and returns the 6-byte answer (empty when none came in time).
    Bytes command(const Bytes& frame, std::chrono::milliseconds timeout = 1000ms) {
        host.write(frame);
        return host.read(6, timeout);
    }

    Bytes firmwareAnswer() { return firmwareAfterRestart(sim, host); }

    RunningSim sim;
    HostPort host;
};

TEST(BlockBootloader, RunsTheSequenceWithTheKnownFrames) {
    BlockSession session(blockConfig({"--version-after-update", "0x0206"}));
    EXPECT_EQ(session.host.read(kReport.size(), 1000ms), kReport);
    session.host.write(kAck);
    EXPECT_EQ(session.command(kAnnounce72694), kAccepted);
    EXPECT_EQ(session.command(kEmptyBlockAt0), kAccepted);
    EXPECT_EQ(session.command(kFinish), kAccepted);
    EXPECT_EQ(session.firmwareAnswer(), (Bytes{0x83, 0x2C, 0x66, 0x06, 0x02, 0x23, 0x00, 0x44}));
}

TEST(BlockBootloader, TakesBlocksInOrderAndARepeatedBlock) {
    BlockSession session(blockConfig({}));
    EXPECT_EQ(session.host.read(kReport.size(), 1000ms), kReport);
    EXPECT_EQ(session.command(kAnnounce72694, 200ms), Bytes{})
        << "commands wait for the acknowledgement";
    session.host.write(kAck);
    EXPECT_EQ(session.command(announce(5000, 1025)), kAccepted);
    EXPECT_EQ(session.command(block(1024, 1)), kRefused);
    EXPECT_EQ(session.command(block(0, 1024)), kAccepted);
    EXPECT_EQ(session.command(block(0, 1024)), kAccepted);  // sent again after a lost answer
    EXPECT_EQ(session.command(kFinish), kRefused);          // one byte still missing
    EXPECT_EQ(session.command(block(1024, 1)), kAccepted);
    EXPECT_EQ(session.command(kFinish), kAccepted);
    EXPECT_EQ(session.firmwareAnswer(), (Bytes{0x83, 0x2C, 0x66, 0x05, 0x02, 0x23, 0x00, 0xCC}));
}

struct BlockFaultCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(BlockSession&)> check;
};

class BlockFaults : public ::testing::TestWithParam<BlockFaultCase> {};

TEST_P(BlockFaults, AreApplied) {
    BlockSession session(blockConfig(GetParam().args));
    GetParam().check(session);
}

void acknowledgeReport(BlockSession& s) {
    EXPECT_EQ(s.host.read(kReport.size(), 1000ms), kReport);
    s.host.write(kAck);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, BlockFaults,
    ::testing::Values(
        BlockFaultCase{"RefusedAnnounce",
                       {"--block-status", "12:11"},
                       [](BlockSession& s) {
                           acknowledgeReport(s);
                           EXPECT_EQ(s.command(kAnnounce72694), kRefused);
                       }},
        BlockFaultCase{"OtherStatusOnSecondBlock",
                       {"--block-status", "14:12:2"},
                       [](BlockSession& s) {
                           acknowledgeReport(s);
                           EXPECT_EQ(s.command(announce(0, 2048)), kAccepted);
                           EXPECT_EQ(s.command(block(0, 1024)), kAccepted);
                           EXPECT_EQ(s.command(block(1024, 1024)), longFrame({12}));
                       }},
        BlockFaultCase{
            "BrokenAnswerCrc",
            {"--block-bad-crc", "13"},
            [](BlockSession& s) {
                acknowledgeReport(s);
                EXPECT_EQ(s.command(announce(0, 0)), kAccepted);
                EXPECT_EQ(s.command(kEmptyBlockAt0), kAccepted);
                EXPECT_EQ(s.command(kFinish), (Bytes{0x78, 0x01, 0x00, 0x0A, 0x3A, 0x49}));
            }},
        BlockFaultCase{"LateAnswer",
                       {"--block-late", "12:400"},
                       [](BlockSession& s) {
                           acknowledgeReport(s);
                           s.host.write(kAnnounce72694);
                           EXPECT_TRUE(s.host.read(6, 200ms).empty());
                           EXPECT_EQ(s.host.read(6, 1000ms), kAccepted);
                       }},
        BlockFaultCase{"NoReport",
                       {"--no-report"},
                       [](BlockSession& s) { EXPECT_TRUE(s.host.read(1, 300ms).empty()); }},
        BlockFaultCase{"ReportWithoutItsFlag",
                       {"--report-flags", "0", "--report-text", ""},
                       [](BlockSession& s) {
                           Bytes report{0x08, 0x0A, 0x00, 0x00, 0x2C, 0x66,
                                        0x12, 0x00, 0x23, 0x00, 0x01, 0x04};
                           report.push_back(blockCrc8(report));
                           EXPECT_EQ(s.host.read(report.size(), 1000ms), report);
                       }},
        BlockFaultCase{"LongFrameAsReport",
                       {"--report-frame", "78 01 00 0A"},
                       [](BlockSession& s) {
                           const Bytes frame{0x78, 0x01, 0x00, 0x0A};
                           Bytes expected = frame;
                           expected.push_back(blockCrc8(frame));
                           EXPECT_EQ(s.host.read(expected.size(), 1000ms), expected);
                       }},
        BlockFaultCase{"ReportWithWrongCrc",
                       {"--report-bad-crc"},
                       [](BlockSession& s) {
                           Bytes expected = kReport;
                           expected.back() ^= 0xFF;
                           EXPECT_EQ(s.host.read(kReport.size(), 1000ms), expected);
                       }}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace qor::sim::test
