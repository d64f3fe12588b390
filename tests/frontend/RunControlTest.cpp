// Run control without a toolkit: the questions, run preparation and start, the states, the
// end and automatic restart of a run, cancel, the close check, the File functions, the first
// idle moment and the port box's refresh rule, seen through a view that records every call.
#include "frontend/RunControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueTestSeam.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "tests/support/FakeWorkers.h"

namespace qor {
namespace {

using test::FakeWorkers;
using Log = std::vector<std::string>;

// Records what run control asks of it, one entry per call, in order.
class RecordingView : public RunView {
  public:
    void addReport(const std::string& text) override { log.push_back("report " + text); }
    void clearReport() override { log.push_back("clear"); }
    void setStatus(const std::string& text) override { log.push_back("status " + text); }
    void showMessageWindow(const std::string& text) override { log.push_back("message " + text); }
    void setProgressBar(int position) override { log.push_back("bar " + std::to_string(position)); }
    void setApplicationTitle(const std::string& text) override { log.push_back("title " + text); }
    std::string portText() const override { return port; }
    void alertSound() override { log.push_back("alert"); }
    void restartDelay(std::uint32_t ms) override {
        log.push_back("delay " + std::to_string(ms));
        if (duringDelay) {
            duringDelay();
        }
    }
    void showRunState(bool isRunning) override {
        log.push_back(isRunning ? "running" : "idle");
        running = isRunning;
    }
    bool readInfoOnlyTicked() const override { return readInfoOnly; }
    bool confirm(const std::string& question) override {
        log.push_back("confirm " + question);
        if (answers.empty()) {
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void descriptorUnreadable(const std::string& reason) override {
        log.push_back("unreadable " + reason);
    }
    std::string chooseFile() override {
        log.push_back("choose");
        return chosenFile;
    }
    void showError(const std::string& message) override { log.push_back("error " + message); }
    void showOverview() override { log.push_back("overview"); }

    // Entries of the log that begin with prefix, without it.
    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& entry : log) {
            if (entry.rfind(prefix + " ", 0) == 0) {
                found.push_back(entry.substr(prefix.size() + 1));
            }
        }
        return found;
    }

    Log log;
    std::string port = "COM9";
    bool readInfoOnly = false;
    bool running = false;
    std::deque<bool> answers;
    std::string chosenFile;
    std::function<void()> duringDelay;
};

class RunControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeWorkers::reset();
        CommThreadClass = &FakeWorkers::create;
        cancelFlag = false;
        readInfoOnlyFlag = false;
        readInfoOnlyCapable = true;
        checkClassFlag = true;
    }
    void TearDown() override {
        FakeWorkers::reset();
        CommThreadClass = nullptr;
        cancelFlag = false;
        readInfoOnlyFlag = false;
        checkClassFlag = true;
        std::filesystem::remove_all(dir_);
    }

    // The control as the window sets it up at start-up.
    RunControl& startUp(bool serviceMode, StartupOptions options = {}) {
        control_.applyStartup(serviceMode, options);
        control_.showInitialState();
        view.log.clear();
        return control_;
    }
    // A run started from Update in service mode (no question), its log cleared.
    void startServiceRun() {
        startUp(true, {1, false, true});
        ASSERT_TRUE(control_.updateClicked());
        view.log.clear();
    }
    std::string file(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(dir_);
        const std::filesystem::path path = dir_ / name;
        std::ofstream(path) << text;
        return path.string();
    }
    std::string descriptorFile() {
        return file("descriptor.txt",
                    "bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\nversionL=7\n"
                    "platform=18\nprint=35\ndate=20.01.2020\n");
    }

    RecordingView view;
    const std::int32_t hWindow = 4711;
    RunControl control_{view, hWindow};

  private:
    test::ScopedCatalogueState catalogueState_;
    std::filesystem::path dir_ = std::filesystem::path(::testing::TempDir()) / "run-control";
};

