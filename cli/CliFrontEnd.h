// The headless front end: a view of the shared run control that prints the report, runs what
// the window's Update button runs and waits for the run's end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "cli/CliOptions.h"
#include "cli/RunFacts.h"
#include "frontend/RunControl.h"

namespace qor::cli {

// Reads a descriptor file into catalogue entry 0 and selects it; on failure says why on err,
// selects nothing and returns false.
bool selectDescriptorFile(const std::string& fileName, std::ostream& err);

class CliFrontEnd : private RunView {
  public:
    // The question about saved measurements: true on Yes.
    using Confirm = std::function<bool(const std::string& question)>;

    CliFrontEnd(CliOptions options, std::ostream& out, std::ostream& err, bool drawProgress,
                Confirm confirm = {});
    ~CliFrontEnd() override;
    CliFrontEnd(const CliFrontEnd&) = delete;
    CliFrontEnd& operator=(const CliFrontEnd&) = delete;

    // Asks the question (unless --yes answered it), prepares and starts the run, handles its
    // notifications until it has ended, and returns the exit status.
    int run();

    // The question of the Update button alone; true when there is none or it was answered Yes.
    bool confirmUpdate();

    const RunOutcome& outcome() const { return control_.outcome(); }
    // What the run found out, with its final message (or, where a run ends without one, its
    // last report line) as the outcome.
    RunFacts facts() const;

  private:
    void addReport(const std::string& text) override;
    void clearReport() override {}
    void setStatus(const std::string& text) override;
    void showMessageWindow(const std::string& text) override;
    void setProgressBar(int position) override;
    void setApplicationTitle(const std::string& text) override;
    std::string portText() const override;
    void alertSound() override;
    void restartDelay(std::uint32_t milliseconds) override;
    void showRunState(bool running) override;
    bool readInfoOnlyTicked() const override;
    bool confirm(const std::string& question) override;
    void descriptorUnreadable(const std::string& reason) override;

    void clearProgressLine();

    CliOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    bool drawProgress_;
    Confirm confirm_;
    bool progressShown_ = false;
    std::string lastReport_;
    RunFactsRecorder facts_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Notification> queue_;
    RunControl control_;
};

}  // namespace qor::cli
