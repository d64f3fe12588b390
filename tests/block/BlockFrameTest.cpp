// The frame layer of the block bootloader protocol on a worker whose work is a test script:
// buffer bounds in both directions, cancelling a wait, the power-on report.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <thread>

#include "engine/Exceptions.h"
#include "engine/KECommThread.h"
#include "tests/block/BlockFixture.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::longFrame;
using test::powerOnReport;
using test::PrintTo;
using test::readBlockFrame;
using test::shortFrame;

class ScriptedBlockWorker : public TKECommThread {
  public:
    static inline std::function<void(ScriptedBlockWorker&)> nextScript;

    ScriptedBlockWorker(std::int32_t hWindow, TCmd cmd, const std::string& sPort)
        : TKECommThread(hWindow, cmd, sPort), script_(nextScript) {}

    // Puts the data where the frame kind expects it and lets sendBlockFrame complete the frame
    // with the announced length.
    void send(std::uint8_t header, const Bytes& data, std::int32_t announced) {
        const std::size_t at = header == test::kLongHeader ? 3 : 2;
        std::copy(data.begin(), data.end(), FTxBuffer + at);
        sendBlockFrame(header, announced);
    }
    Bytes receive() {
        startAnswerTimer();
        receiveBlockFrame();
        return Bytes(FRxBuffer, FRxBuffer + FRxLength);
    }
    void handshake() {
        FRxPos = 0;
        powerOnHandshake();
    }

  protected:
    void work() override { script_(*this); }

  private:
    std::function<void(ScriptedBlockWorker&)> script_;
};

class BlockFrameTest : public test::BlockFixture {
  protected:
    void TearDown() override {
        BlockFixture::TearDown();
        ScriptedBlockWorker::nextScript = nullptr;
    }
    void start(std::function<void(ScriptedBlockWorker&)> script) {
        ScriptedBlockWorker::nextScript = std::move(script);
        TCommThread::Create<ScriptedBlockWorker>(recorder_->handle(), TCmd::tCMD0, peer_.path());
        ASSERT_EQ(peer_.read(16, 2000ms), Bytes(16, 0x00));
    }
};

Bytes pattern(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    return bytes;
}

// A long frame that announces more than 1496 data bytes would end past the 1501-byte buffer;
// a short one is cut to 100.
TEST_F(BlockFrameTest, SenderCutsFramesToWhatTheBufferHolds) {
    const Bytes longData = pattern(1498);
    const Bytes shortData = pattern(100);
    start([&](ScriptedBlockWorker& w) {
        w.send(test::kLongHeader, longData, 1500);
        w.send(0x10, shortData, 300);
    });
    const Bytes longSent = readBlockFrame(peer_, 2000ms);
    EXPECT_EQ(longSent.size(), TCommThread::kBufferSize);
    EXPECT_EQ(longSent, longFrame(Bytes(longData.begin(), longData.begin() + 1496)));
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), shortFrame(0x10, shortData));
    EXPECT_EQ(finish().code, kNotifySuccess);
}

// The largest frame that fits is received whole; one announcing a byte more is a damaged frame
// at once, without waiting for data that could not be stored.
TEST_F(BlockFrameTest, ReceivedLengthBeyondTheBufferIsADamagedFrame) {
    Bytes largest = pattern(1496);
    largest[0] = 10;
    std::optional<Bytes> first;
    start([&](ScriptedBlockWorker& w) {
        first = w.receive();
        w.receive();
    });
    peer_.write(longFrame(largest));
    peer_.write({test::kLongHeader, 0xD9, 0x05});
    const auto sent = std::chrono::steady_clock::now();
    const test::Posted end = finish();
    EXPECT_EQ(end.code, kNotifyFailure);
    EXPECT_EQ(end.value, cEX_KE_CRC);
    EXPECT_LT(end.at - sent, 3s);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, longFrame(largest));
}

TEST_F(BlockFrameTest, CancelEndsTheWaitForAFrame) {
    start([](ScriptedBlockWorker& w) { w.receive(); });
    std::this_thread::sleep_for(300ms);
    const auto cancelled = std::chrono::steady_clock::now();
    cancelFlag = true;
    const test::Posted end = finish();
    EXPECT_EQ(end.code, kNotifyFailure);
    EXPECT_EQ(end.value, cEX_CANCEL);
    EXPECT_LT(end.at - cancelled, 2s);
}

