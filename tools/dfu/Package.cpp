#include "tools/dfu/Package.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "tools/dfu/Crc32.h"
#include "tools/dfu/DfuSystem.h"
#include "tools/dfu/InitPacket.h"
#include "tools/dfu/Sha256.h"

namespace qor::dfu {
namespace {

// Far above any radio-module image; keeps a hostile archive from claiming gigabytes.
constexpr std::uint32_t kMaxMemberSize = 16u * 1024u * 1024u;

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndOfDirSig = 0x06054b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndOfDirSize = 22;

constexpr std::array<ImageKind, 4> kSendOrder = {ImageKind::SoftdeviceBootloader,
                                                 ImageKind::Softdevice, ImageKind::Bootloader,
                                                 ImageKind::Application};

// Little-endian reads that refuse to leave the buffer.
class ByteView {
  public:
    explicit ByteView(std::span<const std::uint8_t> data) : data_(data) {}

    bool fits(std::size_t offset, std::size_t count) const {
        return offset <= data_.size() && count <= data_.size() - offset;
    }
    std::uint16_t u16(std::size_t offset) const {
        return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    }
    std::uint32_t u32(std::size_t offset) const {
        return std::uint32_t{data_[offset]} | (std::uint32_t{data_[offset + 1]} << 8) |
               (std::uint32_t{data_[offset + 2]} << 16) | (std::uint32_t{data_[offset + 3]} << 24);
    }
    std::span<const std::uint8_t> sub(std::size_t offset, std::size_t count) const {
        return data_.subspan(offset, count);
    }
    std::size_t size() const { return data_.size(); }

