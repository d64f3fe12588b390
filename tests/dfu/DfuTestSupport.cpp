#include "tests/dfu/DfuTestSupport.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "tools/dfu/Crc32.h"
#include "tools/dfu/Sha256.h"

namespace qor::test {

void Pb::rawVarint(std::uint64_t value) {
    while (value >= 0x80) {
        data_.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    data_.push_back(static_cast<std::uint8_t>(value));
}

void Pb::key(std::uint32_t field, std::uint32_t wireType) {
    rawVarint((std::uint64_t{field} << 3) | wireType);
}

Pb& Pb::varint(std::uint32_t field, std::uint64_t value) {
    key(field, 0);
    rawVarint(value);
    return *this;
}

Pb& Pb::bytes(std::uint32_t field, std::span<const std::uint8_t> value) {
    key(field, 2);
    rawVarint(value.size());
    data_.insert(data_.end(), value.begin(), value.end());
    return *this;
}

Pb& Pb::fixed32(std::uint32_t field, std::uint32_t value) {
    key(field, 5);
    for (int i = 0; i < 4; ++i) {
        data_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    return *this;
}

Pb& Pb::fixed64(std::uint32_t field, std::uint64_t value) {
    key(field, 1);
    for (int i = 0; i < 8; ++i) {
        data_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    return *this;
}

Pb& Pb::raw(std::span<const std::uint8_t> value) {
    data_.insert(data_.end(), value.begin(), value.end());
    return *this;
}

Pb initCommand(const InitFields& f) {
    Bytes packed;  // sd_req is packed: bare varints in one length-delimited field
    for (auto v : f.sdReq) {
        while (v >= 0x80) {
            packed.push_back(static_cast<std::uint8_t>(v | 0x80));
            v >>= 7;
        }
        packed.push_back(static_cast<std::uint8_t>(v));
    }
    Pb hash;
    hash.varint(1, 3).bytes(2, f.hash);  // SHA256
    Pb bootValidation;
    bootValidation.varint(1, 0).bytes(2, Bytes{});  // NO_VALIDATION
    Pb init;
    init.varint(1, f.fwVersion)
        .varint(2, f.hwVersion)
        .bytes(3, packed)
        .varint(4, f.type)
        .varint(5, f.sdSize)
        .varint(6, f.blSize)
        .varint(7, f.appSize)
        .message(8, hash)
        .varint(9, 0)
        .message(10, bootValidation);
    return init;
}

Pb command(const InitFields& fields) {
    Pb cmd;
    cmd.varint(1, 1).message(2, initCommand(fields));
    return cmd;
}

Bytes signedInitPacket(const InitFields& fields) {
    Bytes signature(64);
    for (std::size_t i = 0; i < signature.size(); ++i) {
        signature[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    Pb signedCommand;
    signedCommand.message(1, command(fields)).varint(2, 0).bytes(3, signature);
    Pb packet;
    packet.message(2, signedCommand);
    return packet.data();
}

InitFields applicationFields(std::span<const std::uint8_t> image) {
    InitFields f;
    f.appSize = static_cast<std::uint32_t>(image.size());
    const auto digest = dfu::sha256(image);
    f.hash.assign(digest.rbegin(), digest.rend());
    return f;
}

namespace {

void put16(Bytes& out, std::size_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& out, std::size_t v) {
    put16(out, v & 0xFFFF);
    put16(out, (v >> 16) & 0xFFFF);
}

Bytes deflateRaw(const Bytes& in) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    Bytes out(deflateBound(&zs, static_cast<uLong>(in.size())));
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

}  // namespace

Bytes makeZip(const std::vector<ZipEntry>& entries) {
    Bytes out;
    Bytes directory;
    for (const auto& e : entries) {
        const Bytes packed = e.deflate ? deflateRaw(e.data) : e.data;
        const std::uint32_t crc = dfu::crc32(e.data);
        const std::size_t offset = out.size();
        const auto header = [&](Bytes& b, bool central) {
            put32(b, central ? 0x02014b50 : 0x04034b50);
            if (central) {
                put16(b, 20);  // made by
            }
            put16(b, 20);  // needed
            put16(b, 0);   // flags
            put16(b, e.deflate ? 8 : 0);
            put16(b, 0);     // time
            put16(b, 0x21);  // date
            put32(b, crc);
            put32(b, packed.size());
            put32(b, e.data.size());
            put16(b, e.name.size());
            put16(b, 0);  // extra
            if (central) {
                put16(b, 0);  // comment
                put16(b, 0);  // disk
                put16(b, 0);  // internal attributes
                put32(b, 0);  // external attributes
                put32(b, offset);
            }
            b.insert(b.end(), e.name.begin(), e.name.end());
        };
        header(out, false);
        out.insert(out.end(), packed.begin(), packed.end());
        header(directory, true);
    }
    const std::size_t directoryOffset = out.size();
    out.insert(out.end(), directory.begin(), directory.end());
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, entries.size());
    put16(out, entries.size());
    put32(out, directory.size());
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

Bytes testImage(std::size_t n, std::uint32_t seed) {
    Bytes image(n);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    // Make sure the escapes of the line framing occur.
    for (std::size_t i = 0; i + 1 < n; i += 97) {
        image[i] = 0xC0;
        image[i + 1] = 0xDB;
    }
    return image;
}

Bytes applicationPackage(const Bytes& image, const Bytes& dat, bool deflate) {
    const std::string manifest =
        "{\n    \"manifest\": {\n        \"application\": {\n            \"bin_file\": "
        "\"app.bin\",\n            \"dat_file\": \"app.dat\"\n        }\n    }\n}";
    return makeZip({{"manifest.json", Bytes(manifest.begin(), manifest.end()), deflate},
                    {"app.bin", image, deflate},
                    {"app.dat", dat, deflate}});
}

dfu::DfuOptions quickDfuOptions() {
    dfu::DfuOptions o;
    o.responseTimeoutMs = 500;
    o.pingTries = 3;
    o.pingTimeoutMs = 100;
    o.silenceLimitMs = 1500;
    o.objectTimeLimitMs = 3000;
    return o;
}

Bytes applicationPackage(const Bytes& image, bool deflate) {
    return applicationPackage(image, signedInitPacket(applicationFields(image)), deflate);
}

}  // namespace qor::test