TEST_F(RunControlTest, StartupSettingsByServiceModeAndOptions) {
    struct Case {
        bool service;
        StartupOptions options;
        int level;
        bool readInfoOnlyOffered;
        bool checkClass;
    };
    const Case cases[] = {
        {false, {2, false, false}, 0, false, true},  // options of service mode count only there
        {true, {1, false, true}, 1, true, true},
        {true, {2, true, false}, 2, true, false},
    };
    for (const Case& c : cases) {
        checkClassFlag = true;
        RecordingView v;
        RunControl control(v, hWindow);
        control.applyStartup(c.service, c.options);
        EXPECT_EQ(control.serviceLevel(), c.level);
        EXPECT_EQ(control.measurementFormat(), c.options.measurementFormat);
        EXPECT_EQ(control.readInfoOnlyOffered(), c.readInfoOnlyOffered);
        EXPECT_EQ(checkClassFlag.load(), c.checkClass);
    }
    readInfoOnlyCapable = false;
    RecordingView v;
    RunControl control(v, hWindow);
    control.applyStartup(true, {1, false, true});
    EXPECT_FALSE(control.readInfoOnlyOffered());
}

TEST_F(RunControlTest, InitialStateShowsTheMeasurementLetterThenIdle) {
    for (const bool measurementFormat : {false, true}) {
        RecordingView v;
        RunControl control(v, hWindow);
        control.applyStartup(false, {0, measurementFormat, true});
        control.showInitialState();
        EXPECT_EQ(v.log, (Log{measurementFormat ? "status F" : "status ", "idle",
                              "title QOR BLE-Z40 Firmware Update"}));
    }
}

TEST_F(RunControlTest, RunButtonsShareCloseWidthOnlyAtLevelTwo) {
    for (const int level : {0, 1}) {
        const RunButtons b = runButtonsAt(level);
        EXPECT_FALSE(b.fileShown);
        EXPECT_EQ(b.update, (LayoutRect{50, 107, 139, 41}));
    }
    const RunButtons b = runButtonsAt(2);
    EXPECT_TRUE(b.fileShown);
    EXPECT_EQ(b.update, (LayoutRect{50, 107, 69, 41}));
    EXPECT_EQ(b.file, (LayoutRect{127, 107, 69, 41}));
}

TEST_F(RunControlTest, UpdateAsksBySettingsAndNoLeavesEverythingAsItWas) {
    struct Case {
        bool service;
        StartupOptions options;
        const char* question;  // nullptr: none
    };
    const Case cases[] = {
        {false, {0, false, true}, kQuestionSave}, {true, {1, false, true}, nullptr},
        {true, {2, false, true}, nullptr},        {false, {0, true, true}, kQuestionClears},
        {true, {1, true, true}, kQuestionClears},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.service << " " << c.options.serviceLevel << " "
                                        << c.options.measurementFormat);
        FakeWorkers::reset();
        RecordingView v;
        RunControl control(v, hWindow);
        control.applyStartup(c.service, c.options);
        selectedFirmwareIndex = 1;
        v.answers = {false};
        const bool started = control.updateClicked();
        if (c.question == nullptr) {
            EXPECT_TRUE(started);
            EXPECT_TRUE(v.only("confirm").empty());
            EXPECT_EQ(FakeWorkers::created().size(), 1u);
        } else {
            EXPECT_FALSE(started);
            EXPECT_EQ(v.log, Log{std::string("confirm ") + c.question});
            EXPECT_TRUE(FakeWorkers::created().empty());
            EXPECT_EQ(selectedFirmwareIndex.load(), 1);
        }
    }
}

TEST_F(RunControlTest, YesPreparesAndStartsTheRun) {
    RunControl& control = startUp(false);
    selectedFirmwareIndex = 1;
    cancelFlag = true;
    view.readInfoOnly = true;
    view.port = "COM3";
    view.answers = {true};
    ASSERT_TRUE(control.updateClicked());

    EXPECT_EQ(view.log, (Log{std::string("confirm ") + kQuestionSave, "clear",
                             "report Start at serial port \"COM3\"",
                             "status Start at serial port \"COM3\"", "bar 0", "running"}));
    const auto created = FakeWorkers::created();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].hWindow, hWindow);
    EXPECT_EQ(created[0].cmd, TCmd::tCMD0);
    EXPECT_EQ(created[0].port, "COM3");
    EXPECT_FALSE(created[0].cancelAtCreation);
    EXPECT_TRUE(created[0].readInfoOnly);
    EXPECT_EQ(control.currentWorker(), created[0].worker);
    EXPECT_TRUE(control.runInProgress());
    EXPECT_EQ(control.port(), "COM3");
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    EXPECT_EQ(control.outcome().kind, RunOutcome::Kind::Running);
}

