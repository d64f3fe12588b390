#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/CommThread.h"
#include "engine/Exceptions.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/SerialPort.h"
#include "tests/support/NotificationRecorder.h"
#include "tests/support/PtyPeer.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::answerFrame;
using test::NotificationRecorder;
using test::PtyPeer;

// A worker whose work is a test script; the script is handed over through a global because the
// window-facing Create only passes (window, command, port).
class ScriptedWorker : public TCommThread {
  public:
    static inline std::function<void(ScriptedWorker&)> nextScript;

    ScriptedWorker(std::int32_t hWindow, TCmd cmd, const std::string& sPort)
        : TCommThread(hWindow, cmd, sPort), script_(nextScript) {}

    void command(std::uint8_t cmd, std::uint8_t p1 = 0, std::uint8_t p2 = 0) {
        sendCommand(true, cmd, p1, p2, 0, 0, 0, 0);
    }
    Bytes answer() const { return Bytes(FRxBuffer, FRxBuffer + 8); }
    void progress(std::int32_t position, std::int32_t total) { setProgress(position, total); }
    void reopen(std::int32_t baud) { reopenPort(baud); }

  protected:
    void work() override {
        if (script_) {
            script_(*this);
        }
    }

  private:
    std::function<void(ScriptedWorker&)> script_;
};

const Bytes kReset(8, 0x00);
const Bytes kCmd1 = {0x81, 0, 0, 0, 0, 0, 0, 0xAA};

class CommThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cancelFlag = false;
        // The port must be free again when the final notification is posted.
        recorder_ = std::make_unique<NotificationRecorder>([this](const test::Posted& p) {
            if (p.code == kNotifySuccess || p.code == kNotifyFailure || p.code == kNotifyNoAnswer) {
                const auto h = platform::serialOpen(peer_.path(), 9600);
                portFreeAtEnd_ = h != platform::kInvalidSerialHandle;
                platform::serialClose(h);
            }
        });
    }
    void TearDown() override {
        EXPECT_TRUE(TCommThread::waitForWorkers(10000));
        ScriptedWorker::nextScript = nullptr;
        cancelFlag = false;
    }

    void start(std::function<void(ScriptedWorker&)> script, const std::string& port = "") {
        ScriptedWorker::nextScript = std::move(script);
        TCommThread::Create<ScriptedWorker>(recorder_->handle(), TCmd::tCMD0,
                                            port.empty() ? peer_.path() : port);
    }
    // The two reset frames every run begins with.
    void expectResets() { EXPECT_EQ(peer_.read(16, 1000ms), Bytes(16, 0x00)); }
    test::Posted finish() {
        EXPECT_TRUE(recorder_->waitForEnd(10s));
        EXPECT_TRUE(TCommThread::waitForWorkers(10000));
        const auto codes = recorder_->codes();
        int finals = 0;
        for (auto c : codes) {
            finals += (c == kNotifySuccess || c == kNotifyFailure || c == kNotifyNoAnswer);
        }
        EXPECT_EQ(finals, 1);
        EXPECT_TRUE(codes.back() == kNotifySuccess || codes.back() == kNotifyFailure ||
                    codes.back() == kNotifyNoAnswer);
        return recorder_->end();
    }

    PtyPeer peer_;
    std::unique_ptr<NotificationRecorder> recorder_;
    std::atomic<bool> portFreeAtEnd_{false};
};

TEST(Crc8, CheckValuesAndCommandFrames) {
    const std::string digits = "123456789";
    EXPECT_EQ(calculateCRC8(reinterpret_cast<const std::uint8_t*>(digits.data()), 9), 0xA1);
    EXPECT_EQ(calculateCRC8(reinterpret_cast<const std::uint8_t*>("abc"), 3), 0x42);
    const std::uint8_t zeros[7] = {};
    EXPECT_EQ(calculateCRC8(zeros, 7), 0x00);
    EXPECT_EQ(calculateCRC8(zeros, 0), 0x00);
    struct Frame {
        std::array<std::uint8_t, 7> head;
        std::uint8_t crc;
    };
    for (const Frame& f :
         {Frame{{0x81, 0, 0, 0, 0, 0, 0}, 0xAA}, Frame{{0x82, 0x30, 0, 0, 0, 0, 0}, 0x00},
          Frame{{0x83, 0x30, 2, 0, 0, 0, 0}, 0xBE}, Frame{{0x83, 0x30, 0, 0, 0, 0, 0}, 0x3D},
          Frame{{0x83, 0x30, 1, 0, 0, 0, 0}, 0xF0}}) {
        EXPECT_EQ(calculateCRC8(f.head.data(), 7), f.crc);
    }
}

