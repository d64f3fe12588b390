// Redirects a predefined registry key (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE) of this process
// into a fresh volatile key of its own for the life of the object, so that tests neither read
// nor touch the machine's or the user's own entries.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace qor::test {

class RegistryRedirect {
  public:
    explicit RegistryRedirect(HKEY predefined) : predefined_(predefined) {
        name_ = L"Software\\QorTests\\redirect-" + std::to_wstring(GetCurrentProcessId());
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &private_, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegOverridePredefKey(predefined_, private_), ERROR_SUCCESS);
    }
    ~RegistryRedirect() {
        RegOverridePredefKey(predefined_, nullptr);
        RegDeleteTreeW(private_, nullptr);
        RegCloseKey(private_);
        RegDeleteKeyW(HKEY_CURRENT_USER, name_.c_str());
    }
    RegistryRedirect(const RegistryRedirect&) = delete;
    RegistryRedirect& operator=(const RegistryRedirect&) = delete;

    // Sets a value under the redirected key's subkey path, creating the subkeys.
    void setValue(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data,
                  DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(predefined_, subKey, 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

  private:
    HKEY predefined_;
    std::wstring name_;
    HKEY private_ = nullptr;
};

}  // namespace qor::test
