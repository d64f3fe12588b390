// Builders for DFU test inputs: protocol buffers fields, init packets, ZIP archives, packages.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/dfu/DfuClient.h"

namespace qor::test {

using Bytes = std::vector<std::uint8_t>;

// Appends protobuf fields in the order called.
class Pb {
  public:
    Pb& varint(std::uint32_t field, std::uint64_t value);
    Pb& bytes(std::uint32_t field, std::span<const std::uint8_t> value);
    Pb& message(std::uint32_t field, const Pb& inner) { return bytes(field, inner.data()); }
    Pb& fixed32(std::uint32_t field, std::uint32_t value);
    Pb& fixed64(std::uint32_t field, std::uint64_t value);
    Pb& raw(std::span<const std::uint8_t> value);
    const Bytes& data() const { return data_; }

  private:
    void key(std::uint32_t field, std::uint32_t wireType);
    void rawVarint(std::uint64_t value);
    Bytes data_;
};

// The InitCommand fields as the packaging tool writes them (every field it sets, in order).
struct InitFields {
    std::uint32_t fwVersion = 20500;
    std::uint32_t hwVersion = 52;
    std::vector<std::uint32_t> sdReq = {0xB6};
    std::uint32_t type = 0;  // APPLICATION
    std::uint32_t sdSize = 0;
    std::uint32_t blSize = 0;
    std::uint32_t appSize = 0;
    Bytes hash;  // as stored
};

Pb initCommand(const InitFields& fields);
Pb command(const InitFields& fields);  // Command{op_code INIT, init}
// Packet{signed_command{command, ECDSA_P256_SHA256, 64-byte signature}}.
Bytes signedInitPacket(const InitFields& fields);
// Fields describing an application image: its size and byte-reversed SHA-256.
InitFields applicationFields(std::span<const std::uint8_t> image);

struct ZipEntry {
    std::string name;
    Bytes data;
    bool deflate = false;
};
Bytes makeZip(const std::vector<ZipEntry>& entries);

// A firmware image of n bytes with a reproducible, varied content (SLIP bytes included).
Bytes testImage(std::size_t n, std::uint32_t seed = 1);

// A package with one application image: manifest.json, app.bin, app.dat.
Bytes applicationPackage(const Bytes& image, bool deflate = true);
Bytes applicationPackage(const Bytes& image, const Bytes& dat, bool deflate = true);

// Client timing for a peer that answers at once or never: short waits keep failure tests quick.
dfu::DfuOptions quickDfuOptions();

}  // namespace qor::test
