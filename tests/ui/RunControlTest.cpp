// Run control: the questions of the Update button, the running state, notifications reaching
// the displays, the end of a run, the automatic restart, cancel and the close check.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "UiTestSupport.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "ui/qt/Confirmation.h"

namespace qor::ui::test {
namespace {

const QString kSave = "Do you save your measurements ?\r\nDo you really continue without saving ?";
const QString kClears = "This update clears all measurements!\r\nDo you really continue ?";
const QString kClose = "The update is not finished!\r\nDo you really close the program ?";

class RunControl : public UiTest {
  protected:
    // A window in service mode (no question on Update) with the given port typed in.
    void createServiceWindow(const QString& port = "COM9") {
        answers.serviceMode = true;
        answers.options.serviceLevel = 2;
        createWindow();
        control<QComboBox>("cbxPort")->setEditText(port);
    }
    int bar() const { return control<QProgressBar>("ProgressBar1")->value(); }
    QString writeFile(const char* name, const std::string& text) {
        const QString path = files_.filePath(QString::fromLatin1(name));
        std::ofstream(path.toStdString()) << text;
        return path;
    }
    // A readable descriptor file for the built-in module's class with this minor version.
    QString descriptorFile(const char* name, int versionL) {
        return writeFile(name,
                         "bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\n"
                         "versionL=" +
                             std::to_string(versionL) +
                             "\nplatform=18\nprint=35\ndate=20.01.2020\n");
    }
    std::vector<QString> messageTexts() const {
        std::vector<QString> texts;
        for (const auto& m : log.messages) {
            texts.push_back(m.text);
        }
        return texts;
    }

