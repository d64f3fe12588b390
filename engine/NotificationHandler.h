// Turns the worker's notifications into what the user sees: report lines, the status line, the
// final message, the progress bar and title, and the end or automatic restart of a run. Both
// front ends (the window and the headless program) drive their displays through this.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "engine/CommThread.h"
#include "engine/Notifications.h"

namespace qor {

// What a front end shows a run on. Called on the front end's own (user-interface) thread.
class RunOutput {
  public:
    virtual ~RunOutput() = default;

    virtual void addReport(const std::string& text) = 0;
    virtual void setStatus(const std::string& text) = 0;
    // Shows the run's outcome; returns when the user has taken note of it.
    virtual void showMessageWindow(const std::string& text) = 0;
    virtual void setProgressBar(int position) = 0;
    // The title shown for the application as a whole (the taskbar button on Windows).
    virtual void setApplicationTitle(const std::string& text) = 0;
    // The port name as the user currently sees it.
    virtual std::string portText() const = 0;
    virtual void alertSound() = 0;
    // The pause before an automatic restart; blocks the user-interface thread.
    virtual void restartDelay(std::uint32_t milliseconds) = 0;
};

// What the handler needs besides the displays: the end and the restart of a run.
class RunDisplays : public RunOutput {
  public:
    virtual void endRun() = 0;
    virtual void startRun(TCmd cmd) = 0;
};

inline constexpr std::uint32_t kRestartDelayMs = 1500;

// Handles one notification; unknown codes are ignored. Notification 100 shows the line it
// carries.
void handleNotification(RunDisplays& displays, const Notification& notification);
// The same for a bare (code, value) pair: notification 100 shows the slot's current line.
void handleNotification(RunDisplays& displays, std::uint32_t code, std::int32_t value);

// The text the handler shows for the error value of notification 10.
std::string failureText(std::int32_t errorCode, const std::string& portText);

// "hh-nn-ss -> text" for a report line added at the given local time.
std::string formatReportLine(const std::tm& localTime, const std::string& text);
// The same with the current local time.
std::string reportLineNow(const std::string& text);

}  // namespace qor
