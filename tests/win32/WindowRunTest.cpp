// The Win32 main window as a view of run control: the questions of the Update button, the
// running state, notifications posted as WM_USER reaching the displays and the taskbar, the end
// of a run, the automatic restart, cancel and the close check, the File functions.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "tests/win32/WindowTestSupport.h"
#include "ui/win32/ProtocolWindow.h"

namespace qor::win32::test {
namespace {

const std::string kSave =
    "Do you save your measurements ?\r\nDo you really continue without saving ?";
const std::string kClears = "This update clears all measurements!\r\nDo you really continue ?";
const std::string kClose = "The update is not finished!\r\nDo you really close the program ?";
const std::string kTitle = "QOR BLE-Z40 Firmware Update";

class RunControlView : public WindowTest {
  protected:
    void TearDown() override {
        WindowTest::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    // A window in service mode (no question on Update) with the given port typed in.
    void createServiceWindow(const std::string& port = "COM9") {
        answers.serviceMode = true;
        answers.options.serviceLevel = 2;
        createWindow();
        setWindowText(control(IDC_CBX_PORT), port);
    }
    std::string writeFile(const char* name, const std::string& text) {
        std::filesystem::create_directories(dir_);
        const std::filesystem::path path = dir_ / name;
        std::ofstream(path) << text;
        return path.string();
    }
    // A readable descriptor file for the built-in module's class with this minor version.
    std::string descriptorFile(const char* name, int versionL) {
        return writeFile(name,
                         "bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\n"
                         "versionL=" +
                             std::to_string(versionL) +
                             "\nplatform=18\nprint=35\ndate=20.01.2020\n");
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : log.messages) {
            texts.push_back(m.text);
        }
        return texts;
    }

  private:
    std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                                 ("qor-window-test-" + std::to_string(GetCurrentProcessId()));
};

TEST_F(RunControlView, UpdateAsksByModeAndNoLeavesEverythingAsItWas) {
    struct Case {
        int level;
        bool measurementFormat;
        std::string question;  // empty: no question
    };
    const Case cases[] = {
        {0, false, kSave}, {1, false, ""}, {2, false, ""}, {0, true, kClears}, {1, true, kClears},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.level << " " << c.measurementFormat);
        answers.serviceMode = c.level > 0;
        answers.options = {c.level, c.measurementFormat};
        log = {};
        createWindow();
        windows.frmProtocol->Add("earlier run");
        answers.confirmations = {false};
        click(IDC_BTN_PROG);
        if (c.question.empty()) {
            EXPECT_TRUE(log.questions.empty());
            EXPECT_EQ(FakeWorkers::created().size(), 1u);
        } else {
            ASSERT_EQ(log.questions.size(), 1u);
            EXPECT_EQ(log.questions[0], c.question);
            EXPECT_TRUE(FakeWorkers::created().empty());
            EXPECT_EQ(reportTexts(), std::vector<std::string>{"earlier run"});
            expectIdle();
        }
        FakeWorkers::reset();
        destroyWindow();
    }
}

TEST_F(RunControlView, YesStartsTheRun) {
    answers.ports = {"COM3"};
    createWindow();
    selectedFirmwareIndex = 1;
    SendMessageW(control(IDC_PROGRESS_BAR1), PBM_SETPOS, 55, 0);
    windows.frmProtocol->Add("earlier run");
    cancelFlag = true;
    click(IDC_CHK_READ_INFO_ONLY);
    answers.confirmations = {true};
    click(IDC_BTN_PROG);

    expectRunning();
    const auto created = FakeWorkers::created();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].hWindow, window->notificationHandle());
    EXPECT_EQ(created[0].cmd, TCmd::tCMD0);
    EXPECT_EQ(created[0].port, "COM3");
    EXPECT_FALSE(created[0].cancelAtCreation);
    EXPECT_TRUE(created[0].readInfoOnly);
    EXPECT_EQ(window->currentWorker(), created[0].worker);
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    EXPECT_EQ(bar(), 0);
    EXPECT_EQ(log.taskbar, std::vector<int>{0});
    EXPECT_EQ(log.taskbarButtons, std::vector<HWND>{window->applicationWindow()});
    EXPECT_EQ(reportTexts(), std::vector<std::string>{"Start at serial port \"COM3\""});
    EXPECT_EQ(status(), "Start at serial port \"COM3\"");
    EXPECT_EQ(statusTip(), status());
}

