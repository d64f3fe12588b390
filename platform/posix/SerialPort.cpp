#include "platform/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qor::platform {
namespace {

using Clock = std::chrono::steady_clock;

int toFd(SerialHandle handle) {
    return handle == kInvalidSerialHandle ? -1 : static_cast<int>(handle);
}

bool speedFor(std::int32_t baudRate, speed_t& speed) {
    switch (baudRate) {
        case 1200:
            speed = B1200;
            return true;
        case 2400:
            speed = B2400;
            return true;
        case 4800:
            speed = B4800;
            return true;
        case 9600:
            speed = B9600;
            return true;
        case 19200:
            speed = B19200;
            return true;
        case 38400:
            speed = B38400;
            return true;
        case 57600:
            speed = B57600;
            return true;
        case 115200:
            speed = B115200;
            return true;
        case 230400:
            speed = B230400;
            return true;
        case 460800:
            speed = B460800;
            return true;
        case 921600:
            speed = B921600;
            return true;
        default:
            return false;
    }
}

bool configure(int fd, std::int32_t baudRate) {
    speed_t speed{};
    if (!speedFor(baudRate, speed)) {
        return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// DTR up, RTS down. A device without modem lines (a pseudo-terminal) says ENOTTY or EINVAL;
// that is accepted, any other failure is not.
bool setModemLines(int fd) {
    int dtr = TIOCM_DTR;
    if (ioctl(fd, TIOCMBIS, &dtr) != 0) {
        return errno == ENOTTY || errno == EINVAL;
    }
    int rts = TIOCM_RTS;
    return ioctl(fd, TIOCMBIC, &rts) == 0;
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

enum class Wait { Readable, TimedOut, Gone };

// Waits for fd to become readable until the deadline. Called after a read found nothing: a
// device that has gone away (hung up) then stays "readable" with nothing to read, which would
// keep a reader spinning, so it counts as a failed read. A failed poll is left to the next read.
Wait waitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, remainingMs(deadline));
        if (r > 0) {
            return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? Wait::Gone : Wait::Readable;
        }
        if (r == 0) {
            return Wait::TimedOut;
        }
        if (errno != EINTR) {
            return Wait::Readable;
        }
    }
}

}  // namespace

SerialHandle serialOpen(const std::string& name, std::int32_t baudRate) {
    if (name.empty()) {
        return kInvalidSerialHandle;
    }
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return kInvalidSerialHandle;
    }
    // Exclusive: flock keeps out every process that locks too (root included), TIOCEXCL keeps
    // out the plain openers that come after us.
    const bool ok = isatty(fd) == 1 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                    ioctl(fd, TIOCEXCL) == 0 && configure(fd, baudRate) && setModemLines(fd);
    if (!ok) {
        ::close(fd);
        return kInvalidSerialHandle;
    }
    return static_cast<SerialHandle>(fd);
}

bool serialClearError(SerialHandle handle) {
    termios tio{};
    return tcgetattr(toFd(handle), &tio) == 0;
}

bool serialPurge(SerialHandle handle) {
    return tcflush(toFd(handle), TCIOFLUSH) == 0;
}

bool serialWrite(SerialHandle handle, const void* data, std::uint32_t count,
                 std::uint32_t& written) {
    written = 0;
    const int fd = toFd(handle);
    if (fd < 0) {
        return false;
    }
    // Like the Windows port: 1 ms per byte, plus room for the driver to take the first bytes.
    const auto deadline = Clock::now() + std::chrono::milliseconds(100 + count);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (written < count) {
        const ssize_t n = ::write(fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        const int left = remainingMs(deadline);
        if (left == 0) {
            break;
        }
        if (poll(&p, 1, left) < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool serialRead(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t& received) {
    received = 0;
    const int fd = toFd(handle);
    if (fd < 0) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(200 + count);
    auto* bytes = static_cast<unsigned char*>(data);
    while (received < count) {
        const ssize_t n = ::read(fd, bytes + received, count - received);
        if (n > 0) {
            received += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const Wait wait = waitReadable(fd, deadline);
        if (wait == Wait::Gone) {
            return false;
        }
        if (wait == Wait::TimedOut) {
            break;
        }
    }
    return true;
}

bool serialReadSome(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t timeoutMs,
                    std::uint32_t& received) {
    received = 0;
    const int fd = toFd(handle);
    if (fd < 0) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const ssize_t n = ::read(fd, data, count);
        if (n >= 0 && (n > 0 || count == 0)) {
            received = static_cast<std::uint32_t>(n);
            return true;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const Wait wait = waitReadable(fd, deadline);
        if (wait != Wait::Readable) {
            return wait == Wait::TimedOut;
        }
    }
}

void serialClose(SerialHandle handle) {
    const int fd = toFd(handle);
    if (fd >= 0) {
        // A device that stays open elsewhere (a pseudo-terminal's other side) would otherwise
        // keep refusing the next opener.
        ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
}

}  // namespace qor::platform
