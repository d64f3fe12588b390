#include "tools/sim/PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace qor::sim {
namespace {

int baudOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        default:
            return 0;
    }
}

}  // namespace

PtyLine::PtyLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        close();
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    // Raw 9600 8N1 until the host sets its own line.
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(master_, TCSANOW, &tio);
    holder_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Watched only after the holder is open, so that the count is the host's alone.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (holder_ < 0 || watch_ < 0 ||
        inotify_add_watch(watch_, slavePath_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        close();
        throw std::runtime_error("cannot watch the pseudo-terminal " + slavePath_);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyLine::~PtyLine() {
    close();
}

void PtyLine::link(const std::string& path) {
    // Only a symlink is replaced: anything else at the path is not ours to delete.
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            throw std::runtime_error(path + " exists and is not a symlink");
        }
    }
    // Made beside the path and renamed over it, so the path never stands empty for a moment
    // in which someone else could take it.
    const std::string fresh = path + ".qor-sim-" + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    if (::symlink(slavePath_.c_str(), fresh.c_str()) != 0 ||
        ::rename(fresh.c_str(), path.c_str()) != 0) {
        ::unlink(fresh.c_str());
        throw std::runtime_error("cannot create the link " + path);
    }
    linkPath_ = path;
}

std::vector<bool> PtyLine::openStateChanges() {
    std::vector<bool> changes;
    if (watch_ < 0) {
        return changes;
    }
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_OPEN) && ++opens_ == 1) {
                changes.push_back(true);
            }
            if ((event->mask & IN_CLOSE) && opens_ > 0 && --opens_ == 0) {
                changes.push_back(false);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return changes;
}

int PtyLine::hostBaud() const {
    termios tio{};
    if (master_ < 0 || tcgetattr(master_, &tio) != 0) {
        return 0;
    }
    return baudOf(cfgetispeed(&tio));
}

void PtyLine::releaseExclusive() {
    if (holder_ >= 0) {
        ioctl(holder_, TIOCNXCL);
    }
}

void PtyLine::discardUnread() {
    if (holder_ >= 0) {
        tcflush(holder_, TCIFLUSH);
    }
}

std::vector<std::uint8_t> PtyLine::read() {
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

std::size_t PtyLine::write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    int idleRounds = 0;
    while (done < bytes.size() && master_ >= 0) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        // The host does not read: wait a little for room, then give up on the rest.
        if (++idleRounds > 50) {
            break;
        }
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 10);
    }
    return done;
}

void PtyLine::close() {
    if (!linkPath_.empty()) {
        ::unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    for (int* fd : {&watch_, &holder_, &master_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    opens_ = 0;
}

}  // namespace qor::sim
