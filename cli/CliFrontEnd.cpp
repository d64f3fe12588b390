#include "cli/CliFrontEnd.h"

#include "catalogue/Catalogue.h"
#include "catalogue/DescriptorFile.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"

namespace qor::cli {

CliFrontEnd::CliFrontEnd(CliOptions options, std::ostream& out, std::ostream& err,
                         bool drawProgress, Confirm confirm)
    : options_(std::move(options)),
      out_(out),
      err_(err),
      drawProgress_(drawProgress),
      confirm_(std::move(confirm)),
      control_(*this, registerNotificationSink([this](const Notification& notification) {
          std::lock_guard lock(mutex_);
          queue_.push_back(notification);
          posted_.notify_one();
      })) {
    control_.setRestartLimit(options_.maxRestarts);
}

CliFrontEnd::~CliFrontEnd() {
    unregisterNotificationSink(control_.notificationHandle());
}

bool CliFrontEnd::confirmUpdate() {
    control_.applyStartup(false, {});
    return control_.confirmUpdate();
}

int CliFrontEnd::run() {
    const bool confirmed = confirmUpdate();
    checkClassFlag = !options_.noClassCheck;
    if (!confirmed) {
        err_ << "Nothing was started.\n";
        return kExitSuccess;
    }
    if (!control_.prepareRun(options_.descriptorFile)) {
        return kExitOtherFailure;
    }
    control_.startRun(TCmd::tCMD0);
    while (control_.runInProgress()) {
        Notification next;
        {
            std::unique_lock lock(mutex_);
            posted_.wait(lock, [this] { return !queue_.empty(); });
            next = queue_.front();
            queue_.pop_front();
        }
        facts_.take(next);
        control_.handle(next);
    }
    clearProgressLine();
    // The worker frees itself after its last notification; let it finish before the process ends.
    TCommThread::waitForWorkers(5000);
    const RunOutcome& outcome = control_.outcome();
    switch (outcome.kind) {
        case RunOutcome::Kind::Succeeded:
            return kExitSuccess;
        case RunOutcome::Kind::Failed:
            return exitStatusForError(outcome.errorCode);
        case RunOutcome::Kind::RestartsUsedUp:
            return kExitRestartsUsedUp;
        default:
            return kExitOtherFailure;
    }
}

RunFacts CliFrontEnd::facts() const {
    RunFacts facts = facts_.facts();
    facts.outcome = outcome().message.empty() ? lastReport_ : outcome().message;
    return facts;
}

bool selectDescriptorFile(const std::string& fileName, std::ostream& err) {
    selectedFirmwareIndex = -1;
    try {
        readLoadedFileHeader(fileName);
    } catch (const EDescriptorFile& e) {
        err << "qor-ble-update-cli: " << e.what() << "\n";
        return false;
    }
    selectedFirmwareIndex = 0;
    return true;
}

bool CliFrontEnd::confirm(const std::string& question) {
    return options_.yes || (confirm_ && confirm_(question));
}

void CliFrontEnd::descriptorUnreadable(const std::string& reason) {
    lastReport_ = reason;
    err_ << "qor-ble-update-cli: " << reason << "\n";
}

void CliFrontEnd::addReport(const std::string& text) {
    lastReport_ = text;
    clearProgressLine();
    out_ << reportLineNow(text) << "\n" << std::flush;
}

void CliFrontEnd::setStatus(const std::string&) {}

// The report already carries the outcome line; there is no separate message to show.
void CliFrontEnd::showMessageWindow(const std::string&) {}

void CliFrontEnd::setProgressBar(int position) {
    if (!drawProgress_ || position <= 0 || position >= 100) {
        return;
    }
    const int filled = position * 40 / 100;
    err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(40 - filled), '.') << "] " << position << "%"
         << std::flush;
    progressShown_ = true;
}

void CliFrontEnd::clearProgressLine() {
    if (progressShown_) {
        err_ << "\r" << std::string(48, ' ') << "\r" << std::flush;
        progressShown_ = false;
    }
}

void CliFrontEnd::setApplicationTitle(const std::string&) {}

std::string CliFrontEnd::portText() const {
    return options_.ports.front();
}

void CliFrontEnd::alertSound() {
    if (drawProgress_) {
        err_ << '\a' << std::flush;
    }
}

void CliFrontEnd::restartDelay(std::uint32_t milliseconds) {
    platform::sleepMs(milliseconds);
}

void CliFrontEnd::showRunState(bool) {}

bool CliFrontEnd::readInfoOnlyTicked() const {
    return options_.readInfoOnly;
}

}  // namespace qor::cli
