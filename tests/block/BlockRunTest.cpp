// Whole update runs of a kind-4 image: the test plays the logger at 9600 baud and then the
// radio module's block bootloader behind the logger's pass-through at 57600 baud.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <thread>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueTestSeam.h"
#include "engine/Exceptions.h"
#include "engine/KECommThread.h"
#include "tests/block/BlockFixture.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::answerFrame;
using test::Bytes;
using test::longFrame;
using test::powerOnReport;
using test::PrintTo;
using test::readBlockFrame;
using test::shortFrame;
using test::testImage;
using test::writeBlockFrame;

// The module the test logger reports: BLE module G2, u-blox NINA, NINA-B3 UART.
TBl3FileHeader blockImageHeader() {
    TBl3FileHeader h;
    h.qor_class = 26156;
    h.qor_verH = 2;
    h.qor_verL = 6;
    h.qor_platform = 18;
    h.qor_print = 35;
    h.qor_date = "01.02.2024 10:00:00";
    h.qor_bl = kBlockBootloader;
    h.qor_bl_ver = 1;
    return h;
}

const Bytes kVerifyCommand = {0x83, 0x30, 0x00, 0, 0, 0, 0, 0x3D};

Bytes announceFrame(std::uint32_t size, std::uint32_t length) {
    Bytes data = {12};
    for (std::uint32_t value : {size, length}) {
        for (int shift = 0; shift < 32; shift += 8) {
            data.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
    return longFrame(data);
}

const Bytes kFinish = longFrame({13});

class BlockRunTest : public test::BlockFixture {
  protected:
    void SetUp() override {
        BlockFixture::SetUp();
        readInfoOnlyFlag = false;
        checkClassFlag = true;
        selectedFirmwareIndex = -1;
    }

    // The image becomes the catalogue's only entry; the run starts as the window starts it.
    void start(const Bytes& image, std::uint32_t size) {
        entry_ = std::make_unique<test::ScopedBuiltinEntry>(
            blockImageHeader(), image, size, static_cast<std::uint32_t>(image.size()),
            test::ScopedBuiltinEntry::Placement::only);
        TCommThread::Create<TKECommThread>(recorder_->handle(), TCmd::tCMD0, peer_.path());
    }

    // The logger's side of the run up to the pass-through switch; then waits until the host
    // has opened the port again at the bootloader's speed.
    void playLoggerToPassThrough() {
        ASSERT_EQ(peer_.read(16, 2000ms), Bytes(16, 0x00));
        const std::vector<std::pair<Bytes, Bytes>> dialogue = {
            {{0x81, 0, 0, 0, 0, 0, 0, 0xAA}, answerFrame({0x01, 0x00, 0x66, 0x21, 0x01, 0x08})},
            {{0x83, 0x30, 2, 0, 0, 0, 0, 0xBE}, answerFrame({0x01, 0x2C, 0x66, 18, 0, 35, 0})},
            {kVerifyCommand, answerFrame({0x01, 0x2C, 0x66, 0x05, 0x02, 35, 0})},
            {{0x83, 0x30, 1, 0, 0, 0, 0, 0xF0}, answerFrame({0x01, 18, 0})},
            {{0x82, 0x30, 0, 0, 0, 0, 0, 0x00}, answerFrame({0x01})},
        };
        for (const auto& [command, answer] : dialogue) {
            ASSERT_EQ(peer_.read(8, 5000ms), command);
            peer_.write(answer);
        }
        const auto limit = std::chrono::steady_clock::now() + 3s;
        while (peer_.speed() != B57600 && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(peer_.speed(), static_cast<speed_t>(B57600));
    }

    // A run of the image up to its announcement, after the power-on report was acknowledged.
    void startToAnnouncement(const Bytes& image) {
        const auto length = static_cast<std::uint32_t>(image.size());
        start(image, length);
        ASSERT_NO_FATAL_FAILURE(playLoggerToPassThrough());
        peer_.write(powerOnReport(10));
        ASSERT_EQ(readBlockFrame(peer_, 2000ms), Bytes({0x08, 0x00, 0xFE}));
        ASSERT_EQ(readBlockFrame(peer_, 2000ms), announceFrame(length, length));
    }

    // Byte 0, a pause longer than a read's time-out, byte 1, a pause, the rest.
    void writeHeaderByteByByte(const Bytes& frame) {
        peer_.write({frame[0]});
        std::this_thread::sleep_for(250ms);
        peer_.write({frame[1]});
        std::this_thread::sleep_for(250ms);
        peer_.write(Bytes(frame.begin() + 2, frame.end()));
    }

    void accept() { peer_.write(longFrame({10})); }

    void expectFailure(std::int32_t error) {
        const test::Posted end = finish();
        EXPECT_EQ(end.code, kNotifyFailure);
        EXPECT_EQ(end.value, error);
    }

    test::ScopedCatalogueState catalogueState_;
    std::unique_ptr<test::ScopedBuiltinEntry> entry_;
};

// The frames of an empty image byte for byte: one block of no bytes, no progress. A refusal of
// the finishing command ends the run at once.
TEST_F(BlockRunTest, EmptyImageSendsTheKnownFrames) {
    start({}, 72694);
    ASSERT_NO_FATAL_FAILURE(playLoggerToPassThrough());
    peer_.write(powerOnReport(10));
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), Bytes({0x08, 0x00, 0xFE}));
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), Bytes({0x78, 0x09, 0x00, 0x0C, 0xF6, 0x1B, 0x01, 0x00,
                                                    0x00, 0x00, 0x00, 0x00, 0x64, 0x33}));
    const Bytes accepted = {0x78, 0x01, 0x00, 0x0A, 0xC5, 0xB6};
    peer_.write(accepted);
    EXPECT_EQ(readBlockFrame(peer_, 2000ms),
              Bytes({0x78, 0x05, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0xAD, 0xB7}));
    peer_.write(accepted);
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), Bytes({0x78, 0x01, 0x00, 0x0D, 0x7A, 0xC2}));
    peer_.write(longFrame({11}));
    expectFailure(cEX_KE_NAK);
    EXPECT_TRUE(progress().empty());
    EXPECT_TRUE(hostStaysQuiet());
}

