// Service mode from the registry, in a private HKEY_CURRENT_USER.
#include <gtest/gtest.h>
#include <windows.h>

#include "frontend/StartupOptions.h"
#include "tests/frontend/win32/RegistryRedirect.h"

namespace qor {
namespace {

TEST(RegistrySettings, MissingKeyMeansNormalModeAndIsNotCreated) {
    const test::RegistryRedirect user(HKEY_CURRENT_USER);
    EXPECT_FALSE(isServiceMode());
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vandrel\\Qor", 0, KEY_READ, &key),
              ERROR_SUCCESS);
}

TEST(RegistrySettings, OnlyTheDwordUnlockNumber) {
    test::RegistryRedirect user(HKEY_CURRENT_USER);
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
        user.setValue(L"Software\\Vandrel\\Qor", L"intern", c.type, c.data, c.size);
        EXPECT_EQ(isServiceMode(), c.service) << c.what;
    }
}

}  // namespace
}  // namespace qor
