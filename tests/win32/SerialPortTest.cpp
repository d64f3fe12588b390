// The serial seam and the command link on Win32, on COM ports that wine maps to
// pseudo-terminals (tests/win32/serial_peers.py): the test's port and its peer are two ends of
// one line.
//
// Where wine differs from Windows:
// - A pseudo-terminal has no modem lines, and wine fails EscapeCommFunction(SETDTR) on it with
//   ERROR_NOT_SUPPORTED. serial_peers.py preloads modem lines for the test's ports (the bare
//   port keeps wine's behaviour, which is how the failure path is tested).
// - ReadIntervalTimeout = MAXDWORD together with ReadTotalTimeoutMultiplier = MAXDWORD ("return
//   as soon as a byte is there") waits out the whole ReadTotalTimeoutConstant there, so the seam
//   does not use it.
// - Wine has no IOCTL_SERIAL_GET_DTRRTS (see outputLines) and does not keep a second opener
//   off a serial device opened with share mode 0.
#include <windows.h>

#include <gtest/gtest.h>
#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/CommThread.h"
#include "engine/RunState.h"
#include "platform/SerialPort.h"
#include "tests/support/NotificationRecorder.h"
#include "tests/win32/WinTestSupport.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;

// From the serial driver interface (ntddser.h, which wants the driver kit's headers).
constexpr DWORD kGetDtrRts =
    CTL_CODE(FILE_DEVICE_SERIAL_PORT, 30, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kDtrState = 0x1;
constexpr ULONG kRtsState = 0x2;

HANDLE win32(platform::SerialHandle h) {
    return ULongToHandle(static_cast<unsigned long>(h));
}

// The state of DTR and RTS (kDtrState, kRtsState). Windows reports it through
// IOCTL_SERIAL_GET_DTRRTS. Wine does not know that request; it reports the lines' state in
// GetCommState's fDtrControl and fRtsControl instead.
ULONG outputLines(HANDLE h) {
    ULONG lines = 0;
    DWORD n = 0;
    if (DeviceIoControl(h, kGetDtrRts, nullptr, 0, &lines, sizeof lines, &n, nullptr)) {
        return lines & (kDtrState | kRtsState);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!test::runningUnderWine() || !GetCommState(h, &dcb)) {
        ADD_FAILURE() << "cannot read the modem lines: " << GetLastError();
        return 0;
    }
    return (dcb.fDtrControl == DTR_CONTROL_ENABLE ? kDtrState : 0) |
           (dcb.fRtsControl == RTS_CONTROL_ENABLE ? kRtsState : 0);
}

std::int64_t msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// An open port of the seam that closes itself.
struct OpenPort {
    platform::SerialHandle handle;
    explicit OpenPort(const std::string& name, std::int32_t baud = 9600)
        : handle(platform::serialOpen(name, baud)) {}
    ~OpenPort() { platform::serialClose(handle); }
    bool ok() const { return handle != platform::kInvalidSerialHandle; }
};

class Win32Serial : public ::testing::Test {
  protected:
    const std::string port_ = test::portFromEnvironment("QOR_TEST_PORT");
    test::PeerPort peer_{test::portFromEnvironment("QOR_PEER_PORT")};
};

class Win32SerialSettings : public Win32Serial, public ::testing::WithParamInterface<int> {};

// What the device holds after opening: the line settings built from nothing, the time-outs,
// DTR raised and RTS low.
TEST_P(Win32SerialSettings, OpenAppliesTheLineSettingsTimeoutsAndModemLines) {
    OpenPort port(port_, GetParam());
    ASSERT_TRUE(port.ok());
    const HANDLE h = win32(port.handle);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(GetParam()));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.XonChar, 0x20);
    EXPECT_EQ(dcb.XoffChar, 0x20);

    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(h, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 200u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);

    EXPECT_EQ(outputLines(h), kDtrState);
}

