// The serial device table from a private HKEY_LOCAL_MACHINE\hardware\devicemap\serialcomm.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>

#include "frontend/PortNames.h"
#include "platform/PortTable.h"
#include "tests/frontend/win32/RegistryRedirect.h"

namespace qor::platform {
namespace {

const wchar_t* const kTable = L"hardware\\devicemap\\serialcomm";

TEST(PortTableRegistry, EnumerationOrderAndTextValuesOnly) {
    test::RegistryRedirect machine(HKEY_LOCAL_MACHINE);
    const auto setText = [&](const wchar_t* name, const wchar_t* port, bool withNul = true) {
        const auto bytes =
            static_cast<DWORD>((std::wcslen(port) + (withNul ? 1 : 0)) * sizeof(wchar_t));
        machine.setValue(kTable, name, REG_SZ, port, bytes);
    };
    setText(L"\\Device\\Serial0", L"COM1");
    setText(L"\\Device\\VCP0", L"COM5");
    setText(L"\\device\\vcp1", L"COM7", false);  // stored without its terminating NUL
    const DWORD number = 9;
    machine.setValue(kTable, L"\\Device\\VCP2", REG_DWORD, &number, sizeof number);

    std::vector<std::pair<std::string, std::string>> pairs;
    for (const SerialDevice& device : readSerialDevices()) {
        pairs.emplace_back(device.deviceName, device.portName);
    }
    // The registry enumerates values in the order they were written.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"\\Device\\Serial0", "COM1"}, {"\\Device\\VCP0", "COM5"}, {"\\device\\vcp1", "COM7"}};
    EXPECT_EQ(pairs, expected);
    EXPECT_EQ(listOfferedPorts(), (std::vector<std::string>{"COM5", "COM7"}));
}

TEST(PortTableRegistry, NoTableNoPorts) {
    const test::RegistryRedirect machine(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(readSerialDevices().empty());
}

}  // namespace
}  // namespace qor::platform