// The one run that goes through the restart wait to the verification.
TEST_F(BlockRunTest, TwoBlockImageIsVerifiedAfterTheRestartWait) {
    const Bytes image = testImage(2048);
    start(image, 0x12345678);
    ASSERT_NO_FATAL_FAILURE(playLoggerToPassThrough());
    peer_.write(powerOnReport(16, "BLK"));
    ASSERT_EQ(readBlockFrame(peer_, 2000ms), Bytes({0x08, 0x00, 0xFE}));
    ASSERT_EQ(readBlockFrame(peer_, 2000ms), announceFrame(0x12345678, 2048));
    accept();
    for (std::uint32_t offset : {0u, 1024u}) {
        ASSERT_EQ(readBlockFrame(peer_, 2000ms), writeBlockFrame(image, offset, 1024));
        accept();
    }
    ASSERT_EQ(readBlockFrame(peer_, 2000ms), kFinish);
    accept();
    const auto finished = std::chrono::steady_clock::now();

    ASSERT_EQ(peer_.read(8, 35s), kVerifyCommand);
    EXPECT_GE(std::chrono::steady_clock::now() - finished, 24500ms);
    EXPECT_EQ(peer_.speed(), static_cast<speed_t>(B9600));
    peer_.write(answerFrame({0x01, 0x2C, 0x66, 0x06, 0x02, 35, 0}));
    EXPECT_EQ(finish().code, kNotifySuccess);

    EXPECT_EQ(reportLines(), (std::vector<ReportLine>{
                                 {0, "POR16: 08 0D 01 00 2C 66 12 00 23 00 01 04 42 4C 4B CA "},
                                 {1, "CL26156 PF18 PR35 V1 B4 [BLK]"}}));
    // From the choice of the image on: the report lines, progress, the new firmware, success.
    auto codes = recorder_->codes();
    const auto selected = std::find(codes.begin(), codes.end(), kNotifySelected);
    ASSERT_NE(selected, codes.end());
    EXPECT_EQ(std::vector<std::uint32_t>(selected, codes.end()),
              (std::vector<std::uint32_t>{26, 100, 100, 1, 1, 20, 21, 0}));
    EXPECT_EQ(progress(), (std::vector<std::int32_t>{49, 99}));
    EXPECT_EQ(recorder_->all()[codes.size() - 2].value, 0x0206);
}

