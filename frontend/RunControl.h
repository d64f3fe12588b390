// Run control: what the main window does with its buttons and the worker's notifications,
// without any toolkit. The questions, run preparation, the idle and running states, the close
// check, the File functions, the report window's first showing and the port box's refresh rule
// live here once; the Qt window, the Win32 window and the headless program are views of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/CommThread.h"
#include "engine/NotificationHandler.h"
#include "engine/Notifications.h"
#include "frontend/StartupOptions.h"

namespace qor {

inline constexpr const char* kProgramTitle = "QOR BLE-Z40 Firmware Update";
inline constexpr const char* kInfoMenuCaption = "Info v2020-01-07";

inline constexpr const char* kQuestionSave =
    "Do you save your measurements ?\r\nDo you really continue without saving ?";
inline constexpr const char* kQuestionClears =
    "This update clears all measurements!\r\nDo you really continue ?";
inline constexpr const char* kQuestionClose =
    "The update is not finished!\r\nDo you really close the program ?";

// What a front end shows and offers. Every call comes on the front end's user-interface thread.
class RunView : public RunOutput {
  public:
    virtual void clearReport() = 0;

    // Idle: Update and File enabled, Close shown, Cancel hidden, port box enabled, normal
    // cursor. Running: the opposite in every point, with the wait cursor.
    virtual void showRunState(bool running) = 0;
    virtual bool readInfoOnlyTicked() const = 0;
    // A question in the "Confirm" dialog (Yes the default); true on Yes.
    virtual bool confirm(const std::string& question) = 0;
    // A descriptor file given for a run could not be read; nothing is started.
    virtual void descriptorUnreadable(const std::string& reason) = 0;

    // The file functions, which only the windows offer.
    // The file-open dialog; empty when the user cancelled.
    virtual std::string chooseFile() { return {}; }
    // The toolkit's error box for a file the File version item could not read.
    virtual void showError(const std::string&) {}
    // Info > Firmware: the overview at the main window.
    virtual void showOverview() {}
};

// A rectangle in layout units (pixels at the window's design resolution).
struct LayoutRect {
    int x, y, width, height;
    bool operator==(const LayoutRect&) const = default;
};

// Where Update and File stand at a service level: File only at level 2, the two then share
// the width of Close.
struct RunButtons {
    LayoutRect update;
    LayoutRect file;
    bool fileShown;
};
RunButtons runButtonsAt(int serviceLevel);

// How the last run ended, for front ends that report it beyond the displays.
struct RunOutcome {
    enum class Kind { None, Running, Succeeded, Failed, RestartsUsedUp };
    Kind kind = Kind::None;
    std::int32_t errorCode = 0;  // Failed: the value of notification 10
    std::string message;         // the final message shown, if any
};

class RunControl : private RunDisplays {
  public:
    // hWindow: the notification handle under which the view receives the workers' posts.
    RunControl(RunView& view, std::int32_t hWindow);
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // Start-up: service mode and the options give the service level, the measurement format
    // and (service mode with "cc:-") the class check.
    void applyStartup(bool serviceMode, const StartupOptions& options);
    int serviceLevel() const { return FServiceLevel; }
    bool measurementFormat() const { return FMeasurementFormat; }
    // "Read info only" is offered in service mode when the engine honours it.
    bool readInfoOnlyOffered() const { return FReadInfoOnlyOffered; }
    // The last steps of the window's start-up: status "F" or empty, then the idle state.
    void showInitialState();

    // The Update button: the question its settings call for, then a run with no descriptor.
    // True when a run was started.
    bool updateClicked();
    // The question alone; true when there is none or the answer was Yes.
    bool confirmUpdate();
    // The File button: a run with the descriptor file the user chooses (no question).
    bool fileClicked();
    // Info > File version: reads the chosen file into entry 0 and shows the overview.
    void fileVersionClicked();
    void cancelClicked();
    // True when the window may close: no run, or the user confirms abandoning it.
    bool closeQuery();

    // Clears the report and takes the port name; with a file name, reads that descriptor file
    // first. False (and no port name taken) when the file cannot be read.
    bool prepareRun(const std::string& fileName);
    void startRun(TCmd cmd) override;
    void endRun() override;

    // One notification of the current run, on the user-interface thread.
    void handle(const Notification& notification);
    void handle(std::uint32_t code, std::int32_t value);

    // True once, at the first idle moment, when the report window is to be shown.
    bool reportWindowAtFirstIdle();
    // After ports arrived or left: whether the port box drops its new list down.
    bool dropDownAfterPortChange(bool activeApplication) const;

    // Automatic restarts allowed per run (none: without limit, as the window does).
    void setRestartLimit(std::optional<std::uint32_t> limit) { FRestartLimit = limit; }

    bool runInProgress() const { return FCommThread != nullptr; }
    const TCommThread* currentWorker() const { return FCommThread; }
    std::int32_t notificationHandle() const { return FhWindow; }
    const std::string& port() const { return FPort; }
    const RunOutcome& outcome() const { return FOutcome; }

  private:
    // The displays, handed to the notification handler.
    void addReport(const std::string& text) override;
    void setStatus(const std::string& text) override;
    void showMessageWindow(const std::string& text) override;
    void setProgressBar(int position) override;
    void setApplicationTitle(const std::string& text) override;
    std::string portText() const override;
    void alertSound() override;
    void restartDelay(std::uint32_t milliseconds) override;

    RunView& FView;
    std::int32_t FhWindow;
    std::string FPort;
    TCommThread* FCommThread = nullptr;
    int FServiceLevel = 0;
    bool FMeasurementFormat = false;
    bool FReadInfoOnlyOffered = false;
    bool FIdleDone = false;
    std::optional<std::uint32_t> FRestartLimit;
    std::uint32_t FRestarts = 0;
    RunOutcome FOutcome;
};

}  // namespace qor
