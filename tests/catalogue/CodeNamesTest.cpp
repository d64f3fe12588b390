#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "catalogue/CodeNames.h"

namespace qor {
namespace {

constexpr std::uint16_t kNoVariant = 0xFFFF;

std::set<std::uint16_t> codes(std::initializer_list<std::pair<int, int>> ranges) {
    std::set<std::uint16_t> result;
    for (const auto& [first, last] : ranges) {
        for (int code = first; code <= last; ++code) {
            result.insert(static_cast<std::uint16_t>(code));
        }
    }
    return result;
}

struct Table {
    const char* what;
    std::string (*name)(std::uint16_t);
    std::uint16_t (*check)(std::uint16_t);  // null: class codes have no check
    std::set<std::uint16_t> named;
};

std::string className(std::uint16_t code) {
    return getClassName(code, kNoVariant);
}

// Every one of the 65536 codes: named exactly when the set says so, names short and never "?",
// and the validity check agrees with the name.
TEST(CodeNames, NamedCodeSetsAreExact) {
    const Table tables[] = {
        {"class", className, nullptr,
         codes({{26000, 26000}, {26113, 26124}, {26126, 26159}, {51200, 51202}})},
        {"platform", getPlatformName, checkPlatform, codes({{0, 24}, {65534, 65534}})},
        {"print", getPrintName, checkPrint, codes({{0, 40}, {43, 50}})},
    };
    for (const Table& table : tables) {
        std::set<std::uint16_t> named;
        for (int code = 0; code <= 0xFFFF; ++code) {
            const auto c = static_cast<std::uint16_t>(code);
            const std::string name = table.name(c);
            if (name != "?") {
                named.insert(c);
                EXPECT_LE(name.size(), 16u) << table.what << " " << code << " " << name;
                EXPECT_FALSE(name.empty()) << table.what << " " << code;
            }
            if (table.check != nullptr) {
                EXPECT_EQ(table.check(c), name != "?" ? c : 0xFFFF) << table.what << " " << code;
            }
        }
        EXPECT_EQ(named, table.named) << table.what;
    }
}

TEST(CodeNames, BoundaryCodes) {
    EXPECT_EQ(className(26125), "?");
    EXPECT_EQ(className(26160), "?");
    EXPECT_EQ(className(0xC803), "?");
    EXPECT_NE(className(26000), "?");
    EXPECT_NE(className(26159), "?");
    EXPECT_NE(className(0xC800), "?");
    EXPECT_EQ(checkPlatform(18), 18);
    EXPECT_EQ(checkPlatform(25), 0xFFFF);
    EXPECT_EQ(checkPlatform(0xFFFE), 0xFFFE);
    EXPECT_EQ(checkPlatform(0xFFFF), 0xFFFF);
    EXPECT_EQ(checkPrint(35), 35);
    EXPECT_EQ(checkPrint(41), 0xFFFF);
    EXPECT_EQ(checkPrint(42), 0xFFFF);
    EXPECT_EQ(checkPrint(50), 50);
    EXPECT_EQ(checkPrint(51), 0xFFFF);
}

// 26135 and 26145: WLAN boards, Bluetooth LE boards, and every other key the family name.
TEST(CodeNames, VariantNamesFollowTheKey) {
    for (const std::uint16_t code : std::initializer_list<std::uint16_t>{26135, 26145}) {
        const std::string wlan = getClassName(code, 38);
        const std::string ble = getClassName(code, 39);
        const std::string family = getClassName(code, kNoVariant);
        EXPECT_NE(wlan, ble);
        EXPECT_NE(ble, family);
        EXPECT_NE(wlan, family);
        EXPECT_EQ(getClassName(code, 47), wlan);
        EXPECT_EQ(getClassName(code, 48), ble);
        for (const std::uint16_t key :
             std::initializer_list<std::uint16_t>{0, 35, 37, 40, 46, 49, 0x0126, 0x2600, 0xFFFE}) {
            EXPECT_EQ(getClassName(code, key), family) << code << " key " << key;
        }
        for (const std::string& name : {wlan, ble, family}) {
            EXPECT_NE(name, "?");
            EXPECT_LE(name.size(), 16u);
        }
    }
    // No other class looks at the key, not even the neighbours of the two families.
    for (const std::uint16_t code :
         std::initializer_list<std::uint16_t>{26134, 26136, 26144, 26146, 26156}) {
        for (const std::uint16_t key : std::initializer_list<std::uint16_t>{38, 39, 47, 48}) {
            EXPECT_EQ(getClassName(code, key), className(code)) << code << " key " << key;
        }
    }
}

}  // namespace
}  // namespace qor
