#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "catalogue/DescriptorFile.h"

namespace qor {
namespace {

TEST(DescriptorFile, GetKeyValue) {
    struct Case {
        const char* line;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"class=26156", "class", "26156"},
        {"date=a=b", "date", "a=b"},
        {"date= x ", "date", " x "},
        {"bootloader version=1", "bootloader version", "1"},
        {"bootloader version=1", "bootloader", ""},
        {"bootloader=2", "bootloader version", ""},
        {"class =5", "class", ""},
        {" class=5", "class", ""},
        {"Class=5", "class", ""},
        {"class5", "class", ""},
        {"class=", "class", ""},
        {"", "class", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(getKeyValue(c.line, c.key), c.value) << c.line << " / " << c.key;
    }
}

TEST(DescriptorFile, ParseInteger) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"26156", 26156},
        {"007", 7},
        {"   42", 42},
        {"+7", 7},
        {"-1", -1},
        {"  -5", -5},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"$662C", 26156},
        {"0x662C", 26156},
        {"0X662c", 26156},
        {"x1F", 31},
        {"X1f", 31},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"0x0000000000000001", 1},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"$100000000", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"2 ", std::nullopt},
        {"1 2", std::nullopt},
        {"\t3", std::nullopt},
        {"2x", std::nullopt},
        {"12a", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"0xG", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"- 1", std::nullopt},
        {"1.0", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

const TBl3FileHeader kBefore{0x1111, 0x2222, 0x3333, 0x4444, 0x5555, "before", 0x6666, 0x7777};
const std::string kExample =
    "bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\nversionL=7\n"
    "platform=18\nprint=35\ndate=20.01.2020\n";
const TBl3FileHeader kExampleHeader{26156, 2, 7, 18, 35, "20.01.2020", 2, 1};

// The example with one line replaced (1-based); an empty replacement drops the line's text.
std::string exampleWith(int lineNumber, const std::string& line) {
    std::istringstream in(kExample);
    std::string out;
    std::string current;
    for (int n = 1; std::getline(in, current); ++n) {
        out += (n == lineNumber ? line : current) + "\n";
    }
    return out;
}

TBl3FileHeader exampleHeaderWith(void (*change)(TBl3FileHeader&)) {
    TBl3FileHeader header = kExampleHeader;
    change(header);
    return header;
}

struct FileCase {
    const char* what;
    std::string text;
    TBl3FileHeader expected;  // after the read, also after a failure
    int failingLine;          // 0: the read succeeds
};

// The fields that a failure at failingLine has already written; the others keep kBefore.
TBl3FileHeader writtenUntil(int failingLine) {
    TBl3FileHeader header = kBefore;
    std::uint16_t TBl3FileHeader::*const numbers[] = {
        &TBl3FileHeader::qor_bl,    &TBl3FileHeader::qor_bl_ver, &TBl3FileHeader::qor_class,
        &TBl3FileHeader::qor_verH,  &TBl3FileHeader::qor_verL,   &TBl3FileHeader::qor_platform,
        &TBl3FileHeader::qor_print,
    };
    for (int i = 0; i < failingLine - 1; ++i) {
        header.*numbers[i] = kExampleHeader.*numbers[i];
    }
    return header;
}

class DescriptorFileRead : public testing::TestWithParam<FileCase> {};

TEST_P(DescriptorFileRead, ReadsEightLinesFieldByField) {
    const FileCase& c = GetParam();
    std::istringstream file(c.text);
    TBl3FileHeader header = kBefore;
    if (c.failingLine == 0) {
        EXPECT_TRUE(readBl3FileHeader(file, header));
    } else {
        try {
            readBl3FileHeader(file, header);
            ADD_FAILURE() << "read did not fail";
        } catch (const EDescriptorFile& e) {
            EXPECT_NE(std::string(e.what()).find("line " + std::to_string(c.failingLine)),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(header, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptorFileRead,
    testing::Values(
        FileCase{"example", kExample, kExampleHeader, 0},
        FileCase{"crlf",
                 "bootloader=3\r\nbootloader version=1\r\nclass=26156\r\nversionH=2\r\n"
                 "versionL=7\r\nplatform=18\r\nprint=35\r\ndate=20.01.2020 \r\n",
                 exampleHeaderWith([](TBl3FileHeader& h) {
                     h.qor_bl = 3;
                     h.qor_date = "20.01.2020 ";
                 }),
                 0},
        FileCase{"no final newline, lines after the eighth ignored",
                 kExample + "bootloader=3\nclass=x", kExampleHeader, 0},
        FileCase{"no final newline", kExample.substr(0, kExample.size() - 1), kExampleHeader, 0},
        FileCase{"date=a=b", exampleWith(8, "date=a=b"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_date = "a=b"; }), 0},
        FileCase{"bootloader=5", exampleWith(1, "bootloader=5"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_bl = 0xFFFF; }), 0},
        FileCase{"bootloader= 2", exampleWith(1, "bootloader= 2"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_bl = 0xFFFF; }), 0},
        FileCase{"bootloader=02", exampleWith(1, "bootloader=02"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_bl = 0xFFFF; }), 0},
        FileCase{"first line no bootloader line", exampleWith(1, "hello"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_bl = 0xFFFF; }), 0},
        FileCase{"byte-order mark", "\xEF\xBB\xBF" + kExample,
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_bl = 0xFFFF; }), 0},
        FileCase{"low 16 bits", exampleWith(7, "print=-1"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_print = 0xFFFF; }), 0},
        FileCase{"65536 stores 0", exampleWith(5, "versionL=65536"),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_verL = 0; }), 0},
        FileCase{"hex class", exampleWith(3, "class=0x662C"), kExampleHeader, 0},
        FileCase{"seven lines", kExample.substr(0, kExample.find("date=")),
                 exampleHeaderWith([](TBl3FileHeader& h) { h.qor_date.clear(); }), 0},
        FileCase{"six lines", kExample.substr(0, kExample.find("print=")), writtenUntil(7), 7},
        FileCase{"empty file", "",
                 [] {
                     TBl3FileHeader h = kBefore;
                     h.qor_bl = 0xFFFF;
                     return h;
                 }(),
                 2},
        FileCase{"trailing blank", exampleWith(4, "versionH=2 "), writtenUntil(4), 4},
        FileCase{"class= and nothing", exampleWith(3, "class="), writtenUntil(3), 3},
        FileCase{"other case", exampleWith(3, "Class=26156"), writtenUntil(3), 3},
        FileCase{"blank before =", exampleWith(3, "class =26156"), writtenUntil(3), 3},
        FileCase{"keys in another order",
                 "class=26156\nbootloader=2\nbootloader version=1\nversionH=2\nversionL=7\n"
                 "platform=18\nprint=35\ndate=20.01.2020\n",
                 [] {
                     TBl3FileHeader h = kBefore;
                     h.qor_bl = 0xFFFF;
                     return h;
                 }(),
                 2},
        FileCase{"out of range", exampleWith(6, "platform=4294967296"), writtenUntil(6), 6}),
    [](const testing::TestParamInfo<FileCase>& param) {
        std::string name;
        for (const char c : std::string(param.param.what)) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

// A stream that delivers some text and then fails as a broken device would.
class FailingBuffer : public std::streambuf {
  public:
    explicit FailingBuffer(std::string text) : text_(std::move(text)) {
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }

  protected:
    int_type underflow() override { throw std::runtime_error("device gone"); }

  private:
    std::string text_;
};

TEST(DescriptorFile, ReadFailureKeepsFieldsReadBefore) {
    FailingBuffer buffer("bootloader=2\nbootloader version=1\nclass=261");
    std::istream file(&buffer);
    TBl3FileHeader header = kBefore;
    EXPECT_THROW(readBl3FileHeader(file, header), EDescriptorFile);
    EXPECT_EQ(header, writtenUntil(3));
}

}  // namespace
}  // namespace qor
