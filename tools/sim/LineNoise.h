// Faults of the line between the PC and the radio module while the logger relays it: bytes
// damaged (one bit flipped) either way, bytes to the module lost. Each direction draws from its
// own generator, a fixed number of draws per byte, so the fate of the n-th byte each way
// depends only on the seed and n.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

#include "tools/sim/SimConfig.h"

namespace qor::sim {

class LineNoise {
  public:
    explicit LineNoise(const LineFaults& faults);

    bool active() const { return faults_.damage > 0.0 || faults_.loss > 0.0; }

    struct Fate {
        std::uint64_t index = 0;              // of the byte in its direction, from 0
        bool lost = false;                    // to the module only
        std::optional<std::uint8_t> damaged;  // the value that arrives instead
    };
    // The next byte to the module and the next byte to the host.
    Fate toModule(std::uint8_t byte);
    Fate toHost(std::uint8_t byte);

  private:
    Fate next(std::mt19937_64& generator, std::uint64_t& count, std::uint8_t byte, double loss);

    LineFaults faults_;
    std::mt19937_64 toModule_;
    std::mt19937_64 toHost_;
    std::uint64_t toModuleCount_ = 0;
    std::uint64_t toHostCount_ = 0;
};

}  // namespace qor::sim
