#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/dfu/DfuTestSupport.h"
#include "tools/dfu/Package.h"

namespace qor::dfu {
namespace {

using test::Bytes;
using test::ZipEntry;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class PackageCompression : public ::testing::TestWithParam<bool> {};

TEST_P(PackageCompression, ReadsAnApplicationPackage) {
    const Bytes image = test::testImage(10000);
    const Bytes zip = test::applicationPackage(image, GetParam());
    std::string error;
    const auto package = readPackage(zip, error);
    ASSERT_TRUE(package) << error;
    ASSERT_EQ(package->images.size(), 1u);
    const auto& app = package->images[0];
    EXPECT_EQ(app.kind, ImageKind::Application);
    EXPECT_EQ(app.binFile, "app.bin");
    EXPECT_EQ(app.bin, image);
    EXPECT_EQ(app.dat, test::signedInitPacket(test::applicationFields(image)));
    EXPECT_EQ(package->firmwareSize(), 10000u);
    EXPECT_TRUE(validatePackage(*package, error)) << error;
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, PackageCompression, ::testing::Bool());

TEST(Package, ReturnsImagesInSendOrderWhateverTheManifestOrder) {
    const std::string manifest = R"({"manifest": {
        "application": {"bin_file": "a.bin", "dat_file": "a.dat"},
        "softdevice": {"bin_file": "s.bin", "dat_file": "s.dat"},
        "dfu_version": 0.5,
        "bootloader": {"bin_file": "b.bin", "dat_file": "b.dat"},
        "softdevice_bootloader": {"bin_file": "sb.bin", "dat_file": "sb.dat",
                                  "info_read_only_metadata": {"bl_size": 1, "sd_size": 2}}}})";
    std::vector<ZipEntry> entries = {{"manifest.json", text(manifest), true}};
    for (const char* name : {"a", "s", "b", "sb"}) {
        entries.push_back({std::string(name) + ".bin", text(name), false});
        entries.push_back({std::string(name) + ".dat", text(name), true});
    }
    std::string error;
    const auto package = readPackage(test::makeZip(entries), error);
    ASSERT_TRUE(package) << error;
    std::vector<std::string> order;
    for (const auto& image : package->images) {
        order.emplace_back(imageKindName(image.kind));
        EXPECT_EQ(image.bin, image.dat);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"softdevice_bootloader", "softdevice", "bootloader",
                                               "application"}));
}

