// The offered ports come from the registry's serial device table. HKEY_LOCAL_MACHINE is
// redirected into a private key of the test's own for its duration, so that the machine's table
// is neither read nor touched (and no administrator rights are needed).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/PortNames.h"
#include "platform/PortTable.h"

namespace qor {
namespace {

class Win32PortTable : public ::testing::Test {
  protected:
    void SetUp() override {
        privateName_ = L"Software\\QorTests\\machine-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, privateName_.c_str(), 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &private_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, private_), ERROR_SUCCESS);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegDeleteTreeW(private_, nullptr);
        RegCloseKey(private_);
        RegDeleteKeyW(HKEY_CURRENT_USER, privateName_.c_str());
    }

    struct Value {
        const wchar_t* name;
        DWORD type;
        std::wstring text;
    };
    // Creates the table under the redirected HKEY_LOCAL_MACHINE, values in this order.
    void makeTable(const std::vector<Value>& values) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        for (const Value& v : values) {
            const DWORD number = 5;
            const BYTE* data = v.type == REG_DWORD ? reinterpret_cast<const BYTE*>(&number)
                                                   : reinterpret_cast<const BYTE*>(v.text.c_str());
            const DWORD size = v.type == REG_DWORD
                                   ? sizeof number
                                   : static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t));
            ASSERT_EQ(RegSetValueExW(key, v.name, 0, v.type, data, size), ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }

    std::wstring privateName_;
    HKEY private_ = nullptr;
};

// Windows enumerates the values in the order they were written, wine in the order of their
// names; the table is written in name order, so that both give the same order.
TEST_F(Win32PortTable, OffersTheVirtualComPortsOfTheTableInItsOrder) {
    makeTable({{L"\\Device\\NoText", REG_DWORD, L""},
               {L"\\Device\\Serial0", REG_SZ, L"COM1"},
               {L"\\Device\\USBVCP2", REG_SZ, L"COM9"},
               {L"\\Device\\VCP0", REG_SZ, L"COM7"},
               {L"\\device\\vcp1", REG_EXPAND_SZ, L"COM5"}});
    std::vector<std::string> pairs;
    for (const auto& d : platform::readSerialDevices()) {
        pairs.push_back(d.deviceName + "=" + d.portName);
    }
    EXPECT_EQ(pairs, (std::vector<std::string>{"\\Device\\Serial0=COM1", "\\Device\\USBVCP2=COM9",
                                               "\\Device\\VCP0=COM7", "\\device\\vcp1=COM5"}));
    EXPECT_EQ(listOfferedPorts(), (std::vector<std::string>{"COM7", "COM5"}));
}

TEST_F(Win32PortTable, NoTableOffersNothing) {
    EXPECT_TRUE(platform::readSerialDevices().empty());
    EXPECT_TRUE(listOfferedPorts().empty());
}

}  // namespace
}  // namespace qor
