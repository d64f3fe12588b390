// The longest an update run may take on a given path, summed from the run's own fixed timings:
// the reset frames and the first pause, the command link's read time-out and retries, the port
// release before the DFU tool and the tool's time limit, the block bootloader's answer deadlines,
// and the restart waits. A fault matrix case adds up the stages its run passes through.
#pragma once

#include <cstdint>

namespace qor::test {

class RunBudget {
  public:
    // Command link (9600 baud): an 8-byte write may take 8 ms, an 8-byte read waits at most
    // 200 ms + 8 ms, failed attempts are 100 ms apart, five attempts in all.
    static constexpr std::uint32_t kFrameWrite = 8;
    static constexpr std::uint32_t kAnswerWait = 208;
    static constexpr std::uint32_t kRetryPause = 100;
    static constexpr std::uint32_t kAttempts = 5;
    static constexpr std::uint32_t kResetPause = 100;
    static constexpr std::uint32_t kFirstCommandPause = 2000;
    // The DFU tool: one second for the port to be released, then at most the runner's limit.
    static constexpr std::uint32_t kPortRelease = 1000;
    static constexpr std::uint32_t kToolLimit = 60000;
    // Restart waits after a transfer, in one-second steps.
    static constexpr std::uint32_t kDfuRestart = 8 * 1000;
    static constexpr std::uint32_t kBlockRestart = 25 * 1000;
    // Block bootloader (57600 baud): a read waits 200 ms + 1 ms per byte asked for, a frame comes
    // in at most three reads, every frame sent is followed by 5 ms; an answer has 10 s.
    static constexpr std::uint32_t kBlockReadWait = 200;
    static constexpr std::uint32_t kBlockReadsPerFrame = 3;
    static constexpr std::uint32_t kFramePause = 5;
    static constexpr std::uint32_t kBlockDeadline = 10000;
    static constexpr std::uint32_t kBlockAttempts = 3;
    static constexpr std::uint32_t kAnswerFrame = 6;      // long frame with a status byte
    static constexpr std::uint32_t kLargestFrame = 1034;  // a write-block with 1024 bytes
    static constexpr std::uint32_t kShortFrameMax = 258;  // what a power-on report can be
    static constexpr std::uint32_t kBlockSize = 1024;

    constexpr std::uint32_t ms() const { return total_; }

    // The two reset frames with their pauses, and the pause before the first command.
    constexpr RunBudget start() const {
        return plus(2 * (kFrameWrite + kResetPause) + kFirstCommandPause);
    }
    // One command answered after `failedAttempts` attempts that got no valid answer.
    constexpr RunBudget command(std::uint32_t failedAttempts = 0) const {
        return plus(failedAttempts * (kFrameWrite + kAnswerWait + kRetryPause) + kFrameWrite +
                    kAnswerWait);
    }
    constexpr RunBudget commands(std::uint32_t count) const {
        return count == 0 ? *this : command().commands(count - 1);
    }
    // A command that gets no valid answer at all: five attempts, four pauses.
    constexpr RunBudget unanswered() const {
        return plus(kAttempts * (kFrameWrite + kAnswerWait) + (kAttempts - 1) * kRetryPause);
    }
    // Logger identity, module hardware, module firmware and its platform.
    constexpr RunBudget identification() const { return commands(4); }

    // Pass-through switch, port release, the tool at most as long as its limit allows.
    constexpr RunBudget dfuTransfer() const { return command().plus(kPortRelease + kToolLimit); }
    constexpr RunBudget dfuRestart() const { return plus(kDfuRestart); }

    // One block frame sent (0 bytes for none) and its answer arriving at once.
    constexpr RunBudget blockExchange(std::uint32_t sent, std::uint32_t answer) const {
        return plus(sent + (sent > 0 ? kFramePause : 0) + kBlockReadsPerFrame * kBlockReadWait +
                    answer);
    }
    // An answer that does not come: the deadline, then the pass that finds it passed.
    constexpr RunBudget blockDeadline() const {
        return plus(kBlockDeadline + kBlockReadWait + kLargestFrame);
    }
    // Pass-through switch, power-on report and its acknowledgement, announce, the blocks of an
    // image of `length` bytes and finish, every answer coming at once.
    constexpr RunBudget blockTransfer(std::uint32_t length) const {
        RunBudget b = command().blockExchange(0, kShortFrameMax).plus(3 + kFramePause);
        b = b.blockExchange(14, kAnswerFrame);
        std::uint32_t left = length;
        do {
            const std::uint32_t count = left < kBlockSize ? left : kBlockSize;
            b = b.blockExchange(count + 10, kAnswerFrame);
            left -= count;
        } while (left != 0);
        return b.blockExchange(6, kAnswerFrame);
    }
    constexpr RunBudget blockRestart() const { return plus(kBlockRestart); }

    // Room for a loaded machine (sanitizer builds, other test processes on two cores).
    constexpr std::uint32_t withMargin() const { return total_ + total_ / 4 + 3000; }

    constexpr RunBudget plus(std::uint32_t milliseconds) const {
        RunBudget b = *this;
        b.total_ += milliseconds;
        return b;
    }

  private:
    std::uint32_t total_ = 0;
};

}  // namespace qor::test
