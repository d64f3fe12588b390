// Recognising the DFU tool's progress lines ("position/total").
#include <cstdint>
#include <string>
#include <vector>

#include "engine/KECommThread.h"

namespace qor {
namespace {

constexpr char kDelimiter = '/';
constexpr char kQuote = '"';

bool isBlankOrControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= ' ';
}

// Splits like a delimited-text string list that is not strict: blanks and control characters
// end fields and are skipped around them, a leading double quote starts a quoted field ("" for
// one quote), and a delimiter at the very end adds an empty field. A NUL ends the text.
std::vector<std::string> splitDelimited(const std::string& text) {
    std::vector<std::string> fields;
    const std::string s = text.substr(0, text.find('\0'));
    std::size_t p = 0;
    const auto at = [&s](std::size_t i) { return i < s.size() ? s[i] : '\0'; };
    while (isBlankOrControl(at(p))) {
        ++p;
    }
    while (at(p) != '\0') {
        std::string field;
        if (at(p) == kQuote) {
            ++p;
            while (at(p) != '\0') {
                if (at(p) == kQuote) {
                    if (at(p + 1) == kQuote) {
                        field += kQuote;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                field += at(p++);
            }
        } else {
            const std::size_t start = p;
            while (static_cast<unsigned char>(at(p)) > ' ' && at(p) != kDelimiter) {
                ++p;
            }
            field = s.substr(start, p - start);
        }
        fields.push_back(field);
        while (isBlankOrControl(at(p))) {
            ++p;
        }
        if (at(p) == kDelimiter) {
            if (at(p + 1) == '\0') {
                fields.emplace_back();
            }
            do {
                ++p;
            } while (isBlankOrControl(at(p)));
        }
    }
    return fields;
}

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v;
}

// Decimal with an optional sign, or hexadecimal after "$" or "0x"; 32-bit signed range
// (hexadecimal up to FFFFFFFF, taken as its 32-bit pattern).
bool toInt32(const std::string& field, std::int32_t& out) {
    std::size_t p = 0;
    bool negative = false;
    if (p < field.size() && (field[p] == '+' || field[p] == '-')) {
        negative = field[p] == '-';
        ++p;
    }
    int base = 10;
    if (p < field.size() && field[p] == '$') {
        base = 16;
        ++p;
    } else if (p + 1 < field.size() && field[p] == '0' &&
               (field[p + 1] == 'x' || field[p + 1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (p == field.size()) {
        return false;
    }
    std::uint64_t value = 0;
    for (; p < field.size(); ++p) {
        const int d = digitValue(field[p], base);
        if (d < 0) {
            return false;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    if (base == 10) {
        if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) {
            return false;
        }
        const auto signedValue = static_cast<std::int64_t>(value);
        out = static_cast<std::int32_t>(negative ? -signedValue : signedValue);
        return true;
    }
    const auto pattern = static_cast<std::uint32_t>(value);
    out = static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    return true;
}

}  // namespace

bool TKECommThread::parseProgressLine(const std::string& text, std::int32_t& n, std::int32_t& m) {
    const std::vector<std::string> fields = splitDelimited(text);
    std::int32_t first = 0;
    std::int32_t second = 0;
    if (fields.size() != 2 || !toInt32(fields[0], first) || !toInt32(fields[1], second)) {
        return false;
    }
    n = first;
    m = second;
    return true;
}

}  // namespace qor