INSTANTIATE_TEST_SUITE_P(Bauds, Win32SerialSettings, ::testing::Values(9600, 57600));

struct ReadCase {
    const char* name;
    std::size_t sent;
    std::int64_t minMs;
    std::int64_t maxMs;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class Win32SerialRead : public Win32Serial, public ::testing::WithParamInterface<ReadCase> {};

// A read of 8 bytes returns when all 8 are there, or after 200 + 8 ms with what has arrived.
TEST_P(Win32SerialRead, EightBytesOrWhatArrivedWithin208ms) {
    const ReadCase& c = GetParam();
    OpenPort port(port_);
    ASSERT_TRUE(port.ok());
    const Bytes sent = {1, 2, 3, 4, 5, 6, 7, 8};
    peer_.write(Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(c.sent)));
    std::this_thread::sleep_for(50ms);

    std::uint8_t buffer[8] = {};
    std::uint32_t received = 99;
    const auto start = Clock::now();
    ASSERT_TRUE(platform::serialRead(port.handle, buffer, 8, received));
    const auto elapsed = msSince(start);
    EXPECT_EQ(received, c.sent);
    EXPECT_EQ(Bytes(buffer, buffer + received), Bytes(sent.begin(), sent.begin() + received));
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LE(elapsed, c.maxMs);
}

INSTANTIATE_TEST_SUITE_P(Cases, Win32SerialRead,
                         ::testing::Values(ReadCase{"Nothing", 0, 190, 1500},
                                           ReadCase{"ThreeBytes", 3, 190, 1500},
                                           ReadCase{"AllEight", 8, 0, 150}),
                         [](const auto& p) { return std::string(p.param.name); });

// Processor time this process has used so far (user and kernel).
std::int64_t cpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000;
}

struct ReadSomeCase {
    const char* name;
    std::size_t sent;  // bytes of kPacket the peer writes
    int sendAfterMs;   // when, counted from the start of the read; -1: before it
    std::uint32_t count;
    std::uint32_t timeoutMs;
    std::int64_t minMs;
    std::int64_t maxMs;
};

void PrintTo(const ReadSomeCase& c, std::ostream* os) {
    *os << c.name;
}

const Bytes kPacket = {0xC0, 1, 2, 3, 0xC0};

class Win32SerialReadSome : public Win32Serial,
                            public ::testing::WithParamInterface<ReadSomeCase> {};

// The DFU tool's read returns what is there at once, else the first bytes as they arrive (on
// Windows and under wine alike), else nothing after the time-out; waiting costs no processor
// time.
TEST_P(Win32SerialReadSome, ReturnsWhatIsThereOrTheFirstBytesOrNothingAtTheTimeout) {
    const ReadSomeCase& c = GetParam();
    OpenPort port(port_, 57600);
    ASSERT_TRUE(port.ok());
    const Bytes sent(kPacket.begin(), kPacket.begin() + static_cast<std::ptrdiff_t>(c.sent));
    if (c.sendAfterMs < 0) {
        peer_.write(sent);
        std::this_thread::sleep_for(50ms);
    }
    std::thread sender([&] {
        if (c.sendAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.sendAfterMs));
            peer_.write(sent);
        }
    });
    std::uint8_t buffer[64] = {};
    std::uint32_t received = 99;
    const auto cpuBefore = cpuMs();
    const auto start = Clock::now();
    const bool ok = platform::serialReadSome(port.handle, buffer, c.count, c.timeoutMs, received);
    const auto elapsed = msSince(start);
    const auto cpu = cpuMs() - cpuBefore;
    sender.join();
    ASSERT_TRUE(ok);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LE(elapsed, c.maxMs);
    EXPECT_LT(cpu, 250) << "the read kept the processor busy";

    // What arrived, in order, at most the count; the rest comes with the next reads.
    const std::size_t expected = std::min<std::size_t>(c.sent, c.count);
    if (c.sent == 0) {
        EXPECT_EQ(received, 0u);
    } else {
        EXPECT_GE(received, 1u);
    }
    Bytes got(buffer, buffer + std::min<std::uint32_t>(received, sizeof buffer));
    while (got.size() < expected && received > 0) {
        ASSERT_TRUE(platform::serialReadSome(port.handle, buffer,
                                             static_cast<std::uint32_t>(expected - got.size()),
                                             1000, received));
        got.insert(got.end(), buffer, buffer + received);
    }
    EXPECT_EQ(got, Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Win32SerialReadSome,
    ::testing::Values(ReadSomeCase{"Waiting", 5, -1, 64, 3000, 0, 500},
                      ReadSomeCase{"MoreWaitingThanAsked", 5, -1, 2, 3000, 0, 500},
                      ReadSomeCase{"ArrivingLater", 5, 150, 64, 3000, 140, 1500},
                      ReadSomeCase{"Nothing", 0, -1, 64, 1000, 990, 2500},
                      ReadSomeCase{"NothingWithinAShortTimeout", 0, -1, 64, 7, 6, 500}),
    [](const auto& p) { return std::string(p.param.name); });