// Short frames before an answer are passed over; an image of 1025 bytes goes as 1024 + 1.
TEST_F(BlockRunTest, ShortFramesBeforeAnswersArePassedOver) {
    const Bytes image = testImage(1025);
    ASSERT_NO_FATAL_FAILURE(startToAnnouncement(image));
    peer_.write(shortFrame(0x10, {1, 2, 3}));
    accept();
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), writeBlockFrame(image, 0, 1024));
    peer_.write(shortFrame(0x08, {}));
    accept();
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), writeBlockFrame(image, 1024, 1));
    accept();
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), kFinish);
    peer_.write(longFrame({0x42}));
    expectFailure(cEX_KE_ANSWER);
    EXPECT_EQ(progress(), (std::vector<std::int32_t>{98, 99}));
}

struct BlockAnswer {
    const char* name;
    Bytes data;
    std::uint8_t header;
    std::int32_t error;
};

class BlockAnswerEndsTheRun : public BlockRunTest,
                              public ::testing::WithParamInterface<BlockAnswer> {};

// Neither a refusal nor an answer without a status byte is retried. A long frame without data
// carries no status: its byte 3 is a check-value byte, 10 for the header 0x79 (kind 15 too).
INSTANTIATE_TEST_SUITE_P(
    Answers, BlockAnswerEndsTheRun,
    ::testing::Values(BlockAnswer{"Refusal", {11}, test::kLongHeader, cEX_KE_NAK},
                      BlockAnswer{"NoStatusByte", {}, 0x79, cEX_KE_ANSWER}),
    test::CaseName());

TEST_P(BlockAnswerEndsTheRun, AtOnceWithoutAnotherAttempt) {
    const Bytes image = testImage(2048);
    ASSERT_NO_FATAL_FAILURE(startToAnnouncement(image));
    accept();
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), writeBlockFrame(image, 0, 1024));
    peer_.write(longFrame(GetParam().data, GetParam().header));
    expectFailure(GetParam().error);
    EXPECT_TRUE(hostStaysQuiet());
    EXPECT_TRUE(progress().empty());
}

// The first read asks for two bytes, later passes for what the header still lacks.
TEST_F(BlockRunTest, HeaderBytesArrivingOneByOneAreAssembled) {
    start({}, 0);
    ASSERT_NO_FATAL_FAILURE(playLoggerToPassThrough());
    writeHeaderByteByByte(powerOnReport(10));
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), Bytes({0x08, 0x00, 0xFE}));
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), announceFrame(0, 0));
    writeHeaderByteByByte(longFrame({10}));
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), writeBlockFrame({}, 0, 0));
    peer_.write(longFrame({11}));
    expectFailure(cEX_KE_NAK);
}

// Needs the 10 s deadline.
TEST_F(BlockRunTest, UnansweredBlockIsSentAgainWithTheSameOffsetAndData) {
    const Bytes image = testImage(2048);
    ASSERT_NO_FATAL_FAILURE(startToAnnouncement(image));
    accept();
    ASSERT_EQ(readBlockFrame(peer_, 2000ms), writeBlockFrame(image, 0, 1024));
    accept();
    const Bytes second = writeBlockFrame(image, 1024, 1024);
    ASSERT_EQ(readBlockFrame(peer_, 2000ms), second);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(readBlockFrame(peer_, 15s), second);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 9500ms);
    accept();
    EXPECT_EQ(readBlockFrame(peer_, 2000ms), kFinish);
    peer_.write(longFrame({11}));
    expectFailure(cEX_KE_NAK);
    EXPECT_EQ(progress(), (std::vector<std::int32_t>{49, 99}));
}

// Needs the 10 s deadline. A report that stops after its header and three data bytes is not
// complete within it; past the header no read paces the receive loop, which must not spin.
TEST_F(BlockRunTest, PowerOnReportCutShortTimesOutWithoutSpinning) {
    start({}, 0);
    ASSERT_NO_FATAL_FAILURE(playLoggerToPassThrough());
    const auto reopened = std::chrono::steady_clock::now();
    const std::clock_t cpuBefore = std::clock();
    const Bytes report = powerOnReport(16);
    peer_.write(Bytes(report.begin(), report.begin() + 5));
    const test::Posted end = finish(15s);
    const double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_EQ(end.code, kNotifyFailure);
    EXPECT_EQ(end.value, cEX_KE_TIMEOUT);
    EXPECT_GE(end.at - reopened, 9500ms);
    EXPECT_LT(cpuSeconds, 3.0);
    EXPECT_TRUE(peer_.read(1, 100ms).empty());
}

}  // namespace
}  // namespace qor