  private:
    QTemporaryDir files_;
};

TEST_F(RunControl, UpdateAsksByModeAndNoLeavesEverythingAsItWas) {
    struct Case {
        int level;
        bool measurementFormat;
        QString question;  // empty: no question
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
        button("btnProg")->click();
        if (c.question.isEmpty()) {
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
        window.reset();
    }
}

TEST_F(RunControl, YesStartsTheRun) {
    answers.ports = {"COM3"};
    createWindow();
    selectedFirmwareIndex = 1;
    control<QProgressBar>("ProgressBar1")->setValue(55);
    windows.frmProtocol->Add("earlier run");
    cancelFlag = true;
    control<QCheckBox>("chkReadInfoOnly")->setChecked(true);
    answers.confirmations = {true};
    button("btnProg")->click();

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
    EXPECT_EQ(reportTexts(), std::vector<std::string>{"Start at serial port \"COM3\""});
    EXPECT_EQ(status(), "Start at serial port \"COM3\"");
}

// The handler's decisions reach the window's displays: report, status, message, bar, title,
// sound and run state.
TEST_F(RunControl, NotificationsReachTheDisplays) {
    const std::string builtin = getClassName(26156, 35);
    const std::string started = "Start at serial port \"COM9\"";
    struct Case {
        const char* name;
        Script posted;
        std::string report;  // the last report line
        std::string status;
        std::vector<QString> messages;
        int bar;
        QString title;
        int beeps;
        bool running;
    };
    const QString idleTitle = "QOR BLE-Z40 Firmware Update";
    const std::string success = "Update " + builtin + " V2.05 succesfully completed.";
    const std::string selected = "Update " + builtin + " V2.05, " + getPrintName(35) + ", BL5.0";
    const Case cases[] = {
        {"progress", {{1, 42}}, "Progress 42%", started, {}, 42, "42%", 0, true},
        {"class",
         {{20, 26145}},
         "Class 26145 [" + getClassName(26145, 0xFFFF) + "]",
         started,
         {},
         0,
         idleTitle,
         0,
         true},
        {"selected", {{26, 0}}, selected, selected, {}, 0, idleTitle, 0, true},
        {"text slot", {{100, 1}}, "slot one", started, {}, 0, idleTitle, 0, true},
        {"unknown code", {{7, 1}}, started, started, {}, 0, idleTitle, 0, true},
        {"success",
         {{1, 99}, {0, 0}},
         success,
         success,
         {QString::fromStdString(success)},
         100,
         idleTitle,
         0,
         false},
        {"cancelled",
         {{1, 30}, {10, 20}},
         "Process cancelled!",
         "Process cancelled!",
         {"Process cancelled!"},
         30,
         idleTitle,
         1,
         false},
        {"fatal",
         {{10, 104}},
         "Fatal Exception has occurred!",
         "Fatal Exception has occurred!",
         {"Fatal Exception has occurred!"},
         0,
         idleTitle,
         1,
         false},
    };
    setTextSlot(1, "slot one");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log = {};
        createServiceWindow();
        button("btnProg")->click();
        selectedFirmwareIndex = 1;  // as the worker's scan leaves it
        for (const auto& n : c.posted) {
            post(n.code, n.value);
        }
        QCoreApplication::processEvents();
        ASSERT_FALSE(reportTexts().empty());
        EXPECT_EQ(reportTexts().back(), c.report);
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(messageTexts(), c.messages);
        EXPECT_EQ(bar(), c.bar);
        EXPECT_EQ(window->applicationTitle(), c.title);
        EXPECT_EQ(window->windowTitle(), "QOR BLE-Z40 Firmware Update");
        EXPECT_EQ(log.beeps, c.beeps);
        if (c.running) {
            expectRunning();
        } else {
            expectIdle();
        }
        FakeWorkers::reset();
        window.reset();
    }
}

// The worker stores its next line before the window has shown the last one.
TEST_F(RunControl, LinesPostedInARowAreAllShown) {
    createServiceWindow();
    button("btnProg")->click();
    setTextSlot(0, "Device programmed.");
    post(kNotifyText, 0);
    setTextSlot(0, "complete");
    post(kNotifyText, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(reportTexts(), (std::vector<std::string>{"Start at serial port \"COM9\"",
                                                       "Device programmed.", "complete"}));
}

TEST_F(RunControl, PortNotReadyNamesThePortShownAtThatMoment) {
    createServiceWindow("/dev/ttyNONE");
    button("btnProg")->click();
    control<QComboBox>("cbxPort")->setEditText("COM4");
    post(kNotifyFailure, 10);
    QCoreApplication::processEvents();
    EXPECT_EQ(messageTexts(),
              std::vector<QString>{"Aborted because serial port \"COM4\" is not ready!"});
}

// A whole run through a worker thread, from Update to the message over the main window.
TEST_F(RunControl, ScriptedRunFromUpdateToTheMessage) {
    createServiceWindow();
    window->show();
    selectedFirmwareIndex = 1;
    FakeWorkers::addScript({{20, 26145}, {21, 0x0108}, {26, 0}, {1, 50}, {0, 0}});
    button("btnProg")->click();
    selectedFirmwareIndex = 1;  // the scan's choice
    ASSERT_TRUE(waitFor([this] { return !window->runInProgress(); }));
    const std::vector<std::string> report = reportTexts();
    ASSERT_EQ(report.size(), 6u);
    EXPECT_EQ(report[0], "Start at serial port \"COM9\"");
    EXPECT_EQ(report[2], "Version 1.8");
    EXPECT_EQ(report[4], "Progress 50%");
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text.toStdString(), report[5]);
    const QRect main = window->frameGeometry();
    const QRect placed = log.messages[0].frame;
    EXPECT_EQ(placed.left(), main.left() + 10);
    EXPECT_EQ(placed.width(), main.width() - 20);
    EXPECT_EQ(placed.bottom(), main.bottom() - 10);
    EXPECT_EQ(bar(), 100);
}

// Notification 13: the report is kept, a new worker runs with the same port and command, the
// window never passes through idle, and a cancel made before the restart still holds.
TEST_F(RunControl, RestartKeepsRunningWithANewWorker) {
    createServiceWindow();
    FakeWorkers::addScript({{20, 26145}, {13, 0}});
    button("btnProg")->click();
    const TCommThread* first = window->currentWorker();
    control<QComboBox>("cbxPort")->setEditText("COM5");  // the shown text, not the run's port
    control<QCheckBox>("chkReadInfoOnly")->setChecked(true);
    button("btnCancel")->click();
    button("btnCancel")->click();
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
    EXPECT_NE(window->currentWorker(), first);
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
    QCoreApplication::processEvents();
    expectIdle();
    EXPECT_EQ(messageTexts(), std::vector<QString>{"Process cancelled!"});
}

// The program's wait before a restart blocks the user-interface thread: nothing is dispatched.
TEST_F(RunControl, RestartWaitBlocksTheWindow) {
    createServiceWindow();
    FakeWorkers::addScript({{13, 0}});
    window->show();
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);
    duringDelay = [&] {
        ticks = 0;
        MainWindowSeams::program().restartDelay(1500);
        EXPECT_LE(ticks, 0);
    };
    QElapsedTimer clock;
    clock.start();
    button("btnProg")->click();
    ASSERT_TRUE(waitFor([] { return FakeWorkers::created().size() == 2; }));
    const auto created = FakeWorkers::created();
    EXPECT_GE(created[1].at - created[0].at, std::chrono::milliseconds(1490));
}

TEST_F(RunControl, CloseCheck) {
    createServiceWindow();
    window->show();
    // Idle: closes without a question.
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(log.questions.empty());

    window->show();
    button("btnProg")->click();
    answers.confirmations = {false};
    button("btnCancel")->click();
    control<QAction>("menFileExit")->trigger();  // Exit asks the same question
    EXPECT_TRUE(window->isVisible());
    expectRunning();
    EXPECT_TRUE(cancelFlag.load());

    answers.confirmations = {true};
    EXPECT_FALSE(button("btnClose")->isVisible());
    EXPECT_TRUE(window->close());
    EXPECT_EQ(log.questions, (std::vector<QString>{kClose, kClose}));
    EXPECT_FALSE(window->isVisible());
}

// File starts a second worker only when no run is in progress; a descriptor file that cannot
// be read starts no run.
TEST_F(RunControl, FileButton) {
    const QString good = descriptorFile("good.txt", 7);
    const QString bad = writeFile("bad.txt", "bootloader=2\nbootloader version=1\nclass=\n");

    createServiceWindow();
    answers.chosenFile = bad;
    button("btnFile")->click();
    EXPECT_TRUE(FakeWorkers::created().empty());
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    ASSERT_EQ(reportTexts().size(), 1u);
    EXPECT_EQ(status(), reportTexts()[0]);
    expectIdle();

    answers.chosenFile = good;
    button("btnFile")->click();
    ASSERT_EQ(FakeWorkers::created().size(), 1u);
    EXPECT_EQ(selectedFirmwareIndex.load(), 0);
    EXPECT_EQ(loadedFileHeader().qor_verL, 7);
    expectRunning();

    button("btnFile")->click();  // disabled while the run is in progress
    window->btnFileClick();      // and ignored if reached some other way
    EXPECT_EQ(FakeWorkers::created().size(), 1u);
}

TEST_F(RunControl, FileVersionOpensTheOverview) {
    const QString good = descriptorFile("good.txt", 9);
    createServiceWindow();
    window->show();
    answers.chosenFile = good + ".missing";
    control<QAction>("menInfoFile")->trigger();
    EXPECT_TRUE(log.overviews.empty());
    EXPECT_TRUE(log.errors.empty());

    // A file that cannot be converted: the error box, no overview, nothing selected.
    answers.chosenFile = writeFile("bad.txt", "bootloader=2\nbootloader version=1\nclass=\n");
    control<QAction>("menInfoFile")->trigger();
    EXPECT_TRUE(log.overviews.empty());
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_TRUE(log.errors[0].contains("class")) << log.errors[0].toStdString();
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);

    answers.chosenFile = good;
    control<QAction>("menInfoFile")->trigger();
    EXPECT_EQ(selectedFirmwareIndex.load(), 0);
    ASSERT_EQ(log.overviews.size(), 1u);
    const QRect main = window->frameGeometry();
    EXPECT_EQ(log.overviews[0].topLeft(), main.topLeft());
    EXPECT_EQ(log.overviews[0].height(), main.height());
}

TEST(Confirmation, TitledConfirmWithYesAsDefault) {
    const auto box = makeConfirmation(nullptr, "Close?\r\nReally?");
    EXPECT_EQ(box->windowTitle(), "Confirm");
    EXPECT_EQ(box->text(), "Close?\nReally?");
    ASSERT_EQ(box->buttons().size(), 2);
    EXPECT_EQ(box->button(QMessageBox::Yes)->text(), "Yes");
    EXPECT_EQ(box->button(QMessageBox::No)->text(), "No");
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
}

}  // namespace
}  // namespace qor::ui::test
