// The device-change broadcast as the window receives it: only the main window's copy of a port
// arrival or removal counts.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <dbt.h>

#include "platform/DeviceChange.h"

namespace qor::platform {
namespace {

TEST(DeviceChangeMessage, PortArrivalToTheWatchedWindow) {
    DEV_BROADCAST_HDR port{};
    port.dbch_size = sizeof port;
    port.dbch_devicetype = DBT_DEVTYP_PORT;
    DEV_BROADCAST_HDR volume = port;
    volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
    const HWND watched = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
    const HWND other = reinterpret_cast<HWND>(std::uintptr_t{0x5678});
    const auto message = [](HWND hwnd, UINT code, WPARAM event, const DEV_BROADCAST_HDR* header) {
        MSG msg{};
        msg.hwnd = hwnd;
        msg.message = code;
        msg.wParam = event;
        msg.lParam = reinterpret_cast<LPARAM>(header);
        return msg;
    };
    struct Case {
        MSG msg;
        bool portChange;
    };
    const Case cases[] = {
        {message(watched, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &port), true},
        {message(watched, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &port), true},
        {message(other, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &port), false},
        {message(watched, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &volume), false},
        {message(watched, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, nullptr), false},
        {message(watched, WM_USER, DBT_DEVICEARRIVAL, &port), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isPortChangeMessage(&c.msg, reinterpret_cast<std::uintptr_t>(watched)),
                  c.portChange)
            << c.msg.message << " " << c.msg.wParam;
    }
}

}  // namespace
}  // namespace qor::platform