TEST(ByteRoutines, SplitAndJoin) {
    EXPECT_EQ(makeWord(0x66, 0x21), 26145);
    std::uint8_t hi = 0, lo = 0;
    splitWord(0x0205, hi, lo);
    EXPECT_EQ(hi, 2);
    EXPECT_EQ(lo, 5);
    std::uint8_t b3 = 0, b2 = 0, b1 = 0, b0 = 0;
    splitLongWord(72694, b3, b2, b1, b0);
    EXPECT_EQ((Bytes{b3, b2, b1, b0}), (Bytes{0x00, 0x01, 0x1B, 0xF6}));
}

TEST_F(CommThreadTest, SendsTheCommandFramesByteForByteAt9600) {
    Bytes answer1;
    start([&](ScriptedWorker& w) {
        w.command(1);
        answer1 = w.answer();
        w.command(2, 0x30);
        w.command(3, 0x30, 2);
        w.command(3, 0x30, 0);
        w.command(3, 0x30, 1);
    });
    expectResets();
    EXPECT_EQ(peer_.speed(), static_cast<speed_t>(B9600));
    const std::vector<Bytes> expected = {
        kCmd1,
        {0x82, 0x30, 0, 0, 0, 0, 0, 0x00},
        {0x83, 0x30, 0x02, 0, 0, 0, 0, 0xBE},
        {0x83, 0x30, 0x00, 0, 0, 0, 0, 0x3D},
        {0x83, 0x30, 0x01, 0, 0, 0, 0, 0xF0},
    };
    const Bytes identity = answerFrame({0x01, 0x00, 0x66, 0x21, 0x01, 0x08, 0x00});
    for (const auto& frame : expected) {
        EXPECT_EQ(peer_.read(8, 2000ms), frame);
        peer_.write(&frame == &expected[0] ? identity : answerFrame({0x01}));
    }
    EXPECT_EQ(finish().code, kNotifySuccess);
    EXPECT_EQ(answer1, identity);
    EXPECT_TRUE(portFreeAtEnd_);
}

TEST_F(CommThreadTest, BadCrcThenGoodAnswerRetriesOnceAfter100ms) {
    start([](ScriptedWorker& w) { w.command(1); });
    expectResets();
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    Bytes bad = answerFrame({0x01, 0, 0x66, 0x21, 1, 8, 0});
    bad[7] ^= 0xFF;
    peer_.write(bad);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    const auto gap = std::chrono::steady_clock::now() - sent;
    EXPECT_GE(gap, 90ms);
    EXPECT_LT(gap, 200ms);
    peer_.write(answerFrame({0x01, 0, 0x66, 0x21, 1, 8, 0}));
    EXPECT_EQ(finish().code, kNotifySuccess);
    EXPECT_TRUE(peer_.readUntilQuiet(100ms, 300ms).empty());
}

TEST_F(CommThreadTest, NoAnswerGivesFiveWritesThenNotification13) {
    start([](ScriptedWorker& w) { w.command(1); });
    expectResets();
    const auto first = std::chrono::steady_clock::now();
    const Bytes all = peer_.readUntilQuiet(600ms, 5000ms);
    const auto elapsed = recorder_->waitForEnd(5s) ? recorder_->end().at - first : 0ms;
    Bytes five;
    for (int i = 0; i < 5; ++i) {
        five.insert(five.end(), kCmd1.begin(), kCmd1.end());
    }
    EXPECT_EQ(all, five);
    const test::Posted end = finish();
    EXPECT_EQ(end.code, kNotifyNoAnswer);
    EXPECT_EQ(end.value, 0);
    // 5 x 208 ms of waiting plus 4 x 100 ms of pauses.
    EXPECT_GT(elapsed, 1300ms);
    EXPECT_LT(elapsed, 2500ms);
    EXPECT_TRUE(portFreeAtEnd_);
}

TEST_F(CommThreadTest, LateEighthByteIsPurgedBeforeTheNextAttempt) {
    Bytes answer;
    start([&](ScriptedWorker& w) {
        w.command(1);
        answer = w.answer();
    });
    expectResets();
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    const Bytes good = answerFrame({0x01, 0, 0x66, 0x21, 1, 8, 0});
    peer_.write(Bytes(good.begin(), good.begin() + 7));
    std::this_thread::sleep_for(250ms);  // after the 208 ms read, before the 100 ms pause ends
    peer_.write(Bytes(good.begin() + 7, good.end()));
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    peer_.write(good);
    EXPECT_EQ(finish().code, kNotifySuccess);
    EXPECT_EQ(answer, good);
    EXPECT_TRUE(peer_.readUntilQuiet(100ms, 300ms).empty());
}