TEST_F(RunControlTest, NotificationsReachTheirDisplays) {
    startServiceRun();
    RunControl& control = control_;
    control.handle(kNotifyProgress, 42);
    control.handle(kNotifyClass, 26145);
    setTextSlot(0, "Start programming.");
    control.handle(kNotifyText, 0);
    EXPECT_EQ(view.log.size(), 5u);
    EXPECT_EQ(view.only("bar"), Log{"42"});
    EXPECT_EQ(view.only("title"), Log{"42%"});
    EXPECT_EQ(view.only("report").back(), "Start programming.");
    EXPECT_TRUE(control.runInProgress());
}

TEST_F(RunControlTest, SuccessAndFailureEndTheRunWithTheirMessage) {
    struct Case {
        std::uint32_t code;
        std::int32_t value;
        RunOutcome::Kind kind;
        std::string message;
        bool alert;
    };
    const Case cases[] = {
        {kNotifySuccess, 0, RunOutcome::Kind::Succeeded, "", false},
        {kNotifyFailure, 45, RunOutcome::Kind::Failed, "Update was not successfull!", true},
        {kNotifyFailure, 10, RunOutcome::Kind::Failed,
         "Aborted because serial port \"COM9\" is not ready!", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        startServiceRun();
        RunControl& control = control_;
        selectedFirmwareIndex = 1;
        control.handle(c.code, c.value);
        EXPECT_FALSE(control.runInProgress());
        EXPECT_FALSE(view.running);
        EXPECT_EQ(view.only("title"), Log{kProgramTitle});
        EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "alert"), c.alert ? 1 : 0);
        const Log messages = view.only("message");
        ASSERT_EQ(messages.size(), 1u);
        if (!c.message.empty()) {
            EXPECT_EQ(messages[0], c.message);
        } else {
            EXPECT_NE(messages[0].find("V2.05 succesfully completed."), std::string::npos);
            EXPECT_EQ(view.only("bar"), Log{"100"});
        }
        EXPECT_EQ(view.only("report"), messages);
        EXPECT_EQ(view.only("status"), messages);
        EXPECT_EQ(control.outcome().kind, c.kind);
        EXPECT_EQ(control.outcome().errorCode, c.kind == RunOutcome::Kind::Failed ? c.value : 0);
        EXPECT_EQ(control.outcome().message, messages[0]);
    }
}

TEST_F(RunControlTest, NoAnswerRestartsWithTheKeptPortWithoutPassingThroughIdle) {
    RunControl& control = startUp(true, {1, false, true});
    view.port = "COM4";
    ASSERT_TRUE(control.updateClicked());
    view.port = "COM5";  // typed during the run: the restart keeps the run's port
    view.readInfoOnly = true;
    cancelFlag = true;
    bool runningDuringDelay = false;
    view.duringDelay = [&] { runningDuringDelay = control.runInProgress(); };
    view.log.clear();
    control.handle(kNotifyNoAnswer, 0);

    EXPECT_TRUE(runningDuringDelay);
    EXPECT_EQ(view.log, (Log{"status Repeat update because communication error!",
                             "report Repeat update because communication error!", "delay 1500",
                             "report Start at serial port \"COM5\"",
                             "status Start at serial port \"COM5\"", "bar 0", "running"}));
    const auto created = FakeWorkers::created();
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[1].port, "COM4");
    EXPECT_FALSE(created[1].cancelAtCreation);
    EXPECT_TRUE(created[1].readInfoOnly);
    EXPECT_TRUE(cancelFlag.load());  // a cancel made before the restart still ends the new run
    EXPECT_EQ(control.currentWorker(), created[1].worker);
}

TEST_F(RunControlTest, RestartLimitGivesUpAfterItsRestarts) {
    RunControl& control = startUp(true, {1, false, true});
    control.setRestartLimit(2);
    ASSERT_TRUE(control.updateClicked());
    control.handle(kNotifyNoAnswer, 0);
    control.handle(kNotifyNoAnswer, 0);
    EXPECT_EQ(FakeWorkers::created().size(), 3u);
    view.log.clear();
    control.handle(kNotifyNoAnswer, 0);
    EXPECT_EQ(FakeWorkers::created().size(), 3u);
    EXPECT_FALSE(control.runInProgress());
    EXPECT_EQ(view.only("report").back(), "Gave up after 2 automatic restarts.");
    EXPECT_EQ(control.outcome().kind, RunOutcome::Kind::RestartsUsedUp);

    // A new run counts its restarts afresh.
    ASSERT_TRUE(control.updateClicked());
    control.handle(kNotifyNoAnswer, 0);
    EXPECT_TRUE(control.runInProgress());
}

