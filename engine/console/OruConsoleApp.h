// Runs a console program as a child process, watches it in time slices, calls its owner back
// after every slice and enforces a maximum run time. Everything happens on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/console/OruPipe.h"

namespace qor {

class TOruCustomConsoleApp;

using TNotifyEvent = std::function<void(TOruCustomConsoleApp& Sender)>;

// The sixteen console colours, in their attribute order.
enum class TOruConsoleColor : std::uint8_t {
    ccBlack,
    ccBlue,
    ccGreen,
    ccAqua,
    ccRed,
    ccPurple,
    ccYellow,
    ccWhite,
    ccGray,
    ccLightBlue,
    ccLightGreen,
    ccLightAqua,
    ccLightRed,
    ccLightPurple,
    ccLightYellow,
    ccBrightWhite
};

struct TOruConsoleColors {
    TOruConsoleColor Foreground = TOruConsoleColor::ccWhite;
    TOruConsoleColor Background = TOruConsoleColor::ccBlack;
};

// A pair of console measures: columns and rows, or a position on the screen.
struct TOruConsoleCoord {
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

enum class TOruConsoleAppPriority : std::uint8_t {
    cpDefault,
    cpHigh,
    cpNormal,
    cpIdle,
    cpRealTime
};

using TOruProcessInfo = platform::ProcessInfo;

// The runner's own error codes carry bit 29, the mark of application-defined codes.
inline constexpr std::uint32_t cOruErrorTimedOut = 0x20000001u;
inline constexpr std::uint32_t cOruErrorTerminated = 0x20000002u;
// MaxExecTime without a limit; TimeSlice for one wait without slices.
inline constexpr std::uint32_t cOruInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t cOruDefaultMaxExecTime = 60000;
inline constexpr std::uint32_t cOruDefaultTimeSlice = 50;

class TOruCustomConsoleApp {
  public:
    TOruCustomConsoleApp();
    // Frees the owned attribute copies; never touches a child.
    virtual ~TOruCustomConsoleApp();
    TOruCustomConsoleApp(const TOruCustomConsoleApp&) = delete;
    TOruCustomConsoleApp& operator=(const TOruCustomConsoleApp&) = delete;

    // Stores both strings, then runs the child.
    bool Execute(const std::string& CmdLine, const std::string& CurrentDir);
    // Starts the child, watches it to its end and reads its exit code. True only when the
    // child ended inside the time limit and its exit code was read. A callback's exception
    // leaves here after the child's handles were released; the child is not ended then.
    bool Execute();
    // Asks the wait loop to stop after the current slice (safe from any thread).
    void Terminate() { fRequestTerminate = true; }

    TOruHandle StdIn() const { return fStdIn; }
    void setStdIn(TOruHandle Value) { fStdIn = Value; }
    TOruHandle StdOut() const { return fStdOut; }
    void setStdOut(TOruHandle Value) { fStdOut = Value; }
    TOruHandle StdErr() const { return fStdErr; }
    void setStdErr(TOruHandle Value) { fStdErr = Value; }
    const std::string& CommandLine() const { return fCommandLine; }
    void setCommandLine(const std::string& Value) { fCommandLine = Value; }
    const std::string& CurrentDir() const { return fCurrentDir; }
    void setCurrentDir(const std::string& Value) { fCurrentDir = Value; }
    bool Visible() const { return fVisible; }
    void setVisible(bool Value) { fVisible = Value; }
    std::uint32_t MaxExecTime() const { return fMaxExecTime; }
    // 0 stores the default.
    void setMaxExecTime(std::uint32_t Value);
    std::uint32_t TimeSlice() const { return fTimeSlice; }
    // 0 stores the default.
    void setTimeSlice(std::uint32_t Value);
    bool KillTimedOutProcess() const { return fKillTimedOutProcess; }
    void setKillTimedOutProcess(bool Value) { fKillTimedOutProcess = Value; }
    // nullptr when none is set. Assigning copies the record; assigning nullptr drops the copy.
    const TOruSecurityAttributes* ProcessAttrs() const { return fProcessAttrs.get(); }
    void setProcessAttrs(const TOruSecurityAttributes* Value);
    const TOruSecurityAttributes* ThreadAttrs() const { return fThreadAttrs.get(); }
    void setThreadAttrs(const TOruSecurityAttributes* Value);
    bool UseNewConsole() const { return fUseNewConsole; }
    void setUseNewConsole(bool Value) { fUseNewConsole = Value; }
    const std::string& ConsoleTitle() const { return fConsoleTitle; }
    void setConsoleTitle(const std::string& Value) { fConsoleTitle = Value; }
    TOruConsoleColors ConsoleColors() const { return fConsoleColors; }
    void setConsoleColors(TOruConsoleColors Value) { fConsoleColors = Value; }
    TOruConsoleCoord ScreenBufferSize() const { return fScreenBufferSize; }
    void setScreenBufferSize(TOruConsoleCoord Value) { fScreenBufferSize = Value; }
    TOruConsoleCoord WindowSize() const { return fWindowSize; }
    void setWindowSize(TOruConsoleCoord Value) { fWindowSize = Value; }
    TOruConsoleCoord WindowPosition() const { return fWindowPosition; }
    void setWindowPosition(TOruConsoleCoord Value) { fWindowPosition = Value; }
    // Environment block for the child (not owned; nullptr: the caller's environment).
    const void* Environment() const { return fEnvironment; }
    void setEnvironment(const void* Value) { fEnvironment = Value; }
    bool UnicodeEnvironment() const { return fUnicodeEnvironment; }
    void setUnicodeEnvironment(bool Value) { fUnicodeEnvironment = Value; }
    TOruConsoleAppPriority Priority() const { return fPriority; }
    void setPriority(TOruConsoleAppPriority Value) { fPriority = Value; }

