// The built-in DFU package: its exact shape, its init packet, and that the committed file is
// what the generator makes and what the program embeds.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "firmware/PackageMaker.h"
#include "tools/dfu/InitPacket.h"

namespace qor {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

std::string readText(const std::string& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

const std::string kSourceDir = QOR_SOURCE_DIR;
const std::string kCommittedPackage = kSourceDir + "/firmware/builtin-package.zip";

constexpr std::size_t kPackageSize = 72694;
constexpr std::uint16_t kDosTime = (15 << 11) | (36 << 5) | (40 / 2);
constexpr std::uint16_t kDosDate = ((2019 - 1980) << 9) | (8 << 5) | 19;
const char* const kManifest =
    "{\n"
    "    \"manifest\": {\n"
    "        \"application\": {\n"
    "            \"bin_file\": \"qor-ble.bin\",\n"
    "            \"dat_file\": \"qor-ble.dat\"\n"
    "        }\n"
    "    }\n"
    "}";

std::uint32_t le(std::span<const std::uint8_t> bytes, std::size_t offset, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | bytes[offset + static_cast<std::size_t>(i)];
    }
    return value;
}

struct Member {
    std::string name;
    std::size_t size;
    std::size_t dataOffset = 0;  // filled by the shape check
};

// Walks the archive header by header and checks every field; returns where the data lie.
std::vector<Member> checkShape(std::span<const std::uint8_t> zip) {
    std::vector<Member> members{
        {"qor-ble.bin", 72092}, {"manifest.json", 139}, {"qor-ble.dat", 143}};
    EXPECT_EQ(zip.size(), kPackageSize);
    if (zip.size() != kPackageSize) {
        return {};
    }
    std::size_t at = 0;
    std::vector<std::size_t> localOffsets;
    std::vector<std::uint32_t> crcs;
    for (Member& m : members) {
        SCOPED_TRACE(m.name);
        localOffsets.push_back(at);
        EXPECT_EQ(le(zip, at, 4), 0x04034b50u);
        EXPECT_EQ(le(zip, at + 6, 2), 0u);  // flags: no data descriptor
        EXPECT_EQ(le(zip, at + 8, 2), 0u);  // stored
        EXPECT_EQ(le(zip, at + 10, 2), kDosTime);
        EXPECT_EQ(le(zip, at + 12, 2), kDosDate);
        EXPECT_EQ(le(zip, at + 18, 4), m.size);
        EXPECT_EQ(le(zip, at + 22, 4), m.size);
        EXPECT_EQ(le(zip, at + 26, 2), m.name.size());
        EXPECT_EQ(le(zip, at + 28, 2), 0u);  // no extra field
        EXPECT_EQ(std::string(zip.begin() + static_cast<long>(at) + 30,
                              zip.begin() + static_cast<long>(at + 30 + m.name.size())),
                  m.name);
        m.dataOffset = at + 30 + m.name.size();
        const std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(0, zip.data() + m.dataOffset, static_cast<uInt>(m.size)));
        EXPECT_EQ(le(zip, at + 14, 4), crc);
        crcs.push_back(crc);
        at = m.dataOffset + m.size;
    }
    const std::size_t directory = at;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        SCOPED_TRACE("central " + m.name);
        EXPECT_EQ(le(zip, at, 4), 0x02014b50u);
        EXPECT_EQ(le(zip, at + 8, 2), 0u);
        EXPECT_EQ(le(zip, at + 10, 2), 0u);
        EXPECT_EQ(le(zip, at + 12, 2), kDosTime);
        EXPECT_EQ(le(zip, at + 14, 2), kDosDate);
        EXPECT_EQ(le(zip, at + 16, 4), crcs[i]);
        EXPECT_EQ(le(zip, at + 20, 4), m.size);
        EXPECT_EQ(le(zip, at + 24, 4), m.size);
        EXPECT_EQ(le(zip, at + 28, 2), m.name.size());
        EXPECT_EQ(le(zip, at + 30, 2), 0u);  // extra
        EXPECT_EQ(le(zip, at + 32, 2), 0u);  // comment
        EXPECT_EQ(le(zip, at + 42, 4), localOffsets[i]);
        EXPECT_TRUE(
            std::equal(m.name.begin(), m.name.end(), zip.begin() + static_cast<long>(at) + 46));
        at += 46 + m.name.size();
    }
    EXPECT_EQ(le(zip, at, 4), 0x06054b50u);
    EXPECT_EQ(le(zip, at + 8, 2), 3u);
    EXPECT_EQ(le(zip, at + 10, 2), 3u);
    EXPECT_EQ(le(zip, at + 12, 4), at - directory);
    EXPECT_EQ(le(zip, at + 16, 4), directory);
    EXPECT_EQ(le(zip, at + 20, 2), 0u);  // no comment
    EXPECT_EQ(at + 22, zip.size());
    return members;
}

std::span<const std::uint8_t> dataOf(std::span<const std::uint8_t> zip, const Member& m) {
    return zip.subspan(m.dataOffset, m.size);
}

