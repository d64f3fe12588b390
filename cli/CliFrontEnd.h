// The headless front end: runs what the window's Update button runs and prints the report.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>

#include "cli/CliOptions.h"
#include "engine/NotificationHandler.h"

namespace qor::cli {

// Reads a descriptor file into catalogue entry 0 and selects it; on failure says why on err,
// selects nothing and returns false.
bool selectDescriptorFile(const std::string& fileName, std::ostream& err);

class CliFrontEnd : public RunDisplays {
  public:
    CliFrontEnd(CliOptions options, std::ostream& out, std::ostream& err, bool drawProgress);
    ~CliFrontEnd() override;
    CliFrontEnd(const CliFrontEnd&) = delete;
    CliFrontEnd& operator=(const CliFrontEnd&) = delete;

    // Prepares and starts the run, handles its notifications until it has ended, and returns
    // the exit status.
    int run();

    void addReport(const std::string& text) override;
    void setStatus(const std::string& text) override;
    void showMessageWindow(const std::string& text) override;
    void setProgressBar(int position) override;
    void setApplicationTitle(const std::string& text) override;
    std::string portText() const override;
    void alertSound() override;
    void endRun() override;
    void startRun(TCmd cmd) override;
    void restartDelay(std::uint32_t milliseconds) override;

  private:
    bool prepareRun();
    void clearProgressLine();

    CliOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    bool drawProgress_;
    bool progressShown_ = false;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Notification> queue_;
    std::int32_t hWindow_;
    bool running_ = false;
    std::uint32_t restarts_ = 0;
    bool restartsUsedUp_ = false;
};

}  // namespace qor::cli
