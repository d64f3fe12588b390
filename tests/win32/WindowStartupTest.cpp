// The Win32 main window at start-up: captions, layout in layout units, the idle state, the
// taskbar's application window, tab order, the report window's place and the first idle moment.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <cstdlib>

#include "engine/RunState.h"
#include "platform/win32/WinText.h"
#include "tests/win32/WindowTestSupport.h"
#include "ui/win32/ProtocolWindow.h"
#include "ui/win32/WindowSupport.h"

namespace qor::win32::test {
namespace {

std::string menuText(HMENU menu, UINT position) {
    wchar_t buffer[128] = {};
    GetMenuStringW(menu, position, buffer, 128, MF_BYPOSITION);
    return platform::narrow(buffer);
}

// The Info menu's items, "-" for a separator.
std::vector<std::string> infoItems(HWND main) {
    const HMENU info = GetSubMenu(GetMenu(main), 0);
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(info); ++i) {
        const UINT state = GetMenuState(info, static_cast<UINT>(i), MF_BYPOSITION);
        items.push_back((state & MF_SEPARATOR) != 0 ? "-" : menuText(info, static_cast<UINT>(i)));
    }
    return items;
}

Frame clientSize(HWND hWnd) {
    RECT r{};
    GetClientRect(hWnd, &r);
    return {0, 0, r.right, r.bottom};
}

class Startup : public WindowTest {};

TEST_F(Startup, CaptionsAndIdleState) {
    createWindow();
    const HWND main = window->handle();
    EXPECT_EQ(windowText(main), "QOR BLE-Z40 Firmware Update");
    EXPECT_EQ(menuText(GetMenu(main), 0), "Info v2020-01-07");
    EXPECT_EQ(text(IDC_LABEL1), "Comport:");
    EXPECT_EQ(text(IDC_BTN_PROG), "Update");
    EXPECT_EQ(text(IDC_BTN_FILE), "File");
    EXPECT_EQ(text(IDC_BTN_CLOSE), "Close");
    EXPECT_EQ(text(IDC_BTN_CANCEL), "Cancel");
    EXPECT_EQ(text(IDC_CHK_READ_INFO_ONLY), "Read info only");
    PBRANGE range{};
    SendMessageW(control(IDC_PROGRESS_BAR1), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    expectIdle();

    // Fixed size with minimise and the system menu; the taskbar button belongs to the hidden
    // application window, which carries the application title.
    const LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_EQ(GetWindow(main, GW_OWNER), window->applicationWindow());
    EXPECT_EQ(applicationTitle(), "QOR BLE-Z40 Firmware Update");

    window->show(SW_SHOW);
    dispatch();
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(main, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const Frame f = frameOf(main);
    EXPECT_LE(std::abs(2 * f.left + f.width - monitor.rcWork.left - monitor.rcWork.right), 2);
    EXPECT_LE(std::abs(2 * f.top + f.height - monitor.rcWork.top - monitor.rcWork.bottom), 2);
    const Frame app = frameOf(window->applicationWindow());
    EXPECT_EQ(app.width * app.height, 0) << "the application window is never seen";
    EXPECT_FALSE(IsWindowVisible(windows.frmInfo->handle()));
    EXPECT_FALSE(IsWindowVisible(windows.frmMessage->handle()));
    EXPECT_FALSE(IsWindowVisible(windows.frmProtocol->handle()));
}

// Geometry in layout units on a screen where a unit is a pixel.
TEST_F(Startup, LayoutByServiceLevel) {
    struct Case {
        int level;
        Frame update;
        bool file;
    };
    const Case cases[] = {
        {0, {50, 107, 139, 41}, false},
        {1, {50, 107, 139, 41}, false},
        {2, {50, 107, 69, 41}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        answers.serviceMode = c.level > 0;
        answers.options.serviceLevel = c.level;
        createWindow(120);
        EXPECT_EQ(window->serviceLevel(), c.level);
        EXPECT_EQ(childFrame(control(IDC_BTN_PROG)), c.update);
        EXPECT_EQ(shown(IDC_BTN_FILE), c.file);
        const std::vector<std::string> items =
            c.file ? std::vector<std::string>{"Firmware", "File version", "-", "Exit"}
                   : std::vector<std::string>{"Firmware", "-", "Exit"};
        EXPECT_EQ(infoItems(window->handle()), items);
        if (c.file) {
            EXPECT_EQ(childFrame(control(IDC_BTN_FILE)), (Frame{127, 107, 69, 41}));
        }
        EXPECT_EQ(childFrame(control(IDC_BTN_CLOSE)), (Frame{250, 107, 139, 41}));
        EXPECT_EQ(childFrame(control(IDC_BTN_CANCEL)), (Frame{250, 107, 139, 41}));
        EXPECT_EQ(childFrame(control(IDC_PROGRESS_BAR1)), (Frame{16, 57, 409, 33}));
        EXPECT_EQ(childFrame(control(IDC_CHK_READ_INFO_ONLY)), (Frame{32, 168, 145, 17}));
        Frame port = childFrame(control(IDC_CBX_PORT));
        port.height = 0;  // the edit field's height is the font's
        EXPECT_EQ(port, (Frame{96, 14, 329, 0}));
        const Frame label = childFrame(control(IDC_LABEL1));
        EXPECT_EQ(label.left, 16);
        EXPECT_EQ(label.top, 18);
        // The client area below the menu: the panel (201) and the status bar (19), nothing else.
        EXPECT_EQ(clientSize(window->handle()), (Frame{0, 0, 444, 201 + 19}));
        EXPECT_EQ(childFrame(control(IDC_STATUS_BAR1)), (Frame{0, 201, 444, 19}));
        destroyWindow();
    }
}

TEST_F(Startup, LayoutScalesToTheScreen) {
    createWindow(96);  // 120-dpi units on a 96-dpi screen: four fifths
    EXPECT_EQ(childFrame(control(IDC_BTN_PROG)), (Frame{40, 86, 111, 33}));
    EXPECT_EQ(childFrame(control(IDC_BTN_CLOSE)), (Frame{200, 86, 111, 33}));
    EXPECT_EQ(clientSize(window->handle()), (Frame{0, 0, 355, 161 + 15}));
    EXPECT_EQ(frameOf(windows.frmProtocol->handle()).width, frameOf(window->handle()).width);
}

TEST_F(Startup, StatusLetterAndReadInfoOnlyBox) {
    struct Case {
        bool service;
        bool capable;
        bool measurementFormat;
        const char* status;
        bool boxShown;
    };
    const Case cases[] = {
        {false, true, false, "", false}, {false, true, true, "F", false},
        {true, true, false, "", true},   {true, true, true, "F", true},
        {true, false, false, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.service << c.capable << c.measurementFormat);
        answers.serviceMode = c.service;
        answers.options = {c.service ? 1 : 0, c.measurementFormat};
        readInfoOnlyCapable = c.capable;
        createWindow();
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(statusTip(), c.status);
        EXPECT_EQ(shown(IDC_CHK_READ_INFO_ONLY), c.boxShown);
        EXPECT_EQ(SendMessageW(control(IDC_CHK_READ_INFO_ONLY), BM_GETCHECK, 0, 0), BST_UNCHECKED);
        destroyWindow();
    }
}

TEST_F(Startup, ServiceLevelStaysZeroOutsideServiceMode) {
    answers.serviceMode = false;
    answers.options.serviceLevel = 2;  // whatever the options say
    createWindow();
    EXPECT_EQ(window->serviceLevel(), 0);
    EXPECT_FALSE(shown(IDC_BTN_FILE));
}

TEST_F(Startup, PortBoxSelectsTheFirstPort) {
    answers.ports = {"COM7", "COM3"};
    createWindow();
    EXPECT_EQ(SendMessageW(control(IDC_CBX_PORT), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(text(IDC_CBX_PORT), "COM7");
    destroyWindow();
    answers.ports.clear();
    createWindow();
    EXPECT_EQ(text(IDC_CBX_PORT), "");
}

// The controls stand in the tab order (port box, progress bar, Update, Cancel, Close, File, Read
// info only); Tab goes through those that take the focus now.
TEST_F(Startup, TabOrder) {
    answers.serviceMode = true;
    answers.options.serviceLevel = 2;
    createWindow();
    std::vector<int> order;
    for (HWND h = GetWindow(control(IDC_CBX_PORT), GW_HWNDFIRST); h != nullptr;
         h = GetWindow(h, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(h);
        if (id != IDC_LABEL1 && id != IDC_BEVEL1 && id != IDC_STATUS_BAR1) {
            order.push_back(id);
        }
    }
    EXPECT_EQ(order,
              (std::vector<int>{IDC_CBX_PORT, IDC_PROGRESS_BAR1, IDC_BTN_PROG, IDC_BTN_CANCEL,
                                IDC_BTN_CLOSE, IDC_BTN_FILE, IDC_CHK_READ_INFO_ONLY}));

    window->show(SW_SHOW);
    SetForegroundWindow(window->handle());
    SetFocus(control(IDC_CBX_PORT));
    std::vector<int> visited;
    for (int i = 0; i < 5; ++i) {
        MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
        EXPECT_TRUE(window->preTranslate(tab));
        // The port box has the focus in its edit field.
        const HWND focus = GetFocus();
        visited.push_back(
            GetDlgCtrlID(GetParent(focus) == window->handle() ? focus : GetParent(focus)));
    }
    EXPECT_EQ(visited, (std::vector<int>{IDC_BTN_PROG, IDC_BTN_CLOSE, IDC_BTN_FILE,
                                         IDC_CHK_READ_INFO_ONLY, IDC_CBX_PORT}));
}

// The report window is placed under the main window when created, follows its moves, and is
// shown at the first idle moment in service mode only.
TEST_F(Startup, ReportWindowFollowsAndShowsInServiceModeOnly) {
    for (const bool service : {false, true}) {
        SCOPED_TRACE(service);
        answers.serviceMode = service;
        answers.options.serviceLevel = service ? 1 : 0;
        createWindow();
        const HWND report = windows.frmProtocol->handle();
        const int width = frameOf(report).width;
        window->show(SW_SHOW);
        dispatch();  // the first idle moment
        EXPECT_EQ(IsWindowVisible(report) != FALSE, service);

        SetWindowPos(window->handle(), nullptr, 130, 70, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        dispatch();
        const Frame main = frameOf(window->handle());
        const Frame placed = frameOf(report);
        EXPECT_EQ(placed.left, main.left);
        EXPECT_EQ(placed.top, main.top + main.height);
        EXPECT_EQ(placed.width, width);

        SendMessageW(report, WM_CLOSE, 0, 0);  // the user cannot close it
        EXPECT_EQ(IsWindowVisible(report) != FALSE, service);
        destroyWindow();
    }
}

}  // namespace
}  // namespace qor::win32::test
