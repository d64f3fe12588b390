#include "tests/block/BlockPeer.h"

#include <algorithm>

#include "engine/BlockCrc.h"

namespace qor::test {

using namespace std::chrono_literals;

// The frames are sized once and filled in place: appending to a vector that starts from a
// two- or three-byte initializer list makes GCC 12 at -O3 report a false -Warray-bounds inside
// std::vector::insert.
Bytes longFrame(const Bytes& data, std::uint8_t header) {
    Bytes frame(3 + data.size() + 2);
    frame[0] = header;
    frame[1] = static_cast<std::uint8_t>(data.size());
    frame[2] = static_cast<std::uint8_t>(data.size() >> 8);
    std::ranges::copy(data, frame.begin() + 3);
    const std::uint16_t crc = blockCrc16(frame.data(), 3 + data.size());
    frame[3 + data.size()] = static_cast<std::uint8_t>(crc);
    frame[4 + data.size()] = static_cast<std::uint8_t>(crc >> 8);
    return frame;
}

Bytes shortFrame(std::uint8_t header, const Bytes& data) {
    Bytes frame(2 + data.size() + 1);
    frame[0] = header;
    frame[1] = static_cast<std::uint8_t>(data.size());
    std::ranges::copy(data, frame.begin() + 2);
    frame.back() = blockCrc8(frame.data(), 2 + data.size());
    return frame;
}

Bytes powerOnReport(int total, const std::string& text, std::uint8_t header, std::uint8_t flags) {
    Bytes data = {flags, 0x00, 0x2C, 0x66, 18, 0, 35, 0, 1, 4};
    data.insert(data.end(), text.begin(), text.end());
    data.resize(static_cast<std::size_t>(total - 3));
    return shortFrame(header, data);
}

Bytes readBlockFrame(PtyPeer& peer, std::chrono::milliseconds timeout) {
    Bytes frame = peer.read(1, timeout);
    if (frame.empty()) {
        return frame;
    }
    const bool isLong = ((frame[0] >> 3) & 0x0F) == 15;
    const Bytes length = peer.read(isLong ? 2 : 1, 1000ms);
    frame.insert(frame.end(), length.begin(), length.end());
    if (length.size() != (isLong ? 2u : 1u)) {
        return frame;
    }
    const std::size_t rest =
        isLong ? static_cast<std::size_t>(length[0] | (length[1] << 8)) + 2u : length[0] + 1u;
    const Bytes tail = peer.read(rest, 2000ms);
    frame.insert(frame.end(), tail.begin(), tail.end());
    return frame;
}

Bytes testImage(std::size_t length) {
    Bytes image(length);
    for (std::size_t i = 0; i < length; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
    }
    return image;
}

Bytes writeBlockFrame(const Bytes& image, std::uint32_t offset, std::uint32_t count) {
    Bytes data = {14, static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                  static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24)};
    data.insert(data.end(), image.begin() + offset, image.begin() + offset + count);
    return longFrame(data);
}

}  // namespace qor::test
