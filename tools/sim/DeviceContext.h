// What the simulated device's protocol handlers may do: put bytes on the line, note events in
// the transcript, restart the radio module. The simulator implements it; handlers stay free of
// I/O and clocks so they can be driven step by step.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/SimConfig.h"

namespace qor::sim {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

class DeviceContext {
  public:
    virtual ~DeviceContext() = default;

    // Queues bytes for the host. They start `after` from the moment the handler is working at
    // (processing or flash time), and never before earlier bytes have left.
    virtual void send(std::vector<std::uint8_t> bytes, Micros after = Micros{0}) = 0;
    // A line of text in the transcript.
    virtual void note(const std::string& text) = 0;
    // The radio module restarts `after` from now (once queued bytes have left): pass-through
    // ends, and the module runs `firmware` if given, else what it ran before.
    virtual void restartModule(std::optional<ModuleFirmware> firmware, Micros after) = 0;
    // Whether bytes and flash take real time.
    virtual bool realtime() const = 0;
    // The moment the handler is working at: the arrival of the byte being handled.
    virtual Clock::time_point now() const = 0;
};

// Flash timing of the radio module's nRF52 (data sheet figures): a 4096-byte page erase takes
// 85 ms and each 32-bit word write 41 us, so a 4096-byte object costs about 127 ms of flash
// work. Used only in real-time mode.
inline constexpr std::uint32_t kFlashPageSize = 4096;
inline constexpr Micros kPageEraseTime{85'000};
inline constexpr Micros kWordWriteTime{41};

constexpr Micros flashWriteTime(std::size_t bytes) {
    return kWordWriteTime * static_cast<std::int64_t>((bytes + 3) / 4);
}

constexpr Micros flashEraseTime(std::size_t bytes) {
    return kPageEraseTime *
           static_cast<std::int64_t>((bytes + kFlashPageSize - 1) / kFlashPageSize);
}

// The version word of a Nordic fw_version (major * 10000 + minor * 100): 20500 is 0x0205.
constexpr std::uint16_t versionWordOf(std::uint32_t fwVersion) {
    return static_cast<std::uint16_t>(((fwVersion / 10000) & 0xFF) << 8 |
                                      ((fwVersion / 100) % 100));
}

// The other way round, for the installed firmware's version as the bootloader compares it.
constexpr std::uint32_t fwVersionOf(std::uint16_t versionWord) {
    return (versionWord >> 8) * 10000u + (versionWord & 0xFFu) * 100u;
}

}  // namespace qor::sim