TEST(Package, RejectsMalformedArchivesAndManifests) {
    const Bytes image = test::testImage(3000);
    const Bytes dat = test::signedInitPacket(test::applicationFields(image));
    const auto withManifest = [&](const std::string& manifest) {
        return test::makeZip({{"manifest.json", text(manifest), false},
                              {"app.bin", image, true},
                              {"app.dat", dat, false}});
    };
    Bytes badCrc = test::applicationPackage(image, false);
    const auto imageAt = std::search(badCrc.begin(), badCrc.end(), image.begin(), image.end());
    ASSERT_NE(imageAt, badCrc.end());
    imageAt[1000] ^= 0x01;
    Bytes badMethod = test::applicationPackage(image, false);
    badMethod[8] = 12;  // local header method; the central one still says stored
    Bytes centralMethod = test::applicationPackage(image, false);
    const auto eocd = centralMethod.size() - 22;
    const std::size_t directory = centralMethod[eocd + 16] | (centralMethod[eocd + 17] << 8) |
                                  (centralMethod[eocd + 18] << 16);
    centralMethod[directory + 10] = 12;
    centralMethod[8] = 12;  // and in the local header
    Bytes badDeflate = test::applicationPackage(image, true);
    badDeflate[60] ^= 0xFF;  // inside the deflated manifest
    Bytes badOffset = test::applicationPackage(image, false);
    badOffset[eocd + 16] = 0xF0;

    struct Case {
        const char* what;
        Bytes zip;
        const char* errorPart;
    };
    const std::vector<Case> cases = {
        {"not a ZIP", text("this is no archive at all, just some text"), "ZIP"},
        {"empty file", {}, "ZIP"},
        {"stored data changed", badCrc, "CRC"},
        {"unknown compression method", centralMethod, "compression method 12"},
        {"corrupt deflate stream", badDeflate, "manifest.json"},
        {"directory offset beyond the archive", badOffset, "ZIP"},
        {"no manifest", test::makeZip({{"app.bin", image, false}}), "manifest.json"},
        {"manifest not JSON", withManifest("{\"manifest\": "), "JSON"},
        {"manifest without manifest object", withManifest("{\"other\": {}}"), "manifest"},
        {"manifest is an array", withManifest("[1, 2]"), "manifest"},
        {"no image", withManifest("{\"manifest\": {\"dfu_version\": 0.5}}"), "no image"},
        {"image without dat_file",
         withManifest(R"({"manifest": {"application": {"bin_file": "app.bin"}}})"), "dat_file"},
        {"image entry not an object", withManifest(R"({"manifest": {"application": 5}})"),
         "bin_file"},
        {"bin_file not a string",
         withManifest(R"({"manifest": {"application": {"bin_file": 1, "dat_file": "app.dat"}}})"),
         "bin_file"},
        {"member missing",
         withManifest(
             R"({"manifest": {"application": {"bin_file": "x.bin", "dat_file": "app.dat"}}})"),
         "x.bin"},
        {"duplicate member",
         test::makeZip(
             {{"manifest.json", text("{}"), false}, {"manifest.json", text("{}"), false}}),
         "twice"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(readPackage(c.zip, error)) << c.what;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.what << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(readPackage(badMethod, error));
    EXPECT_NE(error.find("local header"), std::string::npos) << error;
}

TEST(Package, TruncatedArchivesAreRejectedWithoutReadingPastTheEnd) {
    const Bytes zip = test::applicationPackage(test::testImage(2000), true);
    std::string error;
    for (std::size_t n = 0; n < zip.size(); n += 7) {
        const Bytes prefix(zip.begin(), zip.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(readPackage(prefix, error)) << n;
    }
}

TEST(Package, ValidationComparesInitPacketWithItsImage) {
    const Bytes image = test::testImage(5000);
    const auto good = test::applicationFields(image);
    auto wrongSize = good;
    wrongSize.appSize = 4999;
    auto wrongHash = good;
    wrongHash.hash[0] ^= 1;
    auto straightHash = good;  // most significant byte first: not how the hash is stored
    std::reverse(straightHash.hash.begin(), straightHash.hash.end());
    auto wrongType = good;
    wrongType.type = 2;  // BOOTLOADER for an application image
    auto shortHash = good;
    shortHash.hash.resize(20);
    struct Case {
        const char* what;
        Bytes dat;
        const char* errorPart;
    };
    const std::vector<Case> cases = {
        {"size", test::signedInitPacket(wrongSize), "declares 4999 bytes"},
        {"hash", test::signedInitPacket(wrongHash), "SHA-256"},
        {"hash byte order", test::signedInitPacket(straightHash), "SHA-256"},
        {"type", test::signedInitPacket(wrongType), "firmware type 2"},
        {"hash length", test::signedInitPacket(shortHash), "SHA-256"},
        {"not decodable", Bytes{0x12, 0x40, 0x0A}, "does not decode"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto package = readPackage(test::applicationPackage(image, c.dat), error);
        ASSERT_TRUE(package) << c.what << ": " << error;
        EXPECT_FALSE(validatePackage(*package, error)) << c.what;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.what << ": " << error;
    }
    // An empty image with a matching init packet would "succeed" without sending anything.
    std::string error;
    const auto empty = readPackage(test::applicationPackage(Bytes{}), error);
    ASSERT_TRUE(empty) << error;
    EXPECT_FALSE(validatePackage(*empty, error));
    EXPECT_NE(error.find("is empty"), std::string::npos) << error;
}

TEST(Package, ReadsFilesAndNamesAMissingOne) {
    const auto dir = std::filesystem::temp_directory_path() / "qor dfu package test";
    std::filesystem::create_directories(dir);
    const auto path = dir / "with blank.zip";
    const Bytes zip = test::applicationPackage(test::testImage(100));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
    std::string error;
    EXPECT_TRUE(readPackageFile(path.string(), error)) << error;
    const std::string missing = (dir / "missing.zip").string();
    EXPECT_FALSE(readPackageFile(missing, error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qor::dfu
