#include "catalogue/CodeNames.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace qor {

namespace {

constexpr std::string_view kUnnamed = "?";
constexpr std::size_t kMaxNameLength = 16;

struct CodeName {
    std::uint16_t code;
    std::string_view name;
};

// Logger models, other product lines, radio modules and bootloader generations. 26125 is
// unnamed; 26135 and 26145 are named by their variants below.
constexpr std::array kClassNames{
    CodeName{26000, "Prototype board"}, CodeName{26113, "QOR TH-10"},
    CodeName{26114, "QOR TH-11"},       CodeName{26115, "QOR TH-20"},
    CodeName{26116, "QOR TH-21"},       CodeName{26117, "QOR T-30"},
    CodeName{26118, "QOR T-31"},        CodeName{26119, "QOR TP-40"},
    CodeName{26120, "QOR TP-41"},       CodeName{26121, "QOR H-50"},
    CodeName{26122, "QOR H-51"},        CodeName{26123, "QOR P-60"},
    CodeName{26124, "QOR P-61"},        CodeName{26126, "QOR TH-12"},
    CodeName{26127, "QOR TH-22"},       CodeName{26128, "QOR T-32"},
    CodeName{26129, "QOR TP-42"},       CodeName{26130, "QOR H-52"},
    CodeName{26131, "QOR P-62"},        CodeName{26132, "QOR CO2-70"},
    CodeName{26133, "QOR CO2-71"},      CodeName{26134, "QOR U-80"},
    CodeName{26136, "QOR U-81"},        CodeName{26137, "QOR A-90"},
    CodeName{26138, "QOR A-91"},        CodeName{26139, "QOR LX-15"},
    CodeName{26140, "QOR LX-16"},       CodeName{26141, "QOR Z10"},
    CodeName{26142, "QOR Z11"},         CodeName{26143, "QOR Z20"},
    CodeName{26144, "QOR Z21"},         CodeName{26146, "QOR Z41"},
    CodeName{26147, "QOR Z50"},         CodeName{26148, "QOR Z51"},
    CodeName{26149, "QOR Gateway G1"},  CodeName{26150, "QOR Gateway G2"},
    CodeName{26151, "QOR Display D1"},  CodeName{26152, "QOR Display D2"},
    CodeName{26153, "QOR Base S1"},     CodeName{26154, "QOR Base S2"},
    CodeName{26155, "WLAN module"},     CodeName{26156, "BLE module G2"},
    CodeName{26157, "BLE module G1"},   CodeName{26158, "LoRa module"},
    CodeName{26159, "LTE-M module"},    CodeName{51200, "Bootloader G1"},
    CodeName{51201, "Bootloader G2"},   CodeName{51202, "Bootloader G3"},
};

struct VariantNames {
    std::uint16_t code;
    std::string_view wlan;
    std::string_view ble;
    std::string_view family;
};

constexpr std::array kClassVariants{
    VariantNames{26135, "QOR WLAN-Z30", "QOR BLE-Z30", "QOR Z30"},
    VariantNames{26145, "QOR WLAN-Z40", "QOR BLE-Z40", "QOR Z40"},
};

// Microcontrollers of the logger boards; 18 and 19 are the radio modules.
constexpr std::array kPlatformNames{
    CodeName{0, "MSP430F149"},   CodeName{1, "MSP430F1611"},      CodeName{2, "MSP430F2618"},
    CodeName{3, "MSP430F5419A"}, CodeName{4, "MSP430F5438A"},     CodeName{5, "MSP430FR5969"},
    CodeName{6, "ATmega128"},    CodeName{7, "ATmega2560"},       CodeName{8, "ATxmega128A1"},
    CodeName{9, "AT91SAM7S256"}, CodeName{10, "ATSAM3S4B"},       CodeName{11, "LPC2148"},
    CodeName{12, "LPC1768"},     CodeName{13, "STM32F103RC"},     CodeName{14, "STM32F105RC"},
    CodeName{15, "STM32L151RC"}, CodeName{16, "STM32L152RE"},     CodeName{17, "STM32F407VG"},
    CodeName{18, "u-blox NINA"}, CodeName{19, "SiLabs BlueGiga"}, CodeName{20, "STM32L433RC"},
    CodeName{21, "STM32L476RG"}, CodeName{22, "EFM32GG990"},      CodeName{23, "EFM32WG990"},
    CodeName{24, "STM32H743VI"}, CodeName{65534, "Any platform"},
};

// Board designations. 31 to 36 are radio-module boards; 38, 39, 47 and 48 the WLAN and
// Bluetooth LE logger boards that pick the class-name variants. 41 and 42 are unnamed.
constexpr std::array kPrintNames{
    CodeName{0, "Test board"},     CodeName{1, "LP-101"},        CodeName{2, "LP-102"},
    CodeName{3, "LP-103"},         CodeName{4, "LP-104"},        CodeName{5, "LP-105"},
    CodeName{6, "LP-106"},         CodeName{7, "LP-107"},        CodeName{8, "LP-108"},
    CodeName{9, "LP-109"},         CodeName{10, "LP-110"},       CodeName{11, "LP-111"},
    CodeName{12, "LP-112"},        CodeName{13, "LP-113"},       CodeName{14, "LP-114"},
    CodeName{15, "LP-115"},        CodeName{16, "LP-116"},       CodeName{17, "LP-117"},
    CodeName{18, "LP-118"},        CodeName{19, "LP-119"},       CodeName{20, "LP-120"},
    CodeName{21, "LP-121"},        CodeName{22, "LP-122"},       CodeName{23, "LP-123"},
    CodeName{24, "LP-124"},        CodeName{25, "LP-125"},       CodeName{26, "LP-126"},
    CodeName{27, "LP-127"},        CodeName{28, "LP-128"},       CodeName{29, "LP-129"},
    CodeName{30, "LP-130"},        CodeName{31, "NINA-W1 UART"}, CodeName{32, "NINA-W1 SPI"},
    CodeName{33, "WLAN UART"},     CodeName{34, "WLAN SPI"},     CodeName{35, "NINA-B3 UART"},
    CodeName{36, "BlueGiga UART"}, CodeName{37, "LP-137"},       CodeName{38, "WLAN board A"},
    CodeName{39, "BLE board A"},   CodeName{40, "LP-140"},       CodeName{43, "LP-143"},
    CodeName{44, "LP-144"},        CodeName{45, "LP-145"},       CodeName{46, "LP-146"},
    CodeName{47, "WLAN board B"},  CodeName{48, "BLE board B"},  CodeName{49, "LP-149"},
    CodeName{50, "LP-150"},
};

template <std::size_t N>
constexpr bool isValidTable(const std::array<CodeName, N>& table) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].name.empty() || table[i].name.size() > kMaxNameLength ||
            table[i].name == kUnnamed || (i > 0 && table[i - 1].code >= table[i].code)) {
            return false;
        }
    }
    return true;
}

