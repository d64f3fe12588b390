#include "frontend/RunControl.h"

#include <exception>

#include "catalogue/Catalogue.h"
#include "engine/RunState.h"
#include "platform/Files.h"

namespace qor {
namespace {

constexpr int kCloseWidth = 139;

}  // namespace

RunButtons runButtonsAt(int serviceLevel) {
    if (serviceLevel < 2) {
        return {{50, 107, kCloseWidth, 41}, {127, 107, 69, 41}, false};
    }
    const int half = kCloseWidth / 2;
    return {{50, 107, half, 41}, {50 + half + 8, 107, half, 41}, true};
}

RunControl::RunControl(RunView& view, std::int32_t hWindow) : FView(view), FhWindow(hWindow) {}

void RunControl::applyStartup(bool serviceMode, const StartupOptions& options) {
    FReadInfoOnlyOffered = serviceMode && readInfoOnlyCapable.load();
    FServiceLevel = serviceMode ? options.serviceLevel : 0;
    FMeasurementFormat = options.measurementFormat;
    if (serviceMode && !options.checkClass) {
        checkClassFlag = false;
    }
}

void RunControl::showInitialState() {
    FView.setStatus(FMeasurementFormat ? "F" : "");
    endRun();
}

bool RunControl::confirmUpdate() {
    if (FMeasurementFormat) {
        return FView.confirm(kQuestionClears);
    }
    if (FServiceLevel < 1) {
        return FView.confirm(kQuestionSave);
    }
    return true;
}

bool RunControl::updateClicked() {
    if (runInProgress() || !confirmUpdate()) {
        return false;
    }
    prepareRun({});
    startRun(TCmd::tCMD0);
    return true;
}

bool RunControl::fileClicked() {
    // One worker owns the port: File is disabled during a run, and ignored should it come.
    if (runInProgress()) {
        return false;
    }
    const std::string fileName = FView.chooseFile();
    if (fileName.empty()) {
        return false;
    }
    // A descriptor that cannot be read starts nothing: the run would otherwise go to the
    // built-in images on a stale port, which is not what the user chose the file for.
    if (!prepareRun(fileName)) {
        return false;
    }
    startRun(TCmd::tCMD0);
    return true;
}

void RunControl::fileVersionClicked() {
    const std::string fileName = FView.chooseFile();
    if (fileName.empty()) {
        return;
    }
    if (platform::fileKind(fileName) != platform::FileKind::Regular) {
        return;
    }
    try {
        readLoadedFileHeader(fileName);
    } catch (const std::exception& e) {
        FView.showError(e.what());
        return;
    }
    selectedFirmwareIndex = 0;
    FView.showOverview();
}

void RunControl::cancelClicked() {
    cancelFlag = true;
}

bool RunControl::closeQuery() {
    return FCommThread == nullptr || FView.confirm(kQuestionClose);
}

bool RunControl::prepareRun(const std::string& fileName) {
    FView.clearReport();
    selectedFirmwareIndex = -1;
    if (!fileName.empty()) {
        try {
            readLoadedFileHeader(fileName);
        } catch (const std::exception& e) {
            FView.descriptorUnreadable(e.what());
            return false;
        }
        selectedFirmwareIndex = 0;
    }
    FPort = FView.portText();
    return true;
}

void RunControl::startRun(TCmd cmd) {
    const bool restart = FCommThread != nullptr;
    if (!restart) {
        FRestarts = 0;
    } else if (FRestartLimit && FRestarts >= *FRestartLimit) {
        FView.addReport("Gave up after " + std::to_string(FRestarts) + " automatic restarts.");
        endRun();
        FOutcome = {RunOutcome::Kind::RestartsUsedUp, 0, {}};
        return;
    } else {
        ++FRestarts;
    }
    const std::string line = "Start at serial port \"" + FView.portText() + "\"";
    FView.addReport(line);
    FView.setStatus(line);
    readInfoOnlyFlag = FView.readInfoOnlyTicked();
    FView.setProgressBar(0);
    FView.showRunState(true);
    cancelFlag = false;
    FOutcome = {RunOutcome::Kind::Running, 0, {}};
    FCommThread = CommThreadClass(FhWindow, cmd, FPort);
}

void RunControl::endRun() {
    FView.showRunState(false);
    FCommThread = nullptr;
    FView.setApplicationTitle(kProgramTitle);
}

void RunControl::handle(const Notification& notification) {
    if (notification.code == kNotifySuccess) {
        FOutcome = {RunOutcome::Kind::Succeeded, 0, {}};
    } else if (notification.code == kNotifyFailure) {
        FOutcome = {RunOutcome::Kind::Failed, notification.value, {}};
    }
    handleNotification(*this, notification);
}

void RunControl::handle(std::uint32_t code, std::int32_t value) {
    Notification notification{code, value, {}};
    if (code == kNotifyText) {
        notification.text = textSlot(value == 1 ? 1 : 0);
    }
    handle(notification);
}

bool RunControl::reportWindowAtFirstIdle() {
    if (FIdleDone) {
        return false;
    }
    FIdleDone = true;
    return FServiceLevel > 0;
}

bool RunControl::dropDownAfterPortChange(bool activeApplication) const {
    return activeApplication && !runInProgress();
}

void RunControl::addReport(const std::string& text) {
    FView.addReport(text);
}

void RunControl::setStatus(const std::string& text) {
    FView.setStatus(text);
}

void RunControl::showMessageWindow(const std::string& text) {
    FOutcome.message = text;
    FView.showMessageWindow(text);
}

void RunControl::setProgressBar(int position) {
    FView.setProgressBar(position);
}

void RunControl::setApplicationTitle(const std::string& text) {
    FView.setApplicationTitle(text);
}

std::string RunControl::portText() const {
    return FView.portText();
}

void RunControl::alertSound() {
    FView.alertSound();
}

void RunControl::restartDelay(std::uint32_t milliseconds) {
    FView.restartDelay(milliseconds);
}

}  // namespace qor