// The manifest, and the init packet decoded field by field, its hash checked against the image
// and its signature against the development public key.
void checkContent(std::span<const std::uint8_t> zip, const std::vector<Member>& members) {
    ASSERT_EQ(members.size(), 3u);
    const auto image = dataOf(zip, members[0]);
    const auto manifest = dataOf(zip, members[1]);
    EXPECT_EQ(std::string(manifest.begin(), manifest.end()), kManifest);

    std::string error;
    const std::optional<dfu::InitPacket> packet =
        dfu::decodeInitPacket(dataOf(zip, members[2]), error);
    ASSERT_TRUE(packet) << error;
    const dfu::InitCommand& init = packet->init;
    EXPECT_EQ(init.fw_version, 20500u);
    EXPECT_EQ(init.hw_version, 52u);
    EXPECT_EQ(init.sd_req, std::vector<std::uint32_t>{0xB6});
    EXPECT_EQ(init.type, dfu::FwType::Application);
    EXPECT_EQ(init.sd_size, 0u);
    EXPECT_EQ(init.bl_size, 0u);
    EXPECT_EQ(init.app_size, 72092u);
    EXPECT_EQ(init.hash_type, dfu::HashType::Sha256);
    EXPECT_FALSE(init.is_debug);
    ASSERT_EQ(init.boot_validation.size(), 1u);
    EXPECT_EQ(init.boot_validation[0].type, dfu::ValidationType::NoValidation);
    EXPECT_TRUE(init.boot_validation[0].bytes.empty());

    std::array<std::uint8_t, 32> hash{};
    ASSERT_EQ(EVP_Digest(image.data(), image.size(), hash.data(), nullptr, EVP_sha256(), nullptr),
              1);
    std::reverse(hash.begin(), hash.end());
    EXPECT_EQ(init.hash, Bytes(hash.begin(), hash.end()));

    EXPECT_TRUE(packet->isSigned);
    EXPECT_EQ(packet->signature_type, dfu::SignatureType::EcdsaP256Sha256);
    ASSERT_EQ(packet->signature.size(), 64u);
    const std::span<const std::uint8_t, 64> signature(packet->signature.data(), 64);
    const std::string publicKey = readText(kSourceDir + "/firmware/dev_key_public.pem");
    EXPECT_TRUE(firmware::verifySignature(packet->commandBytes, signature, publicKey));
    Bytes tampered = packet->commandBytes;
    tampered.back() ^= 1;
    EXPECT_FALSE(firmware::verifySignature(tampered, signature, publicKey));
}

TEST(FirmwarePackage, CommittedPackageHasTheShape) {
    const Bytes zip = readFile(kCommittedPackage);
    const std::vector<Member> members = checkShape(zip);
    checkContent(zip, members);
}

// The generator makes the same package again; only the signature (ECDSA is randomised) and,
// with it, the init packet's CRC-32 differ.
TEST(FirmwarePackage, GeneratorRemakesTheCommittedPackage) {
    const Bytes committed = readFile(kCommittedPackage);
    const Bytes made =
        firmware::makePackage(readText(kSourceDir + "/firmware/dev_key_private.pem"));
    const std::vector<Member> members = checkShape(made);
    checkContent(made, members);
    ASSERT_EQ(made.size(), committed.size());
    ASSERT_EQ(members.size(), 3u);

    Bytes patched = made;
    const Member& dat = members[2];
    const std::size_t signature = dat.dataOffset + dat.size - 64;
    const std::size_t localCrc = dat.dataOffset - dat.name.size() - 30 + 14;
    // The central directory follows the init packet: two entries before the init packet's.
    const std::size_t centralCrc = dat.dataOffset + dat.size + (46 + 11) + (46 + 13) + 16;
    for (const auto& [offset, count] : {std::pair{signature, 64}, {localCrc, 4}, {centralCrc, 4}}) {
        std::copy_n(committed.begin() + static_cast<long>(offset), count,
                    patched.begin() + static_cast<long>(offset));
    }
    const auto [differs, unused] = std::mismatch(patched.begin(), patched.end(), committed.begin());
    EXPECT_EQ(differs, patched.end()) << "first difference at " << (differs - patched.begin());
    EXPECT_FALSE(std::equal(made.begin() + static_cast<long>(signature),
                            made.begin() + static_cast<long>(signature) + 64,
                            committed.begin() + static_cast<long>(signature)))
        << "two signatures alike: the signing is not randomised any more, compare all bytes";
}

TEST(FirmwarePackage, ProgramEmbedsTheConfiguredPackage) {
    const Bytes configured = readFile(QOR_EMBEDDED_PACKAGE);
    const std::span<const std::uint8_t> embedded = builtinPackage();
    EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), configured.begin(), configured.end()));
    TBl3FileHeader header;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    ASSERT_TRUE(getFirmware(1, header, size, length, data));
    EXPECT_EQ(size, configured.size());
    EXPECT_EQ(data, embedded.data());
}

}  // namespace
}  // namespace qor
