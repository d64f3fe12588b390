// The package reader with the ZIP container out of the way: the input is split into a manifest,
// an init packet and an image, which the target packs as the three members of a valid stored
// archive. So every input reaches the manifest parser, the init packet decoder and the package
// checks. Input: 2-byte length and manifest.json, 2-byte length and qor-ble.dat, qor-ble.bin.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "tools/dfu/Crc32.h"
#include "tools/dfu/Package.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

struct Member {
    std::string name;
    std::span<const std::uint8_t> bytes;
};

// A stored (uncompressed) ZIP archive of the members.
Bytes storedZip(const std::vector<Member>& members) {
    Bytes zip;
    Bytes directory;
    for (const Member& m : members) {
        const auto offset = static_cast<std::uint32_t>(zip.size());
        const std::uint32_t crc = qor::dfu::crc32(m.bytes);
        const auto size = static_cast<std::uint32_t>(m.bytes.size());
        const auto nameLength = static_cast<std::uint32_t>(m.name.size());
        put32(zip, 0x04034B50);
        put16(zip, 20);  // version needed
        put16(zip, 0);   // flags
        put16(zip, 0);   // stored
        put32(zip, 0);   // time and date
        put32(zip, crc);
        put32(zip, size);
        put32(zip, size);
        put16(zip, nameLength);
        put16(zip, 0);
        zip.insert(zip.end(), m.name.begin(), m.name.end());
        zip.insert(zip.end(), m.bytes.begin(), m.bytes.end());

        put32(directory, 0x02014B50);
        put16(directory, 20);  // made by
        put16(directory, 20);  // needed
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, nameLength);
        put16(directory, 0);  // extra
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, offset);
        directory.insert(directory.end(), m.name.begin(), m.name.end());
    }
    const auto directoryOffset = static_cast<std::uint32_t>(zip.size());
    zip.insert(zip.end(), directory.begin(), directory.end());
    put32(zip, 0x06054B50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<std::uint32_t>(members.size()));
    put16(zip, static_cast<std::uint32_t>(members.size()));
    put32(zip, static_cast<std::uint32_t>(directory.size()));
    put32(zip, directoryOffset);
    put16(zip, 0);
    return zip;
}

// The next piece of the input after a 2-byte length (cut to what is there).
std::span<const std::uint8_t> takePiece(std::span<const std::uint8_t>& input) {
    if (input.size() < 2) {
        input = {};
        return {};
    }
    const std::size_t length = std::min<std::size_t>(input[0] | (input[1] << 8), input.size() - 2);
    const auto piece = input.subspan(2, length);
    input = input.subspan(2 + length);
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    const auto manifest = takePiece(input);
    const auto dat = takePiece(input);
    const Bytes archive =
        storedZip({{"manifest.json", manifest}, {"qor-ble.dat", dat}, {"qor-ble.bin", input}});
    std::string error;
    const auto package = qor::dfu::readPackage(archive, error);
    if (!package) {
        // The container is valid: only its contents can be refused, and always with a reason.
        if (error.empty() || error.find("ZIP") != std::string::npos) {
            std::abort();
        }
        return 0;
    }
    error.clear();
    if (!qor::dfu::validatePackage(*package, error) && error.empty()) {
        std::abort();
    }
    return 0;
}
