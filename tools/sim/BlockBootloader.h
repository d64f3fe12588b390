// The radio module's block bootloader: a power-on report once the host listens at 57600 baud,
// then announce, write-block and finish commands in long frames with CRC-16/X-25, each answered
// with a status (10 accepted, 11 refused).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "tools/sim/DeviceContext.h"
#include "tools/sim/SimConfig.h"

namespace qor::sim {

// The version the module reports after a block-bootloader update unless configured otherwise.
inline constexpr std::uint16_t kBlockImageVersion = 0x0205;

class BlockBootloader {
  public:
    BlockBootloader(const Identity& identity, const PowerOnReport& report,
                    const std::vector<BlockFault>& faults, DeviceContext& ctx)
        : identity_(identity), report_(report), faults_(faults), ctx_(ctx) {}

    // The module was switched into its bootloader: it reports as soon as the host listens.
    void start();
    bool reportPending() const { return reportPending_; }
    void sendReport();

    void onByte(std::uint8_t byte, Clock::time_point at);
    // The module was reset: whatever was under way is gone.
    void reset();

  private:
    void handleFrame();
    void handleCommand(const std::vector<std::uint8_t>& data);
    void answer(std::uint8_t command, std::uint8_t status, Micros after);
    const BlockFault* faultFor(BlockFaultKind kind, std::uint8_t command,
                               std::uint32_t attempt) const;

    const Identity& identity_;
    const PowerOnReport& report_;
    const std::vector<BlockFault>& faults_;
    DeviceContext& ctx_;

    bool reportPending_ = false;
    bool awaitingAck_ = false;
    std::uint8_t reportHeader_ = 0;

    std::vector<std::uint8_t> frame_;
    std::size_t frameLength_ = 0;  // 0 until the header tells
    bool discarding_ = false;      // an oversized frame: skip until the line pauses
    Clock::time_point lastByteAt_{};

    bool announced_ = false;
    std::uint32_t length_ = 0;
    std::uint32_t written_ = 0;
    std::uint32_t lastOffset_ = 0;
    std::uint32_t lastCount_ = 0;
    bool anyBlock_ = false;
    std::map<std::uint8_t, std::uint32_t> attempts_;
};

}  // namespace qor::sim
