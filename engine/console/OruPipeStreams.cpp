// The pipe's copies to and from C++ streams, in an object of their own: a program that never
// calls them links no streams.
#include <algorithm>
#include <istream>
#include <ostream>

#include "engine/console/OruPipe.h"

namespace qor {
namespace {

constexpr std::uint32_t kStreamChunk = 4096;

}  // namespace

void TOruPipe::CopyToStream(std::ostream& Stm, std::uint32_t Count) {
    const std::uint32_t available = AvailableDataSize();
    std::uint32_t left = (Count == 0 || Count > available) ? available : Count;
    char buffer[kStreamChunk];
    while (left > 0) {
        const std::uint32_t chunk = std::min(left, kStreamChunk);
        std::uint32_t received = 0;
        platform::pipeRead(fReadHandle, buffer, chunk, received);
        if (received < chunk) {
            throw EInOutError("Error reading pipe");
        }
        Stm.write(buffer, chunk);
        left -= chunk;
    }
}

void TOruPipe::CopyFromStream(std::istream& Stm, std::uint32_t Count) {
    char buffer[kStreamChunk];
    std::uint32_t left = Count;
    for (;;) {
        const std::uint32_t chunk = Count == 0 ? kStreamChunk : std::min(left, kStreamChunk);
        if (chunk == 0) {
            return;
        }
        Stm.read(buffer, chunk);
        const auto got = static_cast<std::uint32_t>(Stm.gcount());
        if (Count != 0 && got < chunk) {
            throw EInOutError("Stream read error");
        }
        if (got > 0) {
            WriteData(buffer, got);
        }
        if (Count == 0 && got < chunk) {
            return;  // the stream's end
        }
        left -= Count == 0 ? 0 : chunk;
    }
}

}  // namespace qor