struct AcceptedReport {
    const char* name;
    Bytes frame;
    std::string bytesLine;
    std::optional<std::string> valuesLine;
    Bytes acknowledgement;
};

class PowerOnReportAccepted : public BlockFrameTest,
                              public ::testing::WithParamInterface<AcceptedReport> {};

// Slot 0 shows the frame's bytes; slot 1 the values, once the frame reaches byte 11. In a frame
// of 12 bytes byte 11 is the check value, which the values line shows as it stands.
INSTANTIATE_TEST_SUITE_P(
    Lengths, PowerOnReportAccepted,
    ::testing::Values(AcceptedReport{"Bytes10",
                                     powerOnReport(10),
                                     "POR10: 08 07 01 00 2C 66 12 00 23 F1 ",
                                     std::nullopt,
                                     {0x08, 0x00, 0xFE}},
                      AcceptedReport{"Bytes11",
                                     powerOnReport(11),
                                     "POR11: 08 08 01 00 2C 66 12 00 23 00 70 ",
                                     std::nullopt,
                                     {0x08, 0x00, 0xFE}},
                      AcceptedReport{"Bytes12", powerOnReport(12),
                                     "POR12: 08 09 01 00 2C 66 12 00 23 00 01 C4 ",
                                     "CL26156 PF18 PR35 V1 B196 []", Bytes{0x08, 0x00, 0xFE}},
                      // Header bits outside the kind are echoed in the acknowledgement.
                      AcceptedReport{"Bytes13OtherHeaderBits", powerOnReport(13, "", 0x8B),
                                     "POR13: 8B 0A 01 00 2C 66 12 00 23 00 01 04 F2 ",
                                     "CL26156 PF18 PR35 V1 B4 []", Bytes{0x8B, 0x00, 0xE1}},
                      AcceptedReport{"Bytes16WithText", powerOnReport(16, "BLK"),
                                     "POR16: 08 0D 01 00 2C 66 12 00 23 00 01 04 42 4C 4B CA ",
                                     "CL26156 PF18 PR35 V1 B4 [BLK]", Bytes{0x08, 0x00, 0xFE}}),
    test::CaseName());

TEST_P(PowerOnReportAccepted, IsReportedAndAcknowledged) {
    const AcceptedReport& c = GetParam();
    start([](ScriptedBlockWorker& w) { w.handshake(); });
    peer_.write(c.frame);
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), c.acknowledgement);
    EXPECT_EQ(finish().code, kNotifySuccess);
    std::vector<ReportLine> expected = {{0, c.bytesLine}};
    if (c.valuesLine) {
        expected.emplace_back(1, *c.valuesLine);
    }
    EXPECT_EQ(reportLines(), expected);
}

struct RejectedReport {
    const char* name;
    Bytes frame;
    std::int32_t error;
};

Bytes withBadCrc(Bytes frame) {
    frame.back() ^= 0x5A;
    return frame;
}

class PowerOnReportRejected : public BlockFrameTest,
                              public ::testing::WithParamInterface<RejectedReport> {};

INSTANTIATE_TEST_SUITE_P(
    Frames, PowerOnReportRejected,
    ::testing::Values(RejectedReport{"LongFrameFirst", longFrame({10}), cEX_KE_POR},
                      RejectedReport{"OtherKind", powerOnReport(16, "", 0x10), cEX_KE_POR},
                      RejectedReport{"FlagClear", powerOnReport(16, "", 0x08, 0x00), cEX_KE_POR},
                      RejectedReport{"NineBytes", powerOnReport(9), cEX_KE_POR},
                      RejectedReport{"CrcError", withBadCrc(powerOnReport(16)), cEX_KE_CRC}),
    test::CaseName());

TEST_P(PowerOnReportRejected, EndsTheRunWithoutAcknowledgement) {
    const RejectedReport& c = GetParam();
    start([](ScriptedBlockWorker& w) { w.handshake(); });
    peer_.write(c.frame);
    const test::Posted end = finish();
    EXPECT_EQ(end.code, kNotifyFailure);
    EXPECT_EQ(end.value, c.error);
    EXPECT_TRUE(reportLines().empty());
    EXPECT_TRUE(hostStaysQuiet());
}

}  // namespace
}  // namespace qor
