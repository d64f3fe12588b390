#include "cli/CliFrontEnd.h"

#include "catalogue/Catalogue.h"
#include "catalogue/DescriptorFile.h"

#include <filesystem>
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"

namespace qor::cli {

CliFrontEnd::CliFrontEnd(CliOptions options, std::ostream& out, std::ostream& err,
                         bool drawProgress)
    : options_(std::move(options)), out_(out), err_(err), drawProgress_(drawProgress) {
    hWindow_ = registerNotificationSink([this](const Notification& notification) {
        std::lock_guard lock(mutex_);
        queue_.push_back(notification);
        posted_.notify_one();
    });
}

CliFrontEnd::~CliFrontEnd() {
    unregisterNotificationSink(hWindow_);
}

int CliFrontEnd::run() {
    checkClassFlag = !options_.noClassCheck;
    if (!prepareRun()) {
        return kExitOtherFailure;
    }
    startRun(TCmd::tCMD0);
    int status = kExitOtherFailure;
    while (running_) {
        Notification next;
        {
            std::unique_lock lock(mutex_);
            posted_.wait(lock, [this] { return !queue_.empty(); });
            next = queue_.front();
            queue_.pop_front();
        }
        handleNotification(*this, next);
        if (next.code == kNotifySuccess) {
            status = kExitSuccess;
        } else if (next.code == kNotifyFailure) {
            status = exitStatusForError(next.value);
        } else if (restartsUsedUp_) {
            status = kExitRestartsUsedUp;
        }
    }
    clearProgressLine();
    // The worker frees itself after its last notification; let it finish before the process ends.
    TCommThread::waitForWorkers(5000);
    return status;
}

bool selectDescriptorFile(const std::string& fileName, std::ostream& err) {
    selectedFirmwareIndex = -1;
    try {
        readLoadedFileHeader(std::filesystem::path(fileName));
    } catch (const EDescriptorFile& e) {
        err << "qor-ble-update-cli: " << e.what() << "\n";
        return false;
    }
    selectedFirmwareIndex = 0;
    return true;
}

bool CliFrontEnd::prepareRun() {
    selectedFirmwareIndex = -1;
    return options_.descriptorFile.empty() || selectDescriptorFile(options_.descriptorFile, err_);
}

void CliFrontEnd::startRun(TCmd cmd) {
    if (running_ && options_.maxRestarts && restarts_ >= *options_.maxRestarts) {
        addReport("Gave up after " + std::to_string(restarts_) + " automatic restarts.");
        restartsUsedUp_ = true;
        running_ = false;
        return;
    }
    if (running_) {
        ++restarts_;
    }
    const std::string line = "Start at serial port \"" + options_.port + "\"";
    addReport(line);
    setStatus(line);
    readInfoOnlyFlag = options_.readInfoOnly;
    setProgressBar(0);
    running_ = true;
    cancelFlag = false;
    CommThreadClass(hWindow_, cmd, options_.port);
}

void CliFrontEnd::endRun() {
    running_ = false;
}

void CliFrontEnd::addReport(const std::string& text) {
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
    return options_.port;
}

void CliFrontEnd::alertSound() {
    if (drawProgress_) {
        err_ << '\a' << std::flush;
    }
}

void CliFrontEnd::restartDelay(std::uint32_t milliseconds) {
    platform::sleepMs(milliseconds);
}

}  // namespace qor::cli
