// The SLIP decoder fed arbitrary bytes in arbitrary pieces: every packet it gives is non-empty,
// within its limit, and survives encoding and decoding again unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "tools/dfu/Slip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t limit = 1 + data[0] % 64 * 8;  // 1 to 505 bytes
    const std::size_t piece = 1 + data[1] % 16;
    std::span<const std::uint8_t> stream(data + 2, size - 2);
    qor::dfu::SlipDecoder decoder(limit);
    std::vector<std::uint8_t> packet;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        decoder.feed(stream.subspan(at, std::min(piece, stream.size() - at)));
        while (decoder.next(packet)) {
            if (packet.empty() || packet.size() > limit) {
                std::abort();
            }
            qor::dfu::SlipDecoder again(limit);
            again.feed(qor::dfu::slipEncode(packet));
            std::vector<std::uint8_t> decoded;
            if (!again.next(decoded) || decoded != packet || again.next(decoded)) {
                std::abort();
            }
        }
    }
    return 0;
}
