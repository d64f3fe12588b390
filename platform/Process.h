// Child process and anonymous pipe seam: what the console runner needs to start a console
// program with redirected standard handles and to read its output without blocking.
#pragma once

#include <cstdint>
#include <string>

namespace qor::platform {

// A pipe end or process handle, native width. 0 means none. On Windows it is the HANDLE; on
// POSIX a pipe end is its descriptor + 1 (so that descriptor 0 stays usable) and a process is
// its id.
using NativeHandle = std::uintptr_t;

// Security attributes for pipe and process creation. POSIX knows no security descriptor; there
// `inheritHandle` only decides whether a pipe's write end survives exec.
struct SecurityAttributes {
    void* securityDescriptor = nullptr;
    bool inheritHandle = false;
};

// Creates an anonymous pipe. size 0: the system's default buffer size. Without attributes the
// ends are not inheritable. The read end never reaches a child. False on failure (lastError).
bool pipeCreate(std::uint32_t size, const SecurityAttributes* security, NativeHandle& readEnd,
                NativeHandle& writeEnd);

// Creates an anonymous pipe that a child reads as its standard input: the read end goes to
// processStart as stdIn (and is closed by the caller once the child runs); the write end stays
// with the caller and never reaches a child. False on failure (lastError).
bool pipeCreateToChild(NativeHandle& readEnd, NativeHandle& writeEnd);

// Number of bytes waiting in the pipe; never blocks. A pipe whose write ends are all closed
// reports 0 once drained. False when the peek failed.
bool pipePeek(NativeHandle readEnd, std::uint32_t& available);

// Reads up to count bytes (blocks only when nothing is waiting, so peek first).
bool pipeRead(NativeHandle readEnd, void* data, std::uint32_t count, std::uint32_t& received);

// Writes the whole buffer unless the call fails; `written` tells how much went out.
bool pipeWrite(NativeHandle writeEnd, const void* data, std::uint32_t count,
               std::uint32_t& written);

void handleClose(NativeHandle handle);

enum class ProcessPriority : std::uint8_t { Default, High, Normal, Idle, RealTime };

struct ProcessStartInfo {
    // The whole command line; the first argument names the program. POSIX splits it with the
    // rules of the Windows C run-time (splitCommandLine) and runs the program without a shell.
    std::string commandLine;
    std::string currentDir;  // empty: the caller's
    // Standard handles for the child. When any is set all three are passed, a 0 as "none"
    // (POSIX: /dev/null); when none is set the child inherits the caller's.
    NativeHandle stdIn = 0;
    NativeHandle stdOut = 0;
    NativeHandle stdErr = 0;
    bool visible = false;     // Windows: show the child's window
    bool newConsole = false;  // Windows: own console; POSIX: own session, no terminal
    ProcessPriority priority = ProcessPriority::Default;
    // Environment block: "name=value" strings each ended by a zero, one more zero at the end;
    // char16_t strings when unicodeEnvironment. nullptr: the caller's environment.
    const void* environment = nullptr;
    bool unicodeEnvironment = false;
    const SecurityAttributes* processAttrs = nullptr;
    const SecurityAttributes* threadAttrs = nullptr;
    // Console cosmetics (Windows only), passed on only when set.
    std::string consoleTitle;
    std::uint16_t fillAttribute = 7;
    std::int32_t bufferColumns = 0;
    std::int32_t bufferRows = 0;
    std::int32_t windowWidth = 0;
    std::int32_t windowHeight = 0;
    std::int32_t windowX = -1;
    std::int32_t windowY = -1;
};

struct ProcessInfo {
    NativeHandle process = 0;
    NativeHandle thread = 0;  // POSIX: 0
    std::uint32_t processId = 0;
    std::uint32_t threadId = 0;
};

inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Starts the child. False when it could not be started, the program not found or not
// executable included (lastError tells why); nothing is left running or open then.
bool processStart(const ProcessStartInfo& start, ProcessInfo& info);

enum class WaitResult : std::uint8_t { Ended, TimedOut, Failed };

// Waits at most timeoutMs (kWaitForever: no limit) for the child to end.
WaitResult processWait(const ProcessInfo& info, std::uint32_t timeoutMs);

// The ended child's exit code (POSIX: 128 + signal number when a signal ended it; 259 while
// it still runs, as on Windows). False when it cannot be read.
bool processExitCode(const ProcessInfo& info, std::uint32_t& exitCode);

// Ends the child at once. POSIX cannot hand over an exit code: the child dies of SIGKILL.
bool processTerminate(const ProcessInfo& info, std::uint32_t exitCode);

// Releases the handles (POSIX: reaps the child, or does so later when it still runs) and zeroes
// the record. Never ends the child.
void processClose(ProcessInfo& info);

// The calling thread's last error code and the system's text for a code.
std::uint32_t lastError();
std::string errorText(std::uint32_t code);

}  // namespace qor::platform