TEST_F(RunControlTest, CancelSetsTheFlagOnly) {
    startServiceRun();
    RunControl& control = control_;
    control.cancelClicked();
    control.cancelClicked();
    EXPECT_TRUE(cancelFlag.load());
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(control.runInProgress());
}

TEST_F(RunControlTest, CloseAsksOnlyDuringARun) {
    RunControl& control = startUp(true, {1, false, true});
    EXPECT_TRUE(control.closeQuery());
    EXPECT_TRUE(view.log.empty());
    ASSERT_TRUE(control.updateClicked());
    for (const bool yes : {false, true}) {
        view.log.clear();
        view.answers = {yes};
        EXPECT_EQ(control.closeQuery(), yes);
        EXPECT_EQ(view.log, Log{std::string("confirm ") + kQuestionClose});
    }
}

TEST_F(RunControlTest, FileButtonRunsTheChosenDescriptorWithoutAQuestion) {
    RunControl& control = startUp(true, {2, false, true});
    view.chosenFile = "";
    EXPECT_FALSE(control.fileClicked());
    EXPECT_EQ(view.log, Log{"choose"});

    view.log.clear();
    view.chosenFile = file("unreadable.txt", "bootloader=2\nbootloader version=x\n");
    selectedFirmwareIndex = 1;
    EXPECT_FALSE(control.fileClicked());
    EXPECT_TRUE(FakeWorkers::created().empty());
    ASSERT_EQ(view.only("unreadable").size(), 1u);
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);

    view.log.clear();
    view.chosenFile = descriptorFile();
    EXPECT_TRUE(control.fileClicked());
    EXPECT_TRUE(view.only("confirm").empty());
    EXPECT_EQ(selectedFirmwareIndex.load(), 0);
    EXPECT_EQ(FakeWorkers::created().size(), 1u);

    // During the run the button does nothing, not even the dialog.
    view.log.clear();
    EXPECT_FALSE(control.fileClicked());
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(FakeWorkers::created().size(), 1u);
}

TEST_F(RunControlTest, FileVersionReadsTheFileAndShowsTheOverview) {
    RunControl& control = startUp(true, {2, false, true});
    selectedFirmwareIndex = -1;
    view.chosenFile = descriptorFile();
    control.fileVersionClicked();
    EXPECT_EQ(view.log, (Log{"choose", "overview"}));
    EXPECT_EQ(selectedFirmwareIndex.load(), 0);
    TBl3FileHeader loaded;
    getFirmwareHeader(0, loaded);
    EXPECT_EQ(loaded.qor_verL, 7);

    struct Case {
        std::string file;
        bool error;
    };
    const Case cases[] = {{"", false},
                          {view.chosenFile + ".missing", false},
                          {file("bad.txt", "bootloader=2\nbootloader version=x\n"), true}};
    for (const Case& c : cases) {
        view.log.clear();
        selectedFirmwareIndex = -1;
        view.chosenFile = c.file;
        control.fileVersionClicked();
        EXPECT_EQ(view.only("error").size(), c.error ? 1u : 0u) << c.file;
        EXPECT_TRUE(view.only("overview").empty());
        EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    }
}

TEST_F(RunControlTest, ReportWindowOnceAtTheFirstIdleMomentInServiceMode) {
    for (const int level : {0, 1, 2}) {
        RecordingView v;
        RunControl control(v, hWindow);
        control.applyStartup(level > 0, {level, false, true});
        EXPECT_EQ(control.reportWindowAtFirstIdle(), level > 0);
        EXPECT_FALSE(control.reportWindowAtFirstIdle());
    }
}

TEST_F(RunControlTest, PortBoxDropsDownOnlyWhenActiveAndIdle) {
    RunControl& control = startUp(true, {1, false, true});
    EXPECT_TRUE(control.dropDownAfterPortChange(true));
    EXPECT_FALSE(control.dropDownAfterPortChange(false));
    ASSERT_TRUE(control.updateClicked());
    EXPECT_FALSE(control.dropDownAfterPortChange(true));
}

}  // namespace
}  // namespace qor
