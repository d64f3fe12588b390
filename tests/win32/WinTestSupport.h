// What the Windows tests share: the ports serial_peers.py made, the far end of a line played
// through plain Win32 calls, a private temporary directory, and paths of the build host.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qor::test {

using Bytes = std::vector<std::uint8_t>;

// The COM port name serial_peers.py put into the environment variable (QOR_TEST_PORT, ...);
// throws when the test was started without it.
std::string portFromEnvironment(const char* variable);

// True when the program runs under wine rather than on Windows.
bool runningUnderWine();

// A Windows path for a path of the build host (wine shows the host's root as drive Z:).
std::string hostPath(const std::string& path);

// The other end of a line: opened without the serial seam, raw 8N1, polled reads.
class PeerPort {
  public:
    explicit PeerPort(const std::string& name);
    ~PeerPort();
    PeerPort(const PeerPort&) = delete;
    PeerPort& operator=(const PeerPort&) = delete;

    // Reads until n bytes have come or the timeout has passed.
    Bytes read(std::size_t n, std::chrono::milliseconds timeout);
    void write(const Bytes& bytes);
    // Drops whatever has arrived so far.
    void discard();

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// An 8-byte answer frame: the seven bytes and their CRC-8.
Bytes answerFrame(Bytes first7);

// A fresh folder that GetTempPathW reports while the object lives (TMP points to it), so tests
// running at the same time in one wine prefix do not share the tool's fixed file names.
class ScopedTempDirectory {
  public:
    ScopedTempDirectory();
    ~ScopedTempDirectory();
    ScopedTempDirectory(const ScopedTempDirectory&) = delete;
    ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;

    // Ends with a backslash, as GetTempPathW gives it.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::wstring previousTmp_;
    bool hadTmp_ = false;
};

}  // namespace qor::test
