#include "catalogue/DescriptorFile.h"

#include "platform/Files.h"

namespace qor {

namespace {

int digitValue(char c, unsigned base) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (base == 16 && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (base == 16 && c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One line of text in memory without its LF or CR LF, which it consumes; an empty text past the
// end of the file.
std::string takeLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return withoutCarriageReturn(std::move(line));
}

std::string shownValue(std::string_view text) {
    constexpr std::size_t kShown = 40;
    if (text.size() > kShown) {
        return "\"" + std::string(text.substr(0, kShown)) + "...\"";
    }
    return "\"" + std::string(text) + "\"";
}

std::uint16_t readNumberLine(const std::string& line, int lineNumber, std::string_view key) {
    const std::string value = getKeyValue(line, key);
    const std::optional<std::int32_t> number = parseInteger(value);
    if (!number) {
        const std::string where = "Descriptor file line " + std::to_string(lineNumber) + ": ";
        const std::string expected = "\"" + std::string(key) + "=\"";
        throw EDescriptorFile(where + (value.empty() ? "no " + expected + " value"
                                                     : expected + " value " + shownValue(value) +
                                                           " is not a valid integer"));
    }
    // Only the low 16 bits are kept: -1 gives 0xFFFF, 65536 gives 0.
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(*number));
}

std::uint16_t bootloaderKind(std::string_view value) {
    if (value == "2") {
        return 2;
    }
    if (value == "3") {
        return 3;
    }
    return kFieldWithoutValue;
}

}  // namespace

bool readBl3FileHeaderLines(const std::function<std::string()>& nextLine, TBl3FileHeader& header) {
    // The kind is compared as text: " 2", "2 " and "02" are no kind at all.
    header.qor_bl = bootloaderKind(getKeyValue(nextLine(), "bootloader"));
    header.qor_bl_ver = readNumberLine(nextLine(), 2, "bootloader version");
    header.qor_class = readNumberLine(nextLine(), 3, "class");
    header.qor_verH = readNumberLine(nextLine(), 4, "versionH");
    header.qor_verL = readNumberLine(nextLine(), 5, "versionL");
    header.qor_platform = readNumberLine(nextLine(), 6, "platform");
    header.qor_print = readNumberLine(nextLine(), 7, "print");
    header.qor_date = getKeyValue(nextLine(), "date");
    return true;
}

std::string withoutCarriageReturn(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::string getKeyValue(std::string_view line, std::string_view key) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || line.substr(0, equals) != key) {
        return {};
    }
    return std::string(line.substr(equals + 1));
}

std::optional<std::int32_t> parseInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        i += 1;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        i += 1;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0) {
            return std::nullopt;
        }
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    // Decimal numbers must fit a signed 32-bit integer; hex digits are its bit pattern.
    if (base == 10 && magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu)) {
        return std::nullopt;
    }
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative) {
        bits = 0u - bits;
    }
    return static_cast<std::int32_t>(bits);
}

bool readBl3FileHeader(std::string_view text, TBl3FileHeader& header) {
    return readBl3FileHeaderLines([&text] { return takeLine(text); }, header);
}

std::string readDescriptorFile(const std::string& fileName) {
    const std::string message = "Cannot open the descriptor file \"" + fileName + "\"";
    if (platform::fileKind(fileName) == platform::FileKind::Folder) {
        throw EDescriptorFile(message + ": it is a folder");
    }
    std::string text;
    std::string error;
    if (!platform::readWholeFile(fileName, text, error)) {
        throw EDescriptorFile(message + ": " + error);
    }
    return text;
}

}  // namespace qor
