// The DFU tool run on Win32: the tool that the program carries as the RCDATA resource
// "UPDATE_PROG" is written to the temporary directory with the package, started hidden after
// the pass-through command, its lines become notifications, and both files are deleted. This
// executable carries the test child program (WinChild.cpp) as its tool; the logger is played on
// the peer port.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "engine/KECommThread.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/win32/WinText.h"
#include "tests/win32/WinTestSupport.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

// Runs the tool transfer of catalogue entry 1 as the whole work of a run.
class ToolRunWorker : public TKECommThread {
  public:
    using TKECommThread::TKECommThread;

  protected:
    void work() override { updateByDfuTool(1); }
};

// Every notification with the text it carried.
class Recorder {
  public:
    Recorder()
        : handle_(registerNotificationSink([this](const Notification& n) {
              std::lock_guard lock(mutex_);
              got_.push_back(n);
              changed_.notify_all();
          })) {}
    ~Recorder() { unregisterNotificationSink(handle_); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::int32_t handle() const { return handle_; }
    bool waitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] {
            return !got_.empty() &&
                   (got_.back().code == kNotifySuccess || got_.back().code == kNotifyFailure ||
                    got_.back().code == kNotifyNoAnswer);
        });
    }
    // Each notification in order: the line for notification 100, "code:value" for the others.
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& n : got_) {
            out.push_back(n.code == kNotifyText
                              ? n.text
                              : std::to_string(n.code) + ":" + std::to_string(n.value));
        }
        return out;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> got_;
    std::int32_t handle_;
};

// What the child does when it runs as the tool (its command line is the fixed one).
class ChildSteps {
  public:
    explicit ChildSteps(const char* steps) {
        SetEnvironmentVariableW(L"QOR_CHILD_STEPS", platform::widen(steps).c_str());
    }
    ~ChildSteps() { SetEnvironmentVariableW(L"QOR_CHILD_STEPS", nullptr); }
    ChildSteps(const ChildSteps&) = delete;
    ChildSteps& operator=(const ChildSteps&) = delete;
};

std::uintmax_t fileSize(const std::string& path) {
    return std::filesystem::file_size(platform::widen(path));
}

void writeJunk(const std::string& path) {
    std::ofstream(std::filesystem::path(platform::widen(path)), std::ios::binary)
        << "left behind by an earlier run";
}

TEST(Win32DfuToolRun, RunsTheCarriedToolHiddenReportsItsLinesAndDeletesBothFiles) {
    test::ScopedTempDirectory temp;
    const std::string port = test::portFromEnvironment("QOR_TEST_PORT");
    test::PeerPort logger(test::portFromEnvironment("QOR_PEER_PORT"));
    const std::string tool = temp.path() + "qor_ble_dfu.exe";
    const std::string package = temp.path() + "qor_data.zip";
    // An earlier run that failed left its files: this run replaces them.
    writeJunk(tool);
    writeJunk(package);

    ChildSteps steps(
        "cmdline|startup|files|port|out:Start programming.\\r\\n|out:0/72092\\r\\n"
        "|out:36046/72092\\r\\n|out:72092/72092\\r\\n|out:Device programmed.\\r\\n\\r\\n"
        "|out:Error: last line without an end|exit:1");
    cancelFlag = false;
    Recorder recorder;
    TCommThread::Create<ToolRunWorker>(recorder.handle(), TCmd::tCMD0, port);

    // The logger: the two reset frames, then pass-through, answered.
    EXPECT_EQ(logger.read(16, 3000ms), Bytes(16, 0x00));
    const Bytes passThrough = {0x82, 0x30, 0, 0, 0, 0, 0, 0x00};
    EXPECT_EQ(logger.read(8, 3000ms), passThrough);
    logger.write(test::answerFrame({0x02, 0x30, 0, 0, 0, 0, 0}));

    ASSERT_TRUE(recorder.waitForEnd(30s));
    EXPECT_TRUE(TCommThread::waitForWorkers(10000));

    const std::string hiddenWithPipe = [] {
        char text[64];
        std::snprintf(text, sizeof text, "flags=%lx show=%u out=pipe",
                      static_cast<unsigned long>(STARTF_USESHOWWINDOW | STARTF_USEFILLATTRIBUTE |
                                                 STARTF_USESTDHANDLES),
                      SW_HIDE);
        return std::string(text);
    }();
    const std::uint32_t packageSize = [] {
        TBl3FileHeader header;
        std::uint32_t size = 0;
        std::uint32_t length = 0;
        const std::uint8_t* data = nullptr;
        return getFirmware(1, header, size, length, data) ? size : 0u;
    }();
    const std::vector<std::string> expected = {
        tool + " --qor -cd 0 -p " + port + " -pkg " + package,
        hiddenWithPipe,
        "self=" + std::to_string(fileSize(test::hostPath(QOR_WIN_CHILD))) +
            " pkg=" + std::to_string(packageSize),
        "port free",
        "Start programming.",
        "1:49",  // none for position 0: the run's percentage is still 0
        "1:99",
        "Device programmed.",
        "",
        "Error: last line without an end",
        "complete",
        "0:0",  // success: the tool's exit code is not looked at
    };
    EXPECT_EQ(recorder.events(), expected);
    EXPECT_FALSE(std::filesystem::exists(platform::widen(tool)));
    EXPECT_FALSE(std::filesystem::exists(platform::widen(package)));
}

}  // namespace
}  // namespace qor
