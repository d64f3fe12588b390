#include "tools/dfu/Slip.h"

#include <utility>

namespace qor::dfu {

void slipEncodeAppend(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + payload.size() + payload.size() / 16 + 2);
    for (const std::uint8_t b : payload) {
        if (b == kSlipEnd) {
            out.push_back(kSlipEsc);
            out.push_back(kSlipEscEnd);
        } else if (b == kSlipEsc) {
            out.push_back(kSlipEsc);
            out.push_back(kSlipEscEsc);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(kSlipEnd);
}

std::vector<std::uint8_t> slipEncode(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out;
    slipEncodeAppend(payload, out);
    return out;
}

void SlipDecoder::feed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
        if (b == kSlipEnd) {
            if (!discarding_ && !escaped_ && !current_.empty()) {
                ready_.push_back(std::move(current_));
            } else if (escaped_) {
                ++dropped_;  // ESC right before END: the packet is broken
            }
            current_.clear();
            escaped_ = false;
            discarding_ = false;
            continue;
        }
        if (discarding_) {
            continue;
        }
        std::uint8_t value = b;
        if (escaped_) {
            escaped_ = false;
            if (b == kSlipEscEnd) {
                value = kSlipEnd;
            } else if (b == kSlipEscEsc) {
                value = kSlipEsc;
            } else {
                ++dropped_;
                discarding_ = true;
                current_.clear();
                continue;
            }
        } else if (b == kSlipEsc) {
            escaped_ = true;
            continue;
        }
        if (current_.size() >= maxPacketSize_) {
            ++dropped_;
            discarding_ = true;
            current_.clear();
            continue;
        }
        current_.push_back(value);
    }
}

bool SlipDecoder::next(std::vector<std::uint8_t>& packet) {
    if (ready_.empty()) {
        return false;
    }
    packet = std::move(ready_.front());
    ready_.pop_front();
    return true;
}

void SlipDecoder::reset() {
    current_.clear();
    ready_.clear();
    escaped_ = false;
    discarding_ = false;
}

}  // namespace qor::dfu
