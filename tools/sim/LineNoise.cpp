#include "tools/sim/LineNoise.h"

namespace qor::sim {
namespace {

// A uniform number in [0, 1) from the top 53 bits of a draw: the same on every platform, unlike
// the standard distributions.
double unit(std::mt19937_64& generator) {
    return static_cast<double>(generator() >> 11) * 0x1.0p-53;
}

std::mt19937_64 generatorFor(std::uint64_t seed, std::uint32_t direction) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           direction};
    return std::mt19937_64(sequence);
}

}  // namespace

LineNoise::LineNoise(const LineFaults& faults)
    : faults_(faults),
      toModule_(generatorFor(faults.seed, 1)),
      toHost_(generatorFor(faults.seed, 2)) {}

LineNoise::Fate LineNoise::toModule(std::uint8_t byte) {
    return next(toModule_, toModuleCount_, byte, faults_.loss);
}

LineNoise::Fate LineNoise::toHost(std::uint8_t byte) {
    return next(toHost_, toHostCount_, byte, 0.0);
}

LineNoise::Fate LineNoise::next(std::mt19937_64& generator, std::uint64_t& count, std::uint8_t byte,
                                double loss) {
    const double lostDraw = unit(generator);
    const double damageDraw = unit(generator);
    const auto bit = static_cast<unsigned>(generator() % 8);
    Fate fate;
    fate.index = count++;
    if (lostDraw < loss) {
        fate.lost = true;
    } else if (damageDraw < faults_.damage) {
        fate.damaged = static_cast<std::uint8_t>(byte ^ (1u << bit));
    }
    return fate;
}

}  // namespace qor::sim
