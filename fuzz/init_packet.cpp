// The init packet (protocol buffers) decoder fed arbitrary bytes: it decodes or says why not,
// and what it decodes is consistent with the bytes it came from.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/dfu/InitPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto packet = qor::dfu::decodeInitPacket({data, size}, error);
    if (!packet) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    // The signed part is a piece of the input, and nothing decoded is longer than the input.
    if (packet->commandBytes.size() > size || packet->signature.size() > size ||
        packet->init.hash.size() > size) {
        std::abort();
    }
    return 0;
}
