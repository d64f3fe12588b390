// The logger's command link: 8-byte frames at 9600 baud with CRC-8/MAXIM, commands 1, 2 and 3.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "tools/sim/DeviceContext.h"
#include "tools/sim/SimConfig.h"

namespace qor::sim {

class LoggerLink {
  public:
    // identity is read at every answer, so a module update shows up at once.
    LoggerLink(const Identity& identity, const std::vector<LinkFault>& faults, DeviceContext& ctx)
        : identity_(identity), faults_(faults), ctx_(ctx) {}

    // Bytes the logger received at its own line speed.
    void onByte(std::uint8_t byte, Clock::time_point at);
    // Bytes that arrived at another speed: line noise that breaks the frame in progress.
    void onNoise();

    // True once after command 2 was answered: the logger now passes its line through.
    bool takePassThroughRequest();
    // Counts answers sent (the --once logic waits for one after an update).
    std::uint64_t answersSent() const { return answers_; }

  private:
    void handleFrame();
    // The answer's 7 bytes before the CRC, or nothing for a frame the logger ignores.
    std::optional<std::vector<std::uint8_t>> answerFor(const std::uint8_t* frame) const;
    struct Attempt {
        std::uint8_t code;
        std::uint8_t selector;
        std::uint32_t ofCode;      // how many frames of this command so far, this one included
        std::uint32_t ofSelector;  // likewise for command 3 with this selector
    };
    const LinkFault* faultFor(LinkFaultKind kind, const Attempt& attempt) const;
    void sendAnswer(std::vector<std::uint8_t> answer, const Attempt& attempt);

    const Identity& identity_;
    const std::vector<LinkFault>& faults_;
    DeviceContext& ctx_;
    std::vector<std::uint8_t> frame_;
    Clock::time_point lastByteAt_{};
    // Valid frames received per command and per (command 3, selector).
    std::map<std::uint8_t, std::uint32_t> attemptsByCode_;
    std::map<std::uint8_t, std::uint32_t> attemptsBySelector_;
    bool passThroughRequested_ = false;
    std::uint64_t answers_ = 0;
};

}  // namespace qor::sim
