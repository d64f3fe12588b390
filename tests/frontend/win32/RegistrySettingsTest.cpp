// Service mode from the registry. HKEY_CURRENT_USER is redirected into a private key for the
// test's duration, so the user's own settings are neither read nor touched.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "frontend/StartupOptions.h"
#include "platform/Settings.h"

namespace qor {
namespace {

class RegistrySettings : public ::testing::Test {
  protected:
    void SetUp() override {
        privateName_ = L"Software\\QorTests\\settings-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, privateName_.c_str(), 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &private_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, private_), ERROR_SUCCESS);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegDeleteTreeW(private_, nullptr);
        RegCloseKey(private_);
        RegDeleteKeyW(HKEY_CURRENT_USER, privateName_.c_str());
    }

    // Sets "intern" under Software\Vandrel\Qor of the redirected HKEY_CURRENT_USER.
    void setIntern(DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vandrel\\Qor", 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, L"intern", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::wstring privateName_;
    HKEY private_ = nullptr;
};

TEST_F(RegistrySettings, MissingKeyMeansNormalModeAndIsNotCreated) {
    EXPECT_FALSE(isServiceMode());
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vandrel\\Qor", 0, KEY_READ, &key),
              ERROR_SUCCESS);
}

TEST_F(RegistrySettings, OnlyTheDwordUnlockNumber) {
    const DWORD unlock = 4187;
    const DWORD other = 4188;
    const unsigned long long wide = 4187;
    const wchar_t text[] = L"4187";
    const DWORD bigEndian = 0x5B100000;  // 4187 with its bytes swapped
    struct Case {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
        bool service;
    };
    const Case cases[] = {
        {"dword", REG_DWORD, &unlock, sizeof unlock, true},
        {"other number", REG_DWORD, &other, sizeof other, false},
        {"qword", REG_QWORD, &wide, sizeof wide, false},
        {"text", REG_SZ, text, sizeof text, false},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, &bigEndian, sizeof bigEndian, false},
        {"binary of four bytes", REG_BINARY, &unlock, sizeof unlock, false},
    };
    for (const Case& c : cases) {
        setIntern(c.type, c.data, c.size);
        EXPECT_EQ(isServiceMode(), c.service) << c.what;
    }
}

}  // namespace
}  // namespace qor