// The handler's decisions, posted as WM_USER, reach the window's displays: report, status,
// message, bar, application title, taskbar progress, sound and run state.
TEST_F(RunControlView, NotificationsReachTheDisplays) {
    const std::string builtin = getClassName(26156, 35);
    const std::string started = "Start at serial port \"COM9\"";
    struct Case {
        const char* name;
        Script posted;
        std::string report;  // the last report line
        std::string status;
        std::vector<std::string> messages;
        int bar;
        std::string title;
        std::vector<int> taskbar;  // after the start's 0
        int beeps;
        bool running;
    };
    const std::string success = "Update " + builtin + " V2.05 succesfully completed.";
    const std::string selected = "Update " + builtin + " V2.05, " + getPrintName(35) + ", BL5.0";
    const Case cases[] = {
        {"progress", {{1, 42}}, "Progress 42%", started, {}, 42, "42%", {42}, 0, true},
        {"class",
         {{20, 26145}},
         "Class 26145 [" + getClassName(26145, 0xFFFF) + "]",
         started,
         {},
         0,
         kTitle,
         {},
         0,
         true},
        {"version", {{21, 0x0105}}, "Version 1.5", started, {}, 0, kTitle, {}, 0, true},
        {"selected", {{26, 0}}, selected, selected, {}, 0, kTitle, {}, 0, true},
        {"text slot", {{100, 1}}, "slot one", started, {}, 0, kTitle, {}, 0, true},
        {"unknown code", {{7, 1}}, started, started, {}, 0, kTitle, {}, 0, true},
        {"success",
         {{1, 99}, {0, 0}},
         success,
         success,
         {success},
         100,
         kTitle,
         {99, 100, -1},
         0,
         false},
        {"cancelled",
         {{1, 30}, {10, 20}},
         "Process cancelled!",
         "Process cancelled!",
         {"Process cancelled!"},
         30,
         kTitle,
         {30, -1},
         1,
         false},
        {"fatal",
         {{10, 104}},
         "Fatal Exception has occurred!",
         "Fatal Exception has occurred!",
         {"Fatal Exception has occurred!"},
         0,
         kTitle,
         {-1},
         1,
         false},
    };
    setTextSlot(1, "slot one");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log = {};
        createServiceWindow();
        window->show(SW_SHOW);
        click(IDC_BTN_PROG);
        selectedFirmwareIndex = 1;  // as the worker's scan leaves it
        for (const auto& n : c.posted) {
            post(n.code, n.value);
        }
        dispatch();
        const std::vector<std::string> report = reportTexts();
        ASSERT_FALSE(report.empty());
        EXPECT_EQ(report.back(), c.report);
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(statusTip(), c.status);
        EXPECT_EQ(messageTexts(), c.messages);
        EXPECT_EQ(bar(), c.bar);
        EXPECT_EQ(applicationTitle(), c.title);
        EXPECT_EQ(windowText(window->handle()), kTitle);
        std::vector<int> taskbar = {0};
        taskbar.insert(taskbar.end(), c.taskbar.begin(), c.taskbar.end());
        EXPECT_EQ(log.taskbar, taskbar);
        EXPECT_EQ(log.beeps, c.beeps);
        if (c.running) {
            expectRunning();
        } else {
            expectIdle();
        }
        FakeWorkers::reset();
        destroyWindow();
    }
}

// The line of each notification 100 is the one its slot held when it was posted, although the
// worker stores the next line before the window gets round to the first.
TEST_F(RunControlView, TextLinesKeepTheirOrder) {
    createServiceWindow();
    click(IDC_BTN_PROG);
    for (const char* line : {"Device programmed.", "complete"}) {
        setTextSlot(0, line);
        post(kNotifyText, 0);
    }
    dispatch();
    const std::vector<std::string> report = reportTexts();
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[1], "Device programmed.");
    EXPECT_EQ(report[2], "complete");
}

