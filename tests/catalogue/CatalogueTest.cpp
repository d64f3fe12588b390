#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueTestSeam.h"
#include "catalogue/DescriptorFile.h"

namespace qor {
namespace {

const TBl3FileHeader kBuiltin{26156, 2, 5, 18, 35, "19.08.2019 15:36:40", 5, 0};
const TBl3FileHeader kStale{1, 2, 3, 4, 5, "stale", 6, 7};

struct Entry {
    bool found = false;
    TBl3FileHeader header = kStale;
    std::uint32_t size = 99;
    std::uint32_t length = 99;
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>("x");
};

Entry fetch(std::int32_t index) {
    Entry e;
    e.found = getFirmware(index, e.header, e.size, e.length, e.data);
    return e;
}

// A descriptor file in the temporary directory, removed again when the test ends.
class TempFile {
  public:
    explicit TempFile(const std::string& text)
        : path_(std::filesystem::temp_directory_path() /
                ("qor_catalogue_test_" + std::to_string(counter_++) + "_" +
                 std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".txt")) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string path() const { return path_.string(); }

  private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

std::string descriptorText(const TBl3FileHeader& h, const char* newline) {
    std::ostringstream out;
    out << "bootloader=" << h.qor_bl << newline << "bootloader version=" << h.qor_bl_ver << newline
        << "class=" << h.qor_class << newline << "versionH=" << h.qor_verH << newline
        << "versionL=" << h.qor_verL << newline << "platform=" << h.qor_platform << newline
        << "print=" << h.qor_print << newline << "date=" << h.qor_date << newline;
    return out.str();
}

TEST(Catalogue, OneBuiltinImage) {
    EXPECT_EQ(getFirmwareCount(), 1);
    EXPECT_EQ(builtinFileHeader(), kBuiltin);
    const Entry e = fetch(1);
    EXPECT_TRUE(e.found);
    EXPECT_EQ(e.header, kBuiltin);
    EXPECT_EQ(e.size, builtinPackage().size());
    EXPECT_EQ(e.length, 0u);
    EXPECT_EQ(e.data, builtinPackage().data());
    ASSERT_GE(e.size, 4u);
    EXPECT_EQ(std::memcmp(e.data, "PK\x03\x04", 4), 0);
}

TEST(Catalogue, InitialState) {
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    const Entry e = fetch(0);
    EXPECT_TRUE(e.found);
    EXPECT_EQ(e.header, TBl3FileHeader{});
    EXPECT_EQ(e.size, 0u);
    EXPECT_EQ(e.length, 0u);
    EXPECT_EQ(e.data, nullptr);
}

TEST(Catalogue, IndexesWithoutEntry) {
    for (const std::int32_t index : {2, -1, INT_MIN, INT_MAX}) {
        const Entry e = fetch(index);
        EXPECT_FALSE(e.found) << index;
        // Class, platform and print are cleared, the other fields keep what they held.
        TBl3FileHeader expected = kStale;
        expected.qor_class = expected.qor_platform = expected.qor_print = 0xFFFF;
        EXPECT_EQ(e.header, expected) << index;
        EXPECT_EQ(e.size, 0u);
        EXPECT_EQ(e.length, 0u);
        EXPECT_EQ(e.data, nullptr);

        TBl3FileHeader header = kStale;
        getFirmwareHeader(index, header);
        EXPECT_EQ(header, (TBl3FileHeader{0xFFFF, 0, 0, 0xFFFF, 0xFFFF, "", 0, 0})) << index;
    }
    TBl3FileHeader header = kStale;
    getFirmwareHeader(1, header);
    EXPECT_EQ(header, kBuiltin);
}

TEST(Catalogue, DescriptorFilesFillEntryZero) {
    test::ScopedCatalogueState restore;
    const TBl3FileHeader first{26156, 2, 7, 18, 35, "20.01.2020", 2, 1};
    const TBl3FileHeader second{26155, 1, 12, 19, 36, "", 3, 4};
    const TempFile firstFile(descriptorText(first, "\r\n"));
    const TempFile secondFile(descriptorText(second, "\n"));
    selectedFirmwareIndex = -1;

    EXPECT_TRUE(readLoadedFileHeader(firstFile.path()));
    EXPECT_EQ(fetch(0).header, first);
    EXPECT_TRUE(readLoadedFileHeader(secondFile.path()));
    EXPECT_EQ(fetch(0).header, second);
    EXPECT_EQ(loadedFileHeader(), second);
    // Setting the index is the caller's business.
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);