// The command link's reads keep their time-outs on a port that was read the DFU tool's way.
TEST_F(Win32Serial, LinkReadsAfterStreamReadsKeepTheirTimeouts) {
    OpenPort port(port_);
    ASSERT_TRUE(port.ok());
    std::uint8_t buffer[8] = {};
    std::uint32_t received = 99;
    ASSERT_TRUE(platform::serialReadSome(port.handle, buffer, sizeof buffer, 50, received));
    EXPECT_EQ(received, 0u);

    peer_.write({1, 2, 3});
    std::this_thread::sleep_for(50ms);
    const auto start = Clock::now();
    ASSERT_TRUE(platform::serialRead(port.handle, buffer, 8, received));
    const auto elapsed = msSince(start);
    EXPECT_EQ(Bytes(buffer, buffer + received), (Bytes{1, 2, 3}));
    EXPECT_GE(elapsed, 190);
    EXPECT_LE(elapsed, 1500);

    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(win32(port.handle), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 200u);
}

TEST_F(Win32Serial, WritesArriveAndAPurgeDropsWhatWaited) {
    OpenPort port(port_);
    ASSERT_TRUE(port.ok());
    const Bytes frame = {0x81, 0, 0, 0, 0, 0, 0, 0xAA};
    std::uint32_t written = 0;
    ASSERT_TRUE(platform::serialWrite(port.handle, frame.data(), 8, written));
    EXPECT_EQ(written, 8u);
    EXPECT_EQ(peer_.read(8, 2000ms), frame);

    peer_.write({9, 9, 9, 9, 9});
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(platform::serialClearError(port.handle));
    ASSERT_TRUE(platform::serialPurge(port.handle));
    std::uint8_t buffer[8];
    std::uint32_t received = 99;
    ASSERT_TRUE(platform::serialRead(port.handle, buffer, 8, received));
    EXPECT_EQ(received, 0u);
}

TEST_F(Win32Serial, ThePortIsExclusive) {
    if (test::runningUnderWine()) {
        GTEST_SKIP() << "wine opens a serial device a second time despite share mode 0";
    }
    {
        OpenPort first(port_);
        ASSERT_TRUE(first.ok());
        OpenPort second(port_);
        EXPECT_FALSE(second.ok());
    }
    OpenPort again(port_);
    EXPECT_TRUE(again.ok());
}

// Nothing is left open when the port cannot be set up, so the port can be had right after.
TEST(Win32SerialOpen, FailsAndClosesWhenDtrCannotBeRaised) {
    const std::string bare = test::portFromEnvironment("QOR_BARE_PORT");
    const std::wstring path = L"\\\\.\\" + std::wstring(bare.begin(), bare.end());
    {
        // The precondition, and wine's difference: DTR cannot be raised on a plain
        // pseudo-terminal. A real port would accept it.
        const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(EscapeCommFunction(h, SETDTR));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        CloseHandle(h);
    }
    EXPECT_EQ(openComPort(bare, 9600), INVALID_HANDLE_VALUE_32);
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the failed open left the port open";
    CloseHandle(h);
}

