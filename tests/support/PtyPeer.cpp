#include "tests/support/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "engine/CommThread.h"

namespace qor::test {

PtyPeer::PtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    path_ = ptsname(master_);
    // Raw on the peer's side too, so bytes pass unchanged in both directions.
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    // Held with O_PATH only: the pair survives the host closing its side, yet the holder takes
    // no part in reads, writes, locks or exclusivity.
    keepSlave_ = ::open(path_.c_str(), O_PATH | O_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() {
    if (keepSlave_ >= 0) {
        ::close(keepSlave_);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

std::vector<std::uint8_t> PtyPeer::read(std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n) {
        std::uint8_t buf[4096];
        const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
        if (got > 0) {
            out.insert(out.end(), buf, buf + got);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        if (got < 0 && errno == EIO) {
            // Nobody has the slave open: the master reports a hang-up at once, so wait a little.
            usleep(2000);
            continue;
        }
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left, 20)));
    }
    return out;
}

std::vector<std::uint8_t> PtyPeer::readUntilQuiet(std::chrono::milliseconds quiet,
                                                  std::chrono::milliseconds limit) {
    std::vector<std::uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        auto more = read(4096, quiet);
        if (more.empty()) {
            break;
        }
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

void PtyPeer::write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 20);
        }
    }
}

speed_t PtyPeer::speed() const {
    termios tio{};
    tcgetattr(master_, &tio);
    return cfgetospeed(&tio);
}

std::vector<std::uint8_t> answerFrame(std::vector<std::uint8_t> first7) {
    first7.resize(7);
    first7.push_back(calculateCRC8(first7.data(), 7));
    return first7;
}

}  // namespace qor::test