    // A failing file leaves the fields read before the failure.
    const TempFile broken("bootloader=2\nbootloader version=9\nclass=\n");
    EXPECT_THROW(readLoadedFileHeader(broken.path()), EDescriptorFile);
    TBl3FileHeader expected = second;
    expected.qor_bl = 2;
    expected.qor_bl_ver = 9;
    EXPECT_EQ(loadedFileHeader(), expected);
}

TEST(Catalogue, UnopenableDescriptorFiles) {
    test::ScopedCatalogueState restore;
    const std::filesystem::path missing =
        std::filesystem::temp_directory_path() / "qor_catalogue_test_no_such_file.txt";
    std::filesystem::remove(missing);
    for (const std::filesystem::path& path : {missing, std::filesystem::temp_directory_path()}) {
        try {
            readLoadedFileHeader(path.string());
            ADD_FAILURE() << path << " was read";
        } catch (const EDescriptorFile& e) {
            EXPECT_NE(std::string(e.what()).find(path.filename().string()), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(loadedFileHeader(), TBl3FileHeader{});
    }
}

// The worker copies entry 0 while the window reads files into it field by field: every copy
// must be one whole descriptor, never a mix.
TEST(Catalogue, CopiesNeverSeeAHalfReadDescriptor) {
    test::ScopedCatalogueState restore;
    const TBl3FileHeader a{26156, 2, 7, 18, 35, "20.01.2020 a long enough date text", 2, 1};
    const TBl3FileHeader b{26155, 3, 9, 19, 36, "b", 3, 2};
    const std::string textA = descriptorText(a, "\n");
    const std::string textB = descriptorText(b, "\r\n");
    {
        std::istringstream first(textA);
        readLoadedFileHeader(first);
    }
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            std::istringstream file(i % 2 == 0 ? textB : textA);
            readLoadedFileHeader(file);
        }
        done = true;
    });
    int mixed = 0;
    int copies = 0;
    while (!done.load()) {
        TBl3FileHeader header;
        getFirmwareHeader(0, header);
        mixed += (header != a && header != b) ? 1 : 0;
        ++copies;
    }
    writer.join();
    EXPECT_EQ(mixed, 0) << "of " << copies << " copies";
}

TEST(Catalogue, TestSeamAddsAndRestoresEntries) {
    const TBl3FileHeader kind4{26157, 1, 3, 19, 36, "01.02.2020", 4, 2};
    const std::vector<std::uint8_t> image{0xC0, 0xDB, 0x00, 0x7F, 0xFF};
    {
        const test::ScopedBuiltinEntry added(kind4, image, 1234, 5);
        EXPECT_EQ(added.index(), 2);
        EXPECT_EQ(getFirmwareCount(), 2);
        EXPECT_EQ(fetch(1).header, kBuiltin);
        const Entry e = fetch(2);
        EXPECT_TRUE(e.found);
        EXPECT_EQ(e.header, kind4);
        EXPECT_EQ(e.size, 1234u);
        EXPECT_EQ(e.length, 5u);
        ASSERT_NE(e.data, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(e.data, e.data + image.size()), image);
        {
            const test::ScopedBuiltinEntry only(kBuiltin, {}, 7, 0,
                                                test::ScopedBuiltinEntry::Placement::only);
            EXPECT_EQ(only.index(), 1);
            EXPECT_EQ(getFirmwareCount(), 1);
            EXPECT_EQ(fetch(1).size, 7u);
        }
        EXPECT_EQ(getFirmwareCount(), 2);
        EXPECT_EQ(fetch(2).header, kind4);
    }
    EXPECT_EQ(getFirmwareCount(), 1);
    EXPECT_FALSE(fetch(2).found);
    EXPECT_EQ(fetch(1).data, builtinPackage().data());
}

TEST(Catalogue, StateGuardRestoresIndexAndEntryZero) {
    const TBl3FileHeader before = loadedFileHeader();
    {
        test::ScopedCatalogueState restore;
        selectedFirmwareIndex = 1;
        std::istringstream file(descriptorText(kStale, "\n"));
        readLoadedFileHeader(file);
    }
    EXPECT_EQ(selectedFirmwareIndex.load(), -1);
    EXPECT_EQ(loadedFileHeader(), before);
}

}  // namespace
}  // namespace qor
