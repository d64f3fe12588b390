// The transcript: every byte each way with its time on the line and the device's state.
//
// One line per chunk of bytes or per event, fields separated by one blank:
//   <time> <dir> <state> <baud> <payload>
// time    microseconds since the simulator started; for bytes, when the first of them was on
//         the line (rx: when it arrived, tx: when it started to leave)
// dir     rx (host to device), tx (device to host), ev (an event; the payload is text)
// state   logger (command link), nordic or block (pass-through to that bootloader), restart
//         (the radio module is restarting), gone (the port vanished)
// baud    for rx the speed the host had set, for tx the device's speed, "-" for ev
// payload bytes as two upper-case hex digits each, separated by blanks; or the event's text
// Lines starting with '#' are comments. Lines are in the order the simulator handled them.
// With line faults, rx lines show what the host sent and tx lines what the host gets; events
// "line: rx byte N lost XX", "line: rx byte N damaged XX -> YY" and "line: tx byte N damaged
// XX -> YY" name each byte that was damaged or lost on the way (N counts from 0 each way).
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace qor::sim {

std::string hexBytes(std::span<const std::uint8_t> bytes);

class Transcript {
  public:
    // Writes to out (not owned); nullptr: writes nothing.
    explicit Transcript(std::ostream* out, std::chrono::steady_clock::time_point start);

    void bytes(std::chrono::steady_clock::time_point at, std::string_view dir,
               std::string_view state, int baud, std::span<const std::uint8_t> data);
    void event(std::chrono::steady_clock::time_point at, std::string_view state,
               std::string_view text);

  private:
    std::int64_t micros(std::chrono::steady_clock::time_point at) const;

    std::ostream* out_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace qor::sim