TEST_F(RunControlView, PortNotReadyNamesThePortShownAtThatMoment) {
    createServiceWindow("COM99");
    click(IDC_BTN_PROG);
    setWindowText(control(IDC_CBX_PORT), "COM4");
    post(kNotifyFailure, 10);
    dispatch();
    EXPECT_EQ(messageTexts(),
              std::vector<std::string>{"Aborted because serial port \"COM4\" is not ready!"});
}

// A whole run through a worker thread, from Update to the modal message over the main window.
TEST_F(RunControlView, ScriptedRunFromUpdateToTheMessage) {
    createServiceWindow();
    window->show(SW_SHOW);
    dispatch();
    FakeWorkers::addScript({{20, 26145}, {21, 0x0108}, {26, 0}, {1, 50}, {0, 0}});
    click(IDC_BTN_PROG);
    selectedFirmwareIndex = 1;  // the scan's choice
    ASSERT_TRUE(waitFor([this] { return !window->runInProgress() && !log.messages.empty(); }));
    const std::vector<std::string> report = reportTexts();
    ASSERT_EQ(report.size(), 6u);
    EXPECT_EQ(report[0], "Start at serial port \"COM9\"");
    EXPECT_EQ(report[2], "Version 1.8");
    EXPECT_EQ(report[4], "Progress 50%");
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text, report[5]);
    EXPECT_TRUE(log.messages[0].ownerDisabled) << "the message window is modal";
    EXPECT_TRUE(IsWindowEnabled(window->handle()));
    const Frame main = frameOf(window->handle());
    const Frame placed = log.messages[0].frame;
    EXPECT_EQ(placed.left, main.left + 10);
    EXPECT_EQ(placed.width, main.width - 20);
    EXPECT_EQ(placed.top + placed.height, main.top + main.height - 10);
    EXPECT_EQ(bar(), 100);
}

// Notification 13: the report is kept, a new worker runs with the same port and command, the
// window never passes through idle, and a cancel made before the restart still holds.
TEST_F(RunControlView, RestartKeepsRunningWithANewWorker) {
    createServiceWindow();
    FakeWorkers::addScript({{20, 26145}, {13, 0}});
    click(IDC_BTN_PROG);
    const TCommThread* first = window->currentWorker();
    setWindowText(control(IDC_CBX_PORT), "COM5");  // the shown text, not the run's port
    click(IDC_CHK_READ_INFO_ONLY);
    click(IDC_BTN_CANCEL);
    click(IDC_BTN_CANCEL);
    EXPECT_TRUE(cancelFlag.load());
    duringDelay = [&] {
        SCOPED_TRACE("during the wait");
        expectRunning();
        EXPECT_EQ(window->currentWorker(), first);
        EXPECT_EQ(status(), "Repeat update because communication error!");
    };
    ASSERT_TRUE(waitFor([] { return FakeWorkers::created().size() == 2; }));
    EXPECT_EQ(log.delays, std::vector<std::uint32_t>{1500});

    const auto created = FakeWorkers::created();
    EXPECT_EQ(created[1].cmd, TCmd::tCMD0);
    EXPECT_EQ(created[1].port, "COM9");
    EXPECT_FALSE(created[1].cancelAtCreation);
    EXPECT_TRUE(created[1].readInfoOnly);
    EXPECT_TRUE(cancelFlag.load());
    EXPECT_EQ(window->currentWorker(), created[1].worker);
    expectRunning();
    EXPECT_EQ(reportTexts(), (std::vector<std::string>{
                                 "Start at serial port \"COM9\"",
                                 "Class 26145 [" + getClassName(26145, 0xFFFF) + "]",
                                 "Repeat update because communication error!",
                                 "Start at serial port \"COM5\"",
                             }));
    EXPECT_TRUE(log.messages.empty());

    post(kNotifyFailure, 20);  // the new worker sees the flag
    dispatch();
    expectIdle();
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"Process cancelled!"});
}