static_assert(kClassNames.size() + kClassVariants.size() == 50);
static_assert(kPlatformNames.size() == 26);
static_assert(kPrintNames.size() == 49);
static_assert(isValidTable(kClassNames) && isValidTable(kPlatformNames) &&
              isValidTable(kPrintNames));
static_assert(std::all_of(kClassVariants.begin(), kClassVariants.end(), [](const VariantNames& v) {
    return v.wlan.size() <= kMaxNameLength && v.ble.size() <= kMaxNameLength &&
           v.family.size() <= kMaxNameLength && v.wlan != v.ble && v.ble != v.family &&
           v.wlan != v.family;
}));

template <std::size_t N>
std::string lookup(const std::array<CodeName, N>& table, std::uint16_t code) {
    const auto it = std::lower_bound(table.begin(), table.end(), code,
                                     [](const CodeName& e, std::uint16_t c) { return e.code < c; });
    return std::string(it != table.end() && it->code == code ? it->name : kUnnamed);
}

std::uint16_t checked(std::uint16_t code, const std::string& name) {
    return name != kUnnamed ? code : 0xFFFF;
}

}  // namespace

std::string getClassName(std::uint16_t code, std::uint16_t variantKey) {
    for (const VariantNames& v : kClassVariants) {
        if (v.code == code) {
            switch (variantKey) {
                case 38:
                case 47:
                    return std::string(v.wlan);
                case 39:
                case 48:
                    return std::string(v.ble);
                default:
                    return std::string(v.family);
            }
        }
    }
    return lookup(kClassNames, code);
}

std::string getPlatformName(std::uint16_t code) {
    return lookup(kPlatformNames, code);
}

std::string getPrintName(std::uint16_t code) {
    return lookup(kPrintNames, code);
}

std::uint16_t checkPlatform(std::uint16_t code) {
    return checked(code, getPlatformName(code));
}

std::uint16_t checkPrint(std::uint16_t code) {
    return checked(code, getPrintName(code));
}

}  // namespace qor