    std::uint32_t TimeToLive() const { return fTimeToLive; }
    std::uint32_t ElapsedTime() const { return fElapsedTime; }
    // Valid only while Execute runs (in the callbacks); all zero otherwise.
    const TOruProcessInfo& ProcessInfo() const { return fProcessInfo; }
    std::uint32_t ExitCode() const { return fExitCode; }
    std::uint32_t ErrorCode() const { return fErrorCode; }
    const std::string& ErrorMessage() const { return fErrorMessage; }

    const TNotifyEvent& OnStart() const { return fOnStart; }
    void setOnStart(TNotifyEvent Value) { fOnStart = std::move(Value); }
    const TNotifyEvent& OnWork() const { return fOnWork; }
    void setOnWork(TNotifyEvent Value) { fOnWork = std::move(Value); }
    const TNotifyEvent& OnComplete() const { return fOnComplete; }
    void setOnComplete(TNotifyEvent Value) { fOnComplete = std::move(Value); }

  protected:
    virtual void TriggerStart();
    virtual void TriggerWork();
    virtual void TriggerComplete();

  private:
    bool startChild();
    bool waitLoop();
    void recordOsError();
    void recordError(std::uint32_t code, const std::string& message);

    TNotifyEvent fOnWork;
    TNotifyEvent fOnComplete;
    TNotifyEvent fOnStart;
    TOruHandle fStdIn = 0;
    TOruHandle fStdOut = 0;
    TOruHandle fStdErr = 0;
    std::string fCommandLine;
    std::string fCurrentDir;
    std::uint32_t fExitCode = 0;
    std::uint32_t fMaxExecTime = cOruDefaultMaxExecTime;
    std::string fErrorMessage;
    std::uint32_t fErrorCode = 0;
    bool fVisible = false;
    std::uint32_t fTimeSlice = cOruDefaultTimeSlice;
    bool fKillTimedOutProcess = true;
    std::uint32_t fTimeToLive = 0;
    std::uint32_t fElapsedTime = 0;
    std::atomic<bool> fRequestTerminate = false;
    std::unique_ptr<TOruSecurityAttributes> fProcessAttrs;
    std::unique_ptr<TOruSecurityAttributes> fThreadAttrs;
    bool fUseNewConsole = false;
    std::string fConsoleTitle;
    TOruConsoleColors fConsoleColors;
    TOruConsoleCoord fScreenBufferSize;
    TOruConsoleCoord fWindowSize;
    TOruConsoleCoord fWindowPosition{-1, -1};
    const void* fEnvironment = nullptr;
    bool fUnicodeEnvironment = false;
    TOruProcessInfo fProcessInfo;
    TOruConsoleAppPriority fPriority = TOruConsoleAppPriority::cpDefault;
};

// The runner the update engine uses; all of the base's properties are public.
class TOruConsoleApp : public TOruCustomConsoleApp {};

}  // namespace qor