  private:
    std::span<const std::uint8_t> data_;
};

std::optional<std::size_t> findEndOfDirectory(const ByteView& zip) {
    if (zip.size() < kEndOfDirSize) {
        return std::nullopt;
    }
    // The record sits at the end, followed only by its comment (at most 65535 bytes).
    const std::size_t last = zip.size() - kEndOfDirSize;
    const std::size_t first = last > 0xFFFF ? last - 0xFFFF : 0;
    for (std::size_t pos = last + 1; pos-- > first;) {
        if (zip.u32(pos) == kEndOfDirSig && pos + kEndOfDirSize + zip.u16(pos + 20) == zip.size()) {
            return pos;
        }
    }
    return std::nullopt;
}

bool inflateRaw(std::span<const std::uint8_t> in, std::uint32_t size,
                std::vector<std::uint8_t>& out) {
    // One spare byte: data that inflates to more than announced is caught, not truncated.
    out.assign(static_cast<std::size_t>(size) + 1, 0);
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
        return false;
    }
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && zs.total_out == size;
    inflateEnd(&zs);
    out.resize(size);
    return ok;
}

// Member data must lie before the central directory, which starts at dataLimit.
bool readMember(const ByteView& zip, std::size_t central, std::size_t dataLimit, std::string& name,
                std::vector<std::uint8_t>& data, std::string& error) {
    const std::uint16_t flags = zip.u16(central + 8);
    const std::uint16_t method = zip.u16(central + 10);
    const std::uint32_t crc = zip.u32(central + 16);
    const std::uint32_t packedSize = zip.u32(central + 20);
    const std::uint32_t size = zip.u32(central + 24);
    const std::uint16_t nameLength = zip.u16(central + 28);
    const std::uint32_t localOffset = zip.u32(central + 42);
    const auto nameBytes = zip.sub(central + kCentralHeaderSize, nameLength);
    name.assign(nameBytes.begin(), nameBytes.end());

    const std::string where = "member \"" + name + "\"";
    if (flags & 0x0001u) {
        error = where + " is encrypted";
        return false;
    }
    if (packedSize == 0xFFFFFFFFu || size == 0xFFFFFFFFu || localOffset == 0xFFFFFFFFu) {
        error = where + " needs ZIP64, which is not supported";
        return false;
    }
    if (size > kMaxMemberSize) {
        error = where + " is too large";
        return false;
    }
    if (!zip.fits(localOffset, kLocalHeaderSize) || localOffset >= dataLimit ||
        zip.u32(localOffset) != kLocalHeaderSig) {
        error = where + " has no valid local header";
        return false;
    }
    const std::size_t localName = zip.u16(localOffset + 26);
    const std::size_t localExtra = zip.u16(localOffset + 28);
    const std::size_t dataStart = localOffset + kLocalHeaderSize + localName + localExtra;
    if (localName != nameLength || !zip.fits(localOffset + kLocalHeaderSize, localName) ||
        !std::ranges::equal(zip.sub(localOffset + kLocalHeaderSize, localName), nameBytes)) {
        error = where + " has a local header of another name";
        return false;
    }
    if (zip.u16(localOffset + 8) != method) {
        error = where + " has a local header of another compression method";
        return false;
    }
    if (!zip.fits(dataStart, packedSize) || dataStart + packedSize > dataLimit) {
        error = where + " is truncated";
        return false;
    }
    const auto packed = zip.sub(dataStart, packedSize);
    if (method == 0) {
        if (packedSize != size) {
            error = where + " is stored with inconsistent sizes";
            return false;
        }
        data.assign(packed.begin(), packed.end());
    } else if (method == 8) {
        if (!inflateRaw(packed, size, data)) {
            error = where + " does not inflate to its size";
            return false;
        }
    } else {
        error = where + " uses compression method " + std::to_string(method) +
                ", only stored and deflated are supported";
        return false;
    }
    if (crc32(data) != crc) {
        error = where + " fails its CRC-32 check";
        return false;
    }
    return true;
}

bool validateImage(const PackageImage& image, std::string& error) {
    const std::string what =
        std::string(imageKindName(image.kind)) + " init packet " + image.datFile;
    if (image.bin.empty()) {
        error = std::string(imageKindName(image.kind)) + " image " + image.binFile + " is empty";
        return false;
    }
    std::string detail;
    const auto packet = decodeInitPacket(image.dat, detail);
    if (!packet) {
        error = what + " does not decode: " + detail;
        return false;
    }
    const InitCommand& cmd = packet->init;
    static constexpr std::array<FwType, 4> kTypes = {
        FwType::SoftdeviceBootloader, FwType::Softdevice, FwType::Bootloader, FwType::Application};
    const FwType expected = kTypes[static_cast<std::size_t>(image.kind)];
    // An absent type means the message's default, APPLICATION.
    if (cmd.type.value_or(FwType::Application) != expected) {
        error = what + " names firmware type " +
                std::to_string(static_cast<std::uint32_t>(cmd.type.value_or(FwType::Application))) +
                ", not the type of its image";
        return false;
    }
    std::uint64_t declared = 0;
    switch (image.kind) {
        case ImageKind::SoftdeviceBootloader:
            declared = std::uint64_t{cmd.sd_size.value_or(0)} + cmd.bl_size.value_or(0);
            break;
        case ImageKind::Softdevice:
            declared = cmd.sd_size.value_or(0);
            break;
        case ImageKind::Bootloader:
            declared = cmd.bl_size.value_or(0);
            break;
        case ImageKind::Application:
            declared = cmd.app_size.value_or(0);
            break;
    }
    if (declared != image.bin.size()) {
        error = what + " declares " + std::to_string(declared) + " bytes, but " + image.binFile +
                " holds " + std::to_string(image.bin.size());
        return false;
    }
    if (cmd.hash_type != HashType::Sha256 || cmd.hash.size() != 32) {
        error = what + " carries no SHA-256 hash of its image";
        return false;
    }
    auto digest = sha256(image.bin);
    std::ranges::reverse(digest);  // stored least significant byte first
    if (!std::ranges::equal(digest, cmd.hash)) {
        error = what + " does not match the SHA-256 of " + image.binFile;
        return false;
    }
    return true;
}

}  // namespace

std::string_view imageKindName(ImageKind kind) {
    switch (kind) {
        case ImageKind::SoftdeviceBootloader:
            return "softdevice_bootloader";
        case ImageKind::Softdevice:
            return "softdevice";
        case ImageKind::Bootloader:
            return "bootloader";
        case ImageKind::Application:
            return "application";
    }
    return "?";
}

std::uint64_t Package::firmwareSize() const {
    std::uint64_t total = 0;
    for (const auto& image : images) {
        total += image.bin.size();
    }
    return total;
}

