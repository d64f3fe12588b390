// The simulator's end of the serial line: the master of a pseudo-terminal whose slave the host
// opens as its serial port.
//
// Linux specifics it relies on and hides: termios calls on the master act on the slave, so the
// master learns the speed the host set; opens and closes of the slave are seen through
// inotify; the pair is kept alive by an open slave descriptor that the simulator never reads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qor::sim {

class PtyLine {
  public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    int watchFd() const { return watch_; }

    // Also reachable as `path`: a symlink, replacing an older symlink there (anything else
    // there is an error); removed on close().
    void link(const std::string& path);

    // Reads the open and close events of the slave; returns each change of the host's open
    // state in order (true: the host opened the port, false: its last opener closed it).
    std::vector<bool> openStateChanges();
    bool hostOpen() const { return opens_ > 0; }

    // The speed the host set on its side, in baud (0 when unknown).
    int hostBaud() const;

    // A real port forgets its exclusive flag and its unread input when the last opener closes
    // it; a pseudo-terminal kept alive keeps both. These put that right.
    void releaseExclusive();
    void discardUnread();

    // Reads what the host sent (nonblocking); empty when nothing is there.
    std::vector<std::uint8_t> read();
    // Writes the bytes; returns how many went out (fewer when the host stopped reading).
    std::size_t write(std::span<const std::uint8_t> bytes);

    // The port vanishes: the pseudo-terminal and the symlink go away.
    void close();

  private:
    int master_ = -1;
    int holder_ = -1;  // keeps the pair alive while the host has the port closed
    int watch_ = -1;
    int opens_ = 0;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace qor::sim
