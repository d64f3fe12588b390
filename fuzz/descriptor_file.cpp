// The descriptor file reader fed arbitrary text: it reads eight lines into the descriptor or
// throws its own error; nothing else gets out.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "catalogue/Bl3FileHeader.h"
#include "catalogue/DescriptorFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    qor::TBl3FileHeader header;
    try {
        if (!qor::readBl3FileHeader(file, header)) {
            std::abort();
        }
        // Only "2" and "3" name a bootloader kind.
        if (header.qor_bl != 2 && header.qor_bl != 3 && header.qor_bl != 0xFFFF) {
            std::abort();
        }
    } catch (const qor::EDescriptorFile&) {
    }
    return 0;
}