TEST_F(CommThreadTest, ExceptionBitWithGoodCrcIsError41AtOnce) {
    start([](ScriptedWorker& w) { w.command(1); });
    expectResets();
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    peer_.write(answerFrame({0x21, 0, 0x66, 0x21, 1, 8, 0}));
    const test::Posted end = finish();
    EXPECT_EQ(end.code, kNotifyFailure);
    EXPECT_EQ(end.value, cEX_LOGGER_EXCEPTION);
    EXPECT_TRUE(peer_.readUntilQuiet(100ms, 300ms).empty());
}

TEST_F(CommThreadTest, ExceptionBitWithBadCrcIsOnlyAFailedAttempt) {
    start([](ScriptedWorker& w) { w.command(1); });
    expectResets();
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    Bytes bad = answerFrame({0x21, 0, 0x66, 0x21, 1, 8, 0});
    bad[7] ^= 0x01;
    peer_.write(bad);
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    peer_.write(answerFrame({0x01, 0, 0x66, 0x21, 1, 8, 0}));
    EXPECT_EQ(finish().code, kNotifySuccess);
}

TEST_F(CommThreadTest, CancelBeforeSendCommandWritesNothing) {
    start([](ScriptedWorker& w) {
        cancelFlag = true;
        w.command(1);
    });
    expectResets();
    const test::Posted end = finish();
    EXPECT_EQ(end.code, kNotifyFailure);
    EXPECT_EQ(end.value, cEX_CANCEL);
    EXPECT_TRUE(peer_.readUntilQuiet(100ms, 300ms).empty());
}

TEST_F(CommThreadTest, ResetFramesReadNothingAndTheNextPurgeDropsTheirReplies) {
    Bytes answer;
    start([&](ScriptedWorker& w) {
        w.command(1);
        answer = w.answer();
    });
    ASSERT_EQ(peer_.read(8, 1000ms), kReset);
    peer_.write(answerFrame({0x01, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    ASSERT_EQ(peer_.read(8, 1000ms), kReset);
    peer_.write(answerFrame({0x01, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD}));
    ASSERT_EQ(peer_.read(8, 2000ms), kCmd1);
    const Bytes good = answerFrame({0x01, 0, 0x66, 0x21, 1, 8, 0});
    peer_.write(good);
    EXPECT_EQ(finish().code, kNotifySuccess);
    EXPECT_EQ(answer, good);
}

TEST_F(CommThreadTest, ReopenAppliesTheNewSpeed) {
    std::atomic<bool> reopened{false};
    std::atomic<bool> checked{false};
    start([&](ScriptedWorker& w) {
        w.reopen(57600);
        reopened = true;
        while (!checked) {
            std::this_thread::sleep_for(1ms);
        }
    });
    expectResets();
    while (!reopened) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(peer_.speed(), static_cast<speed_t>(B57600));
    checked = true;
    EXPECT_EQ(finish().code, kNotifySuccess);
}

TEST_F(CommThreadTest, PortsThatCannotBeOpenedEndWithError10BeforeAnyWrite) {
    const auto held = platform::serialOpen(peer_.path(), 9600);
    ASSERT_NE(held, platform::kInvalidSerialHandle);
    for (const std::string& port : {std::string("/dev/qor-no-such-port"), peer_.path()}) {
        NotificationRecorder recorder;
        ScriptedWorker::nextScript = [](ScriptedWorker& w) { w.command(1); };
        TCommThread::Create<ScriptedWorker>(recorder.handle(), TCmd::tCMD0, port);
        ASSERT_TRUE(recorder.waitForEnd(5s));
        EXPECT_EQ(recorder.codes(), std::vector<std::uint32_t>{kNotifyFailure});
        EXPECT_EQ(recorder.end().value, cEX_PORT_OPEN);
    }
    platform::serialClose(held);
    EXPECT_TRUE(peer_.readUntilQuiet(100ms, 300ms).empty());
    // An empty name is opened by nobody.
    EXPECT_EQ(platform::serialOpen("", 9600), platform::kInvalidSerialHandle);
}

TEST_F(CommThreadTest, ProgressIsClampedAndPostedOnlyOnChange) {
    start([](ScriptedWorker& w) {
        w.progress(5, 0);      // 0: nothing new
        w.progress(150, 100);  // 99
        w.progress(150, 100);  // same again: no post
        w.progress(-3, 100);   // 0
        w.progress(1, 2);      // 49
        w.progress(2, 2);      // 99
    });
    expectResets();
    EXPECT_EQ(finish().code, kNotifySuccess);
    std::vector<std::int32_t> progress;
    for (const auto& p : recorder_->all()) {
        if (p.code == kNotifyProgress) {
            progress.push_back(p.value);
        }
    }
    EXPECT_EQ(progress, (std::vector<std::int32_t>{99, 0, 49, 99}));
}

}  // namespace
}  // namespace qor