// The program's wait before a restart blocks the window's thread: nothing is dispatched.
TEST_F(RunControlView, RestartWaitBlocksTheWindow) {
    createServiceWindow();
    FakeWorkers::addScript({{13, 0}});
    const UINT_PTR ticker = SetTimer(window->handle(), 77, 100, nullptr);
    duringDelay = [&] {
        MSG msg;
        while (PeekMessageW(&msg, window->handle(), WM_TIMER, WM_TIMER, PM_REMOVE)) {
        }
        MainWindowSeams::program().restartDelay(1500);
        // The timer came due during the wait and is still waiting: nothing was dispatched.
        EXPECT_TRUE(PeekMessageW(&msg, window->handle(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
    };
    click(IDC_BTN_PROG);
    ASSERT_TRUE(waitFor([] { return FakeWorkers::created().size() == 2; }));
    KillTimer(window->handle(), ticker);
    const auto created = FakeWorkers::created();
    EXPECT_GE(created[1].at - created[0].at, std::chrono::milliseconds(1490));
}

TEST_F(RunControlView, CloseCheck) {
    createServiceWindow();
    window->show(SW_SHOW);
    // Idle: closes without a question.
    SendMessageW(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window->handle()));
    EXPECT_EQ(log.closed, 1);
    EXPECT_TRUE(log.questions.empty());
    destroyWindow();

    log = {};
    createServiceWindow();
    window->show(SW_SHOW);
    click(IDC_BTN_PROG);
    answers.confirmations = {false, false};
    click(IDC_BTN_CANCEL);
    SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(IDM_FILE_EXIT, 0), 0);
    // Closing from the taskbar goes through the same check.
    SendMessageW(window->applicationWindow(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindowVisible(window->handle()));
    expectRunning();
    EXPECT_TRUE(cancelFlag.load());

    answers.confirmations = {true};
    EXPECT_FALSE(shown(IDC_BTN_CLOSE));
    SendMessageW(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(log.questions, (std::vector<std::string>{kClose, kClose, kClose}));
    EXPECT_FALSE(IsWindow(window->handle()));
    EXPECT_EQ(log.closed, 1);
}

// File starts a second worker only when no run is in progress; a descriptor file that cannot
// be read starts no run.
TEST_F(RunControlView, FileButton) {
    const std::string good = descriptorFile("good.txt", 7);
    const std::string bad = writeFile("bad.txt", "bootloader=2\nbootloader version=1\nclass=\n");

    createServiceWindow();
    answers.chosenFile = bad;
    click(IDC_BTN_FILE);
    EXPECT_TRUE(FakeWorkers::created().empty());
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    ASSERT_EQ(reportTexts().size(), 1u);
    EXPECT_EQ(status(), reportTexts()[0]);
    expectIdle();

    answers.chosenFile = good;
    click(IDC_BTN_FILE);
    ASSERT_EQ(FakeWorkers::created().size(), 1u);
    EXPECT_EQ(selectedFirmwareIndex.load(), 0);
    EXPECT_EQ(loadedFileHeader().qor_verL, 7);
    expectRunning();

    window->btnFileClick();  // disabled while the run is in progress, and ignored if reached
    EXPECT_EQ(FakeWorkers::created().size(), 1u);
}

TEST_F(RunControlView, FileVersionOpensTheOverview) {
    const std::string good = descriptorFile("good.txt", 9);
    createServiceWindow();
    window->show(SW_SHOW);
    const auto fileVersion = [this] {
        SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(IDM_INFO_FILE, 0), 0);
    };
    answers.chosenFile = good + ".missing";
    fileVersion();
    EXPECT_TRUE(log.overviews.empty());
    EXPECT_TRUE(log.errors.empty());

    // A file that cannot be converted: the error box, no overview, nothing selected.
    answers.chosenFile = writeFile("bad.txt", "bootloader=2\nbootloader version=1\nclass=\n");
    fileVersion();
    EXPECT_TRUE(log.overviews.empty());
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_NE(log.errors[0].find("class"), std::string::npos) << log.errors[0];
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);

    answers.chosenFile = good;
    fileVersion();
    EXPECT_EQ(selectedFirmwareIndex.load(), 0);
    ASSERT_EQ(log.overviews.size(), 1u);
    const Frame main = frameOf(window->handle());
    EXPECT_EQ(log.overviews[0].frame.left, main.left);
    EXPECT_EQ(log.overviews[0].frame.top, main.top);
    EXPECT_EQ(log.overviews[0].frame.height, main.height);
}

}  // namespace
}  // namespace qor::win32::test