TEST(Win32SerialOpen, NamesThatNameNoPortFail) {
    for (const char* name : {"", "COM250", "NUL", "qor-no-such-port"}) {
        EXPECT_EQ(openComPort(name, 9600), INVALID_HANDLE_VALUE_32) << name;
    }
}

// A worker whose work is a test script, as in the POSIX link tests.
class ScriptedWorker : public TCommThread {
  public:
    static inline std::function<void(ScriptedWorker&)> nextScript;

    ScriptedWorker(std::int32_t hWindow, TCmd cmd, const std::string& sPort)
        : TCommThread(hWindow, cmd, sPort), script_(nextScript) {}

    void command1() { sendCommand(true, 1, 0, 0, 0, 0, 0, 0); }
    Bytes answer() const { return Bytes(FRxBuffer, FRxBuffer + 8); }

  protected:
    void work() override { script_(*this); }

  private:
    std::function<void(ScriptedWorker&)> script_;
};

class Win32CommandLink : public Win32Serial {
  protected:
    void TearDown() override {
        EXPECT_TRUE(TCommThread::waitForWorkers(10000));
        ScriptedWorker::nextScript = nullptr;
    }
    void start(std::function<void(ScriptedWorker&)> script) {
        cancelFlag = false;
        ScriptedWorker::nextScript = std::move(script);
        TCommThread::Create<ScriptedWorker>(recorder_.handle(), TCmd::tCMD0, port_);
    }

    test::NotificationRecorder recorder_;
};

const Bytes kCommand1 = {0x81, 0, 0, 0, 0, 0, 0, 0xAA};

// Reset frames, then a frame whose first answer is corrupt: the attempt is repeated once.
TEST_F(Win32CommandLink, RepeatsAFrameAfterACorruptAnswer) {
    Bytes answer;
    start([&answer](ScriptedWorker& w) {
        w.command1();
        answer = w.answer();
    });
    EXPECT_EQ(peer_.read(16, 2000ms), Bytes(16, 0x00));
    EXPECT_EQ(peer_.read(8, 2000ms), kCommand1);
    Bytes bad = test::answerFrame({0x01, 0, 0x66, 0x21, 0x01, 0x0A, 0});
    bad[7] ^= 0xFF;
    peer_.write(bad);
    EXPECT_EQ(peer_.read(8, 2000ms), kCommand1);
    const Bytes good = test::answerFrame({0x01, 0, 0x66, 0x21, 0x01, 0x0A, 0});
    peer_.write(good);
    ASSERT_TRUE(recorder_.waitForEnd(10s));
    EXPECT_EQ(recorder_.end().code, kNotifySuccess);
    EXPECT_TRUE(TCommThread::waitForWorkers(10000));
    EXPECT_EQ(answer, good);
}

// Five unanswered attempts about 208 + 100 ms apart, then notification 13.
TEST_F(Win32CommandLink, GivesUpAfterFiveUnansweredAttempts) {
    const auto start = Clock::now();
    this->start([](ScriptedWorker& w) { w.command1(); });
    ASSERT_TRUE(recorder_.waitForEnd(20s));
    const auto elapsed = msSince(start);
    EXPECT_EQ(recorder_.end().code, kNotifyNoAnswer);
    Bytes expected(16, 0x00);
    for (int i = 0; i < 5; ++i) {
        expected.insert(expected.end(), kCommand1.begin(), kCommand1.end());
    }
    EXPECT_EQ(peer_.read(expected.size() + 1, 1000ms), expected);
    EXPECT_GE(elapsed, 1400);
    EXPECT_LE(elapsed, 8000);
}

}  // namespace
}  // namespace qor
