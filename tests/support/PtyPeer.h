// A pseudo-terminal whose master side the test drives: it plays the device on the other end of
// the serial line the code under test opens by the slave's path.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qor::test {

class PtyPeer {
  public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // Path of the slave side, what the code under test opens.
    const std::string& path() const { return path_; }
    int masterFd() const { return master_; }

    // Reads exactly n bytes or fewer when timeout passes.
    std::vector<std::uint8_t> read(std::size_t n, std::chrono::milliseconds timeout);
    // Reads whatever arrives until the line has been quiet for `quiet`.
    std::vector<std::uint8_t> readUntilQuiet(std::chrono::milliseconds quiet,
                                             std::chrono::milliseconds limit);
    void write(const std::vector<std::uint8_t>& bytes);

    // Line speed the slave side was set to (the peer sees what the host configured).
    speed_t speed() const;

  private:
    int master_ = -1;
    int keepSlave_ = -1;  // keeps the pair alive while the code under test closes and reopens
    std::string path_;
};

// Builds an 8-byte answer frame with a correct CRC-8 in byte 7.
std::vector<std::uint8_t> answerFrame(std::vector<std::uint8_t> first7);

}  // namespace qor::test
