#include "platform/Process.h"

#include <windows.h>

#include <vector>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

HANDLE toHandle(NativeHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
NativeHandle fromHandle(HANDLE handle) {
    return reinterpret_cast<NativeHandle>(handle);
}

// The Win32 record for our attributes; nullptr for none.
SECURITY_ATTRIBUTES* toWin32(const SecurityAttributes* in, SECURITY_ATTRIBUTES& out) {
    if (in == nullptr) {
        return nullptr;
    }
    out = {};
    out.nLength = sizeof(SECURITY_ATTRIBUTES);
    out.lpSecurityDescriptor = in->securityDescriptor;
    out.bInheritHandle = in->inheritHandle ? TRUE : FALSE;
    return &out;
}

DWORD priorityClass(ProcessPriority priority) {
    switch (priority) {
        case ProcessPriority::High:
            return HIGH_PRIORITY_CLASS;
        case ProcessPriority::Normal:
            return NORMAL_PRIORITY_CLASS;
        case ProcessPriority::Idle:
            return IDLE_PRIORITY_CLASS;
        case ProcessPriority::RealTime:
            return REALTIME_PRIORITY_CLASS;
        case ProcessPriority::Default:
            break;
    }
    return 0;
}

void closeKeepingError(HANDLE handle) {
    if (handle != nullptr) {
        const DWORD saved = GetLastError();
        CloseHandle(handle);
        SetLastError(saved);
    }
}

// childReads: a child gets the read end (its input), otherwise the write end (its output). The
// other end is kept from every child: an inherited copy would keep the pipe open after the
// child has ended.
bool createPipe(std::uint32_t size, SECURITY_ATTRIBUTES* attributes, bool childReads,
                NativeHandle& readEnd, NativeHandle& writeEnd) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, attributes, size)) {
        return false;
    }
    if (!SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0)) {
        closeKeepingError(read);
        closeKeepingError(write);
        return false;
    }
    readEnd = fromHandle(read);
    writeEnd = fromHandle(write);
    return true;
}

}  // namespace

bool pipeCreate(std::uint32_t size, const SecurityAttributes* security, NativeHandle& readEnd,
                NativeHandle& writeEnd) {
    SECURITY_ATTRIBUTES attributes;
    return createPipe(size, toWin32(security, attributes), false, readEnd, writeEnd);
}

bool pipeCreateToChild(NativeHandle& readEnd, NativeHandle& writeEnd) {
    const SecurityAttributes inheritable{nullptr, true};
    SECURITY_ATTRIBUTES attributes;
    return createPipe(0, toWin32(&inheritable, attributes), true, readEnd, writeEnd);
}

bool pipePeek(NativeHandle readEnd, std::uint32_t& available) {
    DWORD n = 0;
    if (!PeekNamedPipe(toHandle(readEnd), nullptr, 0, nullptr, &n, nullptr)) {
        // Every write end closed and nothing left: as on POSIX, simply nothing waiting.
        if (GetLastError() != ERROR_BROKEN_PIPE) {
            return false;
        }
        n = 0;
    }
    available = n;
    return true;
}

bool pipeRead(NativeHandle readEnd, void* data, std::uint32_t count, std::uint32_t& received) {
    DWORD n = 0;
    const BOOL ok = ReadFile(toHandle(readEnd), data, count, &n, nullptr);
    received = n;
    return ok != FALSE;
}

bool pipeWrite(NativeHandle writeEnd, const void* data, std::uint32_t count,
               std::uint32_t& written) {
    DWORD n = 0;
    const BOOL ok = WriteFile(toHandle(writeEnd), data, count, &n, nullptr);
    written = n;
    return ok != FALSE;
}

void handleClose(NativeHandle handle) {
    if (handle != 0) {
        CloseHandle(toHandle(handle));
    }
}

bool processStart(const ProcessStartInfo& start, ProcessInfo& info) {
    info = {};
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::wstring commandLine = widen(start.commandLine);
    commandLine.push_back(L'\0');
    std::wstring title = widen(start.consoleTitle);
    const std::wstring currentDir = widen(start.currentDir);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEFILLATTRIBUTE;
    si.wShowWindow = static_cast<WORD>(start.visible ? SW_SHOWNORMAL : SW_HIDE);
    si.dwFillAttribute = start.fillAttribute;
    if (start.stdIn != 0 || start.stdOut != 0 || start.stdErr != 0) {
        si.dwFlags |= STARTF_USESTDHANDLES;
        si.hStdInput = toHandle(start.stdIn);
        si.hStdOutput = toHandle(start.stdOut);
        si.hStdError = toHandle(start.stdErr);
    }
    if (!title.empty()) {
        si.lpTitle = title.data();
    }
    if (start.bufferColumns != 0 || start.bufferRows != 0) {
        si.dwFlags |= STARTF_USECOUNTCHARS;
        si.dwXCountChars = static_cast<DWORD>(start.bufferColumns);
        si.dwYCountChars = static_cast<DWORD>(start.bufferRows);
    }
    if (start.windowWidth != 0 || start.windowHeight != 0) {
        si.dwFlags |= STARTF_USESIZE;
        si.dwXSize = static_cast<DWORD>(start.windowWidth);
        si.dwYSize = static_cast<DWORD>(start.windowHeight);
    }
    if (start.windowX != -1 || start.windowY != -1) {
        si.dwFlags |= STARTF_USEPOSITION;
        si.dwX = static_cast<DWORD>(start.windowX);
        si.dwY = static_cast<DWORD>(start.windowY);
    }

    DWORD flags = priorityClass(start.priority);
    if (start.newConsole) {
        flags |= CREATE_NEW_CONSOLE;
    }
    if (start.unicodeEnvironment) {
        flags |= CREATE_UNICODE_ENVIRONMENT;
    }

    SECURITY_ATTRIBUTES processAttrs;
    SECURITY_ATTRIBUTES threadAttrs;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), toWin32(start.processAttrs, processAttrs),
                        toWin32(start.threadAttrs, threadAttrs), TRUE, flags,
                        const_cast<void*>(start.environment),
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
        return false;
    }
    info.process = fromHandle(pi.hProcess);
    info.thread = fromHandle(pi.hThread);
    info.processId = pi.dwProcessId;
    info.threadId = pi.dwThreadId;
    return true;
}

WaitResult processWait(const ProcessInfo& info, std::uint32_t timeoutMs) {
    switch (WaitForSingleObject(toHandle(info.process), timeoutMs)) {
        case WAIT_OBJECT_0:
            return WaitResult::Ended;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
    }
}

bool processExitCode(const ProcessInfo& info, std::uint32_t& exitCode) {
    DWORD code = 0;
    if (!GetExitCodeProcess(toHandle(info.process), &code)) {
        return false;
    }
    exitCode = code;
    return true;
}

bool processTerminate(const ProcessInfo& info, std::uint32_t exitCode) {
    return TerminateProcess(toHandle(info.process), exitCode) != FALSE;
}

void processClose(ProcessInfo& info) {
    closeKeepingError(toHandle(info.thread));
    closeKeepingError(toHandle(info.process));
    info = {};
}

std::uint32_t lastError() {
    return GetLastError();
}

std::string errorText(std::uint32_t code) {
    return systemErrorText(code);
}

}  // namespace qor::platform
