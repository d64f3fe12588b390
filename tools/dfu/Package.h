// A DFU update package: a ZIP archive with manifest.json and, per image, the image (.bin) and
// its init packet (.dat).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qor::dfu {

// Image kinds in the order they are sent.
enum class ImageKind { SoftdeviceBootloader, Softdevice, Bootloader, Application };

// The manifest key of a kind ("softdevice_bootloader", ..., "application").
std::string_view imageKindName(ImageKind kind);

struct PackageImage {
    ImageKind kind = ImageKind::Application;
    std::string binFile;
    std::string datFile;
    std::vector<std::uint8_t> bin;
    std::vector<std::uint8_t> dat;
};

struct Package {
    std::vector<PackageImage> images;  // in send order

    // Sum of the image sizes: the total the progress counts towards.
    std::uint64_t firmwareSize() const;
};

// The members of a ZIP archive (stored or deflated) by name, each checked against its CRC-32.
// Directory entries are left out.
using ZipMembers = std::map<std::string, std::vector<std::uint8_t>, std::less<>>;
std::optional<ZipMembers> readZip(std::span<const std::uint8_t> archive, std::string& error);

// Reads the archive and its manifest; the images come back in send order.
std::optional<Package> readPackage(std::span<const std::uint8_t> archive, std::string& error);

// Reads the package file at a UTF-8 path.
std::optional<Package> readPackageFile(const std::string& path, std::string& error);

// Checks that every init packet decodes, names the image's type, and that its size and
// SHA-256 match the image. True when the whole package can be sent.
bool validatePackage(const Package& package, std::string& error);

}  // namespace qor::dfu
