#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CommandLine.h"

extern char** environ;

namespace qor::platform {
namespace {

constexpr std::uint32_t kStillActive = 259;

int toFd(NativeHandle handle) {
    return static_cast<int>(handle) - 1;
}
NativeHandle fromFd(int fd) {
    return static_cast<NativeHandle>(fd) + 1;
}

pid_t toPid(const ProcessInfo& info) {
    return static_cast<pid_t>(info.process);
}

// Closes a descriptor without disturbing errno, so a failure's cause survives the clean-up.
void closeKeepingErrno(int fd) {
    if (fd >= 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
}

// A close-on-exec copy at descriptor 3 or above, so that placing the child's standard handles
// on 0, 1 and 2 cannot overwrite it. Closes the original.
int moveAboveStdio(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    closeKeepingErrno(fd);
    return moved;
}

// Children whose record was closed while they still ran: reaped once they have ended, so that
// none stays a zombie.
std::mutex& orphanMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<pid_t>& orphans() {
    static std::vector<pid_t> list;
    return list;
}

void reapOrphans() {
    const int saved = errno;
    std::lock_guard lock(orphanMutex());
    auto& list = orphans();
    std::erase_if(list, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
    errno = saved;
}

// Where the program is, found the way the parent would find it: a name with a slash as it
// stands (relative to the caller's directory), a bare name along PATH.
bool resolveProgram(const std::string& name, std::string& path) {
    if (name.empty()) {
        errno = ENOENT;
        return false;
    }
    if (name.find('/') != std::string::npos) {
        path = name;
        if (name.front() != '/') {
            char cwd[4096];
            if (getcwd(cwd, sizeof cwd) == nullptr) {
                return false;
            }
            path = std::string(cwd) + '/' + name;
        }
        return true;
    }
    const char* env = std::getenv("PATH");
    const std::string dirs = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
    int error = ENOENT;
    std::size_t begin = 0;
    while (begin <= dirs.size()) {
        std::size_t end = dirs.find(':', begin);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string dir = dirs.substr(begin, end - begin);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + '/' + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            if (access(candidate.c_str(), X_OK) == 0) {
                path = candidate;
                return true;
            }
            error = EACCES;
        }
        begin = end + 1;
    }
    errno = error;
    return false;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The strings of an environment block, UTF-16 ones turned into UTF-8.
std::vector<std::string> environmentStrings(const void* block, bool unicode) {
    std::vector<std::string> strings;
    if (unicode) {
        for (auto p = static_cast<const char16_t*>(block); *p != 0; ++p) {
            std::string s;
            for (; *p != 0; ++p) {
                char32_t c = *p;
                if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (*++p - 0xDC00);
                }
                appendUtf8(s, c);
            }
            strings.push_back(std::move(s));
        }
    } else {
        for (auto p = static_cast<const char*>(block); *p != 0; p += std::strlen(p) + 1) {
            strings.emplace_back(p);
        }
    }
    return strings;
}

int niceFor(ProcessPriority priority) {
    switch (priority) {
        case ProcessPriority::High:
            return -10;
        case ProcessPriority::Idle:
            return 19;
        case ProcessPriority::RealTime:
            return -20;
        case ProcessPriority::Normal:
        case ProcessPriority::Default:
            break;
    }
    return 0;
}

// Runs in the forked child: only async-signal-safe calls until exec. A failure writes errno
// to the status pipe, which exec would otherwise close unwritten.
[[noreturn]] void execChild(const ProcessStartInfo& start, const int (&stdio)[3], int statusFd,
                            const char* path, char* const* argv, char* const* envp) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    if (start.newConsole) {
        setsid();
    }
    if (start.priority != ProcessPriority::Default) {
        // Like Windows without the privilege for a higher class, run on when refused.
        setpriority(PRIO_PROCESS, 0, niceFor(start.priority));
    }
    bool ok = true;
    for (int target = 0; target < 3 && ok; ++target) {
        if (stdio[target] >= 0) {
            ok = dup2(stdio[target], target) >= 0;
        }
    }
    if (ok && !start.currentDir.empty()) {
        ok = chdir(start.currentDir.c_str()) == 0;
    }
    if (ok) {
        execve(path, argv, envp);
    }
    const int error = errno;
    while (write(statusFd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

}  // namespace

bool pipeCreate(std::uint32_t size, const SecurityAttributes* security, NativeHandle& readEnd,
                NativeHandle& writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    fds[0] = moveAboveStdio(fds[0]);
    fds[1] = moveAboveStdio(fds[1]);
    bool ok = fds[0] >= 0 && fds[1] >= 0;
    if (ok && security != nullptr && security->inheritHandle) {
        ok = fcntl(fds[1], F_SETFD, 0) == 0;
    }
#ifdef F_SETPIPE_SZ
    if (ok && size > 0) {
        // The kernel rounds up to whole pages; a refusal (above the user limit) keeps the
        // default, as Windows treats the size as a suggestion.
        fcntl(fds[0], F_SETPIPE_SZ, static_cast<int>(std::min<std::uint32_t>(size, 1u << 20)));
    }
#endif
    if (!ok) {
        closeKeepingErrno(fds[0]);
        closeKeepingErrno(fds[1]);
        return false;
    }
    readEnd = fromFd(fds[0]);
    writeEnd = fromFd(fds[1]);
    return true;
}

bool pipeCreateToChild(NativeHandle& readEnd, NativeHandle& writeEnd) {
    // Both ends close on exec; processStart places the read end on the child's descriptor 0.
    return pipeCreate(0, nullptr, readEnd, writeEnd);
}

bool pipePeek(NativeHandle readEnd, std::uint32_t& available) {
    int n = 0;
    if (ioctl(toFd(readEnd), FIONREAD, &n) != 0) {
        return false;
    }
    available = static_cast<std::uint32_t>(n);
    return true;
}

bool pipeRead(NativeHandle readEnd, void* data, std::uint32_t count, std::uint32_t& received) {
    received = 0;
    ssize_t n = 0;
    do {
        n = read(toFd(readEnd), data, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return false;
    }
    received = static_cast<std::uint32_t>(n);
    return true;
}

bool pipeWrite(NativeHandle writeEnd, const void* data, std::uint32_t count,
               std::uint32_t& written) {
    written = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (written < count) {
        const ssize_t n = write(toFd(writeEnd), bytes + written, count - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::uint32_t>(n);
    }
    return true;
}

void handleClose(NativeHandle handle) {
    if (handle != 0) {
        close(toFd(handle));
    }
}

bool processStart(const ProcessStartInfo& start, ProcessInfo& info) {
    info = {};
    reapOrphans();

    std::vector<std::string> args = splitCommandLine(start.commandLine);
    std::string path;
    if (!resolveProgram(args.empty() ? std::string() : args.front(), path)) {
        return false;
    }
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    std::vector<char*> envp;
    if (start.environment != nullptr) {
        envStrings = environmentStrings(start.environment, start.unicodeEnvironment);
        for (auto& s : envStrings) {
            envp.push_back(s.data());
        }
        envp.push_back(nullptr);
    }

    // Everything the child needs is prepared here: after fork it may only place descriptors.
    int stdio[3] = {-1, -1, -1};
    int status[2] = {-1, -1};
    auto cleanUp = [&] {
        for (int& fd : stdio) {
            closeKeepingErrno(fd);
        }
        closeKeepingErrno(status[0]);
        closeKeepingErrno(status[1]);
    };
    const NativeHandle given[3] = {start.stdIn, start.stdOut, start.stdErr};
    const bool redirect = given[0] != 0 || given[1] != 0 || given[2] != 0;
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
        if (given[i] != 0) {
            stdio[i] = fcntl(toFd(given[i]), F_DUPFD_CLOEXEC, 3);
        } else if (redirect || start.newConsole) {
            stdio[i] =
                moveAboveStdio(open("/dev/null", (i == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC));
        } else {
            continue;
        }
        ok = stdio[i] >= 0;
    }
    ok = ok && pipe2(status, O_CLOEXEC) == 0;
    if (ok) {
        status[0] = moveAboveStdio(status[0]);
        status[1] = moveAboveStdio(status[1]);
        ok = status[0] >= 0 && status[1] >= 0;
    }
    if (!ok) {
        cleanUp();
        return false;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        execChild(start, stdio, status[1], path.c_str(), argv.data(),
                  envp.empty() ? environ : envp.data());
    }
    if (pid < 0) {
        cleanUp();
        return false;
    }
    closeKeepingErrno(status[1]);
    status[1] = -1;
    int childError = 0;
    ssize_t n = 0;
    do {
        n = read(status[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    cleanUp();
    if (n == static_cast<ssize_t>(sizeof childError)) {
        // exec (or chdir) failed: the child has ended itself already.
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        errno = childError;
        return false;
    }
    info.process = static_cast<NativeHandle>(pid);
    info.processId = static_cast<std::uint32_t>(pid);
    return true;
}

WaitResult processWait(const ProcessInfo& info, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        siginfo_t si{};
        // WNOWAIT keeps the child a zombie so that its exit code and id stay ours.
        if (waitid(P_PID, static_cast<id_t>(toPid(info)), &si, WEXITED | WNOHANG | WNOWAIT) != 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::Failed;
        }
        if (si.si_pid != 0) {
            return WaitResult::Ended;
        }
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
        if (timeoutMs != kWaitForever && waited.count() >= timeoutMs) {
            return WaitResult::TimedOut;
        }
        auto step = pause;
        if (timeoutMs != kWaitForever) {
            step = std::min(step, std::chrono::milliseconds(timeoutMs) - waited);
        }
        std::this_thread::sleep_for(step);
        pause = std::min(pause * 2, std::chrono::milliseconds(16));
    }
}

bool processExitCode(const ProcessInfo& info, std::uint32_t& exitCode) {
    siginfo_t si{};
    int rc = 0;
    do {
        rc = waitid(P_PID, static_cast<id_t>(toPid(info)), &si, WEXITED | WNOHANG | WNOWAIT);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return false;
    }
    if (si.si_pid == 0) {
        exitCode = kStillActive;
    } else if (si.si_code == CLD_EXITED) {
        exitCode = static_cast<std::uint32_t>(si.si_status);
    } else {
        exitCode = 128u + static_cast<std::uint32_t>(si.si_status);
    }
    return true;
}

bool processTerminate(const ProcessInfo& info, std::uint32_t /*exitCode*/) {
    return kill(toPid(info), SIGKILL) == 0;
}

void processClose(ProcessInfo& info) {
    const pid_t pid = toPid(info);
    info = {};
    if (pid <= 0) {
        return;
    }
    const int saved = errno;
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        // Still running (or, just killed, not yet gone): reaped by a later start or close.
        std::lock_guard lock(orphanMutex());
        orphans().push_back(pid);
    }
    errno = saved;
    reapOrphans();
}

std::uint32_t lastError() {
    return static_cast<std::uint32_t>(errno);
}

namespace {
// strerror_r comes in two flavours; each overload picks the text from its result.
[[maybe_unused]] const char* strerrorResult(int, const char* buffer) {
    return buffer;
}
[[maybe_unused]] const char* strerrorResult(const char* text, const char*) {
    return text;
}
}  // namespace

std::string errorText(std::uint32_t code) {
    char buffer[256] = {};
    return strerrorResult(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
}

}  // namespace qor::platform