std::optional<ZipMembers> readZip(std::span<const std::uint8_t> archive, std::string& error) {
    const ByteView zip(archive);
    const auto eocd = findEndOfDirectory(zip);
    if (!eocd) {
        error = "no end of central directory record";
        return std::nullopt;
    }
    const std::uint16_t disk = zip.u16(*eocd + 4);
    const std::uint16_t directoryDisk = zip.u16(*eocd + 6);
    const std::uint16_t entriesHere = zip.u16(*eocd + 8);
    const std::uint16_t entries = zip.u16(*eocd + 10);
    const std::uint32_t directorySize = zip.u32(*eocd + 12);
    const std::uint32_t directoryOffset = zip.u32(*eocd + 16);
    if (disk != 0 || directoryDisk != 0 || entriesHere != entries) {
        error = "multi-volume archives are not supported";
        return std::nullopt;
    }
    if (entries == 0xFFFF || directoryOffset == 0xFFFFFFFFu) {
        error = "ZIP64 archives are not supported";
        return std::nullopt;
    }
    if (std::uint64_t{directoryOffset} + directorySize > *eocd) {
        error = "central directory lies outside the archive";
        return std::nullopt;
    }
    ZipMembers members;
    std::size_t pos = directoryOffset;
    const std::size_t directoryEnd = directoryOffset + directorySize;
    for (std::uint16_t i = 0; i < entries; ++i) {
        if (pos + kCentralHeaderSize > directoryEnd || zip.u32(pos) != kCentralHeaderSig) {
            error = "central directory entry " + std::to_string(i + 1) + " is damaged";
            return std::nullopt;
        }
        const std::size_t entrySize =
            kCentralHeaderSize + zip.u16(pos + 28) + zip.u16(pos + 30) + zip.u16(pos + 32);
        if (pos + entrySize > directoryEnd) {
            error = "central directory entry " + std::to_string(i + 1) + " is truncated";
            return std::nullopt;
        }
        std::string name;
        std::vector<std::uint8_t> data;
        if (!readMember(zip, pos, directoryOffset, name, data, error)) {
            return std::nullopt;
        }
        if (!name.empty() && name.back() != '/' && !members.emplace(name, std::move(data)).second) {
            error = "member \"" + name + "\" occurs twice";
            return std::nullopt;
        }
        pos += entrySize;
    }
    return members;
}

std::optional<Package> readPackage(std::span<const std::uint8_t> archive, std::string& error) {
    std::string detail;
    auto members = readZip(archive, detail);
    if (!members) {
        error = "Package is not a valid ZIP archive: " + detail;
        return std::nullopt;
    }
    const auto manifestMember = members->find("manifest.json");
    if (manifestMember == members->end()) {
        error = "Package holds no manifest.json";
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(manifestMember->second, nullptr, false);
    if (json.is_discarded()) {
        error = "manifest.json is not valid JSON";
        return std::nullopt;
    }
    const auto manifest = json.is_object() ? json.find("manifest") : json.end();
    if (manifest == json.end() || !manifest->is_object()) {
        error = "manifest.json has no \"manifest\" object";
        return std::nullopt;
    }
    Package package;
    for (const ImageKind kind : kSendOrder) {
        const std::string key(imageKindName(kind));
        const auto entry = manifest->find(key);
        if (entry == manifest->end()) {
            continue;
        }
        PackageImage image;
        image.kind = kind;
        for (auto [field, file] :
             {std::pair{"bin_file", &image.binFile}, std::pair{"dat_file", &image.datFile}}) {
            const auto value = entry->is_object() ? entry->find(field) : entry->end();
            if (value == entry->end() || !value->is_string()) {
                error = "Manifest entry \"" + key + "\" has no " + field;
                return std::nullopt;
            }
            *file = value->get<std::string>();
        }
        for (auto [file, bytes] :
             {std::pair{&image.binFile, &image.bin}, std::pair{&image.datFile, &image.dat}}) {
            const auto member = members->find(*file);
            if (member == members->end()) {
                error = "Package lacks " + *file + ", named by its manifest for " + key;
                return std::nullopt;
            }
            *bytes = member->second;
        }
        package.images.push_back(std::move(image));
    }
    if (package.images.empty()) {
        error = "Manifest names no image";
        return std::nullopt;
    }
    return package;
}

std::optional<Package> readPackageFile(const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readFileBytes(path, bytes)) {
        error = "Package file " + path + " could not be read: " + lastSystemErrorText();
        return std::nullopt;
    }
    std::string detail;
    auto package = readPackage(bytes, detail);
    if (!package) {
        error = "Package file " + path + ": " + detail;
    }
    return package;
}

bool validatePackage(const Package& package, std::string& error) {
    return std::ranges::all_of(
        package.images, [&](const PackageImage& image) { return validateImage(image, error); });
}

}  // namespace qor::dfu
