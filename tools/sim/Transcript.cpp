#include "tools/sim/Transcript.h"

namespace qor::sim {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

Transcript::Transcript(std::ostream* out, std::chrono::steady_clock::time_point start)
    : out_(out), start_(start) {
    if (out_ != nullptr) {
        *out_ << "# qor-logger-sim transcript: <time us> <rx|tx|ev> <state> <baud|-> <hex "
                 "bytes|text>\n";
    }
}

std::int64_t Transcript::micros(std::chrono::steady_clock::time_point at) const {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at - start_).count();
    return us < 0 ? 0 : us;
}

void Transcript::bytes(std::chrono::steady_clock::time_point at, std::string_view dir,
                       std::string_view state, int baud, std::span<const std::uint8_t> data) {
    if (out_ != nullptr) {
        *out_ << micros(at) << ' ' << dir << ' ' << state << ' ' << baud << ' ' << hexBytes(data)
              << '\n';
        out_->flush();
    }
}

void Transcript::event(std::chrono::steady_clock::time_point at, std::string_view state,
                       std::string_view text) {
    if (out_ != nullptr) {
        *out_ << micros(at) << " ev " << state << " - " << text << '\n';
        out_->flush();
    }
}

}  // namespace qor::sim
