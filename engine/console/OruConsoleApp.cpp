#include "engine/console/OruConsoleApp.h"

#include <chrono>

#include "engine/console/OruAssert.h"

namespace qor {
namespace {

constexpr std::uint32_t kApplicationErrorBit = 0x20000000u;

platform::ProcessPriority toPlatform(TOruConsoleAppPriority priority) {
    switch (priority) {
        case TOruConsoleAppPriority::cpHigh:
            return platform::ProcessPriority::High;
        case TOruConsoleAppPriority::cpNormal:
            return platform::ProcessPriority::Normal;
        case TOruConsoleAppPriority::cpIdle:
            return platform::ProcessPriority::Idle;
        case TOruConsoleAppPriority::cpRealTime:
            return platform::ProcessPriority::RealTime;
        case TOruConsoleAppPriority::cpDefault:
            break;
    }
    return platform::ProcessPriority::Default;
}

std::unique_ptr<TOruSecurityAttributes> copyOf(const TOruSecurityAttributes* value) {
    return value != nullptr ? std::make_unique<TOruSecurityAttributes>(*value) : nullptr;
}

}  // namespace

TOruCustomConsoleApp::TOruCustomConsoleApp() = default;

TOruCustomConsoleApp::~TOruCustomConsoleApp() = default;

void TOruCustomConsoleApp::setMaxExecTime(std::uint32_t Value) {
    fMaxExecTime = Value == 0 ? cOruDefaultMaxExecTime : Value;
}

void TOruCustomConsoleApp::setTimeSlice(std::uint32_t Value) {
    fTimeSlice = Value == 0 ? cOruDefaultTimeSlice : Value;
}

void TOruCustomConsoleApp::setProcessAttrs(const TOruSecurityAttributes* Value) {
    fProcessAttrs = copyOf(Value);
}

void TOruCustomConsoleApp::setThreadAttrs(const TOruSecurityAttributes* Value) {
    fThreadAttrs = copyOf(Value);
}

bool TOruCustomConsoleApp::Execute(const std::string& CmdLine, const std::string& CurrentDir) {
    fCommandLine = CmdLine;
    fCurrentDir = CurrentDir;
    return Execute();
}

bool TOruCustomConsoleApp::Execute() {
    fExitCode = 0;
    fErrorCode = 0;
    fErrorMessage.clear();
    fProcessInfo = {};
    if (!startChild()) {
        fProcessInfo = {};
        return false;
    }

    // The child's handles are released on every way out, a callback's exception included.
    struct Release {
        TOruProcessInfo& info;
        ~Release() { platform::processClose(info); }
    } release{fProcessInfo};

    TriggerStart();
    if (!waitLoop()) {
        return false;
    }
    if (!platform::processExitCode(fProcessInfo, fExitCode)) {
        recordOsError();
        fExitCode = 0;
        return false;
    }
    return true;
}

bool TOruCustomConsoleApp::startChild() {
    platform::ProcessStartInfo start;
    start.commandLine = fCommandLine;
    start.currentDir = fCurrentDir;
    start.stdIn = fStdIn;
    start.stdOut = fStdOut;
    start.stdErr = fStdErr;
    start.visible = fVisible;
    start.newConsole = fUseNewConsole;
    start.priority = toPlatform(fPriority);
    start.environment = fEnvironment;
    start.unicodeEnvironment = fUnicodeEnvironment;
    start.processAttrs = fProcessAttrs.get();
    start.threadAttrs = fThreadAttrs.get();
    start.consoleTitle = fConsoleTitle;
    start.fillAttribute =
        static_cast<std::uint16_t>(static_cast<unsigned>(fConsoleColors.Foreground) +
                                   16u * static_cast<unsigned>(fConsoleColors.Background));
    start.bufferColumns = fScreenBufferSize.X;
    start.bufferRows = fScreenBufferSize.Y;
    start.windowWidth = fWindowSize.X;
    start.windowHeight = fWindowSize.Y;
    start.windowX = fWindowPosition.X;
    start.windowY = fWindowPosition.Y;
    if (!platform::processStart(start, fProcessInfo)) {
        recordOsError();
        return false;
    }
    return true;
}

bool TOruCustomConsoleApp::waitLoop() {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    fRequestTerminate = false;
    fTimeToLive = fMaxExecTime;
    fElapsedTime = 0;
    bool result = true;
    platform::WaitResult wait = platform::WaitResult::TimedOut;
    do {
        wait = platform::processWait(fProcessInfo, fTimeSlice);
        if (wait == platform::WaitResult::Failed) {
            recordOsError();  // before anything else can overwrite the system's error
            result = false;
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        fElapsedTime = static_cast<std::uint32_t>(elapsed.count());  // low 32 bits
        if (fMaxExecTime != cOruInfinite) {
            fTimeToLive = fMaxExecTime > fElapsedTime ? fMaxExecTime - fElapsedTime : 0;
        }
        if (wait != platform::WaitResult::Failed && fTimeSlice != cOruInfinite) {
            // Also once after the child has ended, so that its last output is read here.
            TriggerWork();
        }
    } while (wait == platform::WaitResult::TimedOut && fTimeToLive > 0 && !fRequestTerminate);
    fTimeToLive = 0;

    if (wait == platform::WaitResult::TimedOut || fRequestTerminate) {
        if (fRequestTerminate) {
            recordError(cOruErrorTerminated, "Application terminated");
        } else {
            recordError(cOruErrorTimedOut, "Application timed out");
        }
        // The owner completes while the child is still there; only then is it ended.
        TriggerComplete();
        if (fKillTimedOutProcess) {
            platform::processTerminate(fProcessInfo, fErrorCode);
        }
        return false;
    }
    TriggerComplete();
    return result;
}

void TOruCustomConsoleApp::recordOsError() {
    fErrorCode = platform::lastError();
    fErrorMessage = platform::errorText(fErrorCode);
}

void TOruCustomConsoleApp::recordError(std::uint32_t code, const std::string& message) {
    // Own codes must never look like the system's.
    oruAssert((code & kApplicationErrorBit) != 0, "own error code without bit 29");
    fErrorCode = code;
    fErrorMessage = message;
}

void TOruCustomConsoleApp::TriggerStart() {
    if (fOnStart) {
        fOnStart(*this);
    }
}

void TOruCustomConsoleApp::TriggerWork() {
    if (fOnWork) {
        fOnWork(*this);
    }
}

void TOruCustomConsoleApp::TriggerComplete() {
    if (fOnComplete) {
        fOnComplete(*this);
    }
}

}  // namespace qor
