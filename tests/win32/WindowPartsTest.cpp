// The Win32 program's other windows and dialogs: the report window's lines and place, the
// message window's place, text and OK, the "Confirm" dialog, the firmware overview with its
// fitted columns, and the port box after a device-change broadcast.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>
#include <dbt.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "catalogue/Catalogue.h"
#include "frontend/FirmwareOverview.h"
#include "platform/win32/WinText.h"
#include "tests/win32/WindowTestSupport.h"
#include "ui/win32/Confirmation.h"
#include "ui/win32/InfoWindow.h"
#include "ui/win32/MessageWindow.h"
#include "ui/win32/ProtocolWindow.h"
#include "ui/win32/WindowSupport.h"

namespace qor::win32::test {
namespace {

std::tm at(int hour, int minute, int second) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// A plain top-level window in the role of the main window.
class PlainWindow {
  public:
    PlainWindow(int x, int y, int width, int height)
        : hWnd_(CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPED | WS_CAPTION, x, y, width,
                                height, nullptr, nullptr, nullptr, nullptr)) {}
    ~PlainWindow() { DestroyWindow(hWnd_); }
    PlainWindow(const PlainWindow&) = delete;
    PlainWindow& operator=(const PlainWindow&) = delete;
    HWND handle() const { return hWnd_; }

  private:
    HWND hWnd_;
};

Frame clientSize(HWND hWnd) {
    RECT r{};
    GetClientRect(hWnd, &r);
    return {0, 0, r.right, r.bottom};
}

TEST(ReportWindow, TimeStampedLinesWithTheLastInView) {
    PlainWindow main(100, 200, 460, 300);
    std::tm now = at(9, 5, 3);
    TfrmProtocol report(main.handle(), main.handle(), [&now] { return now; });
    ShowWindow(report.handle(), SW_SHOWNOACTIVATE);
    EXPECT_EQ(report.text(), "");  // the design text is gone
    report.Add("Process cancelled!");
    EXPECT_EQ(report.text(), "09-05-03 -> Process cancelled!");

    now = at(23, 59, 0);
    for (int i = 0; i < 50; ++i) {
        report.Add("Progress " + std::to_string(i) + "%");
    }
    report.Add("Progress 50% " + std::string(300, '.'));  // longer than the window is wide
    const HWND memo = report.memo();
    const auto lines = static_cast<int>(SendMessageW(memo, EM_GETLINECOUNT, 0, 0));
    ASSERT_EQ(lines, 52);
    const std::string all = report.text();
    const std::size_t previous = all.rfind("\r\n", all.rfind("\r\n") - 1) + 2;
    EXPECT_EQ(all.substr(previous, 24), "23-59-00 -> Progress 49%");
    EXPECT_GT(SendMessageW(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    // The last line's first character, its time stamp, lies inside the text area.
    const auto lastLine = SendMessageW(memo, EM_LINEINDEX, static_cast<WPARAM>(lines - 1), 0);
    const auto where = static_cast<DWORD>(SendMessageW(memo, EM_POSFROMCHAR, lastLine, 0));
    RECT area{};
    GetClientRect(memo, &area);
    EXPECT_GE(static_cast<short>(HIWORD(where)), 0);
    EXPECT_LT(static_cast<short>(HIWORD(where)), area.bottom);
    EXPECT_GE(static_cast<short>(LOWORD(where)), 0);
    EXPECT_LT(static_cast<short>(LOWORD(where)), area.right);

    report.Clear();
    EXPECT_EQ(report.text(), "");
}

TEST(ReportWindow, CreatedUnderTheMainWindowAsWideResizableAndWithoutClose) {
    PlainWindow main(100, 200, 460, 300);
    const TfrmProtocol report(main.handle(), main.handle());
    const HWND h = report.handle();
    EXPECT_EQ(windowText(h), "Report");
    EXPECT_EQ(frameOf(h).left, 100);
    EXPECT_EQ(frameOf(h).top, 500);
    EXPECT_EQ(frameOf(h).width, 460);
    const int dpi = windowDpi(h);
    EXPECT_EQ(clientSize(h).height, layoutToPixels(141, kReportDesignDpi, dpi));
    const LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU) << "no close button";
    const LONG_PTR memo = GetWindowLongPtrW(report.memo(), GWL_STYLE);
    EXPECT_TRUE(memo & ES_READONLY);
    EXPECT_TRUE(memo & ES_MULTILINE);
    EXPECT_TRUE((memo & WS_HSCROLL) && (memo & WS_VSCROLL));
    EXPECT_TRUE(memo & ES_AUTOHSCROLL) << "no word wrap";
    EXPECT_FALSE(IsWindowVisible(h));
}

TEST(MessageWindow, PlacedOverTheMainWindowsFoot) {
    const RECT r = messagePlacement(100, 200, 460, 300, 150);
    EXPECT_EQ((Frame{r.left, r.top, r.right - r.left, r.bottom - r.top}),
              (Frame{110, 340, 440, 150}));
}

TEST(MessageWindow, ModalOkClosesAndEachMessageReplacesTheLast) {
    PlainWindow main(100, 200, 460, 300);
    ShowWindow(main.handle(), SW_SHOW);
    TfrmMessage message(main.handle());
    const HWND h = message.handle();
    EXPECT_EQ(windowText(h), "Information");
    const LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU) << "no title-bar buttons";
    const int dpi = windowDpi(h);
    const auto px = [dpi](int units) { return layoutToPixels(units, kMainDesignDpi, dpi); };
    EXPECT_EQ(clientSize(h), (Frame{0, 0, px(435), px(101)}));
    const HWND ok = GetDlgItem(h, IDOK);
    EXPECT_EQ(windowText(ok), "OK");
    const Frame button = childFrame(ok);
    EXPECT_EQ(button.width, px(93));
    EXPECT_EQ(button.height, px(39));
    EXPECT_LT(button.left, px(20)) << "at the left of the bottom strip";
    const LONG_PTR memo = GetWindowLongPtrW(GetDlgItem(h, IDC_MEMO1), GWL_STYLE);
    EXPECT_TRUE((memo & ES_READONLY) && (memo & ES_MULTILINE));
    EXPECT_FALSE(memo & (ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL)) << "wrapped, no scroll bars";
    EXPECT_EQ(childFrame(GetDlgItem(h, IDC_MEMO1)).height, clientSize(h).height - px(45));

    for (const std::string text : {"Process cancelled!", "", "Only read update info!"}) {
        SCOPED_TRACE(text);
        bool modal = false;
        std::string shownText;
        whenDispatching([&] {
            modal = IsWindowVisible(h) && !IsWindowEnabled(main.handle());
            shownText = message.text();
            SendMessageW(ok, BM_CLICK, 0, 0);
        });
        message.showMsg(text, 100, 200, 460, 300);
        EXPECT_TRUE(modal);
        EXPECT_EQ(shownText, text);
        EXPECT_FALSE(IsWindowVisible(h));
        EXPECT_TRUE(IsWindowEnabled(main.handle()));
        const Frame f = frameOf(h);
        EXPECT_EQ(f, (Frame{110, 200 + 300 - f.height - 10, 440, f.height}));
    }
}

// The dialog of this thread that shows Yes and No, once it is shown.
HWND shownDialog() {
    HWND dialog = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hWnd, LPARAM found) {
            if (IsWindowVisible(hWnd) && GetDlgItem(hWnd, IDYES) != nullptr) {
                *reinterpret_cast<HWND*>(found) = hWnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&dialog));
    return dialog;
}

// The question's own dialog: "Confirm", Yes and No in English, Yes the default.
TEST(Confirmation, TitledConfirmWithYesAsDefault) {
    struct Case {
        const char* action;
        bool yes;
    };
    const Case cases[] = {{"Yes", true}, {"No", false}, {"Enter", true}, {"Escape", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        std::string title, question, yes, no;
        LRESULT defaultId = 0;
        std::function<void()> answer = [&] {
            // The dialog manager shows the dialog once its queue has run empty.
            const HWND dialog = shownDialog();
            if (dialog == nullptr) {
                whenDispatching(answer);
                return;
            }
            title = windowText(dialog);
            question = windowText(GetDlgItem(dialog, IDC_CONFIRM_TEXT));
            yes = windowText(GetDlgItem(dialog, IDYES));
            no = windowText(GetDlgItem(dialog, IDNO));
            defaultId = SendMessageW(dialog, DM_GETDEFID, 0, 0);
            const std::string action = c.action;
            if (action == "Yes" || action == "No") {
                SendMessageW(GetDlgItem(dialog, action == "Yes" ? IDYES : IDNO), BM_CLICK, 0, 0);
            } else {
                // A key on the Yes button, through the dialog's own loop.
                PostMessageW(GetDlgItem(dialog, IDYES), WM_KEYDOWN,
                             action == "Enter" ? VK_RETURN : VK_ESCAPE, 0);
            }
        };
        whenDispatching(answer);
        EXPECT_EQ(askConfirmation(nullptr, "Close?\r\nReally?"), c.yes);
        EXPECT_EQ(title, "Confirm");
        EXPECT_EQ(question, "Close?\r\nReally?");
        EXPECT_EQ(yes, "Yes");
        EXPECT_EQ(no, "No");
        EXPECT_EQ(LOWORD(defaultId), IDYES);
        EXPECT_EQ(HIWORD(defaultId), DC_HASDEFID);
    }
}

class Overview : public WindowTest {
  protected:
    void createOverviewWindow() {
        answers.serviceMode = true;
        answers.options.serviceLevel = 2;
        createWindow(96);
        window->show(SW_SHOW);
        dispatch();
    }
    void openFirmware() {
        SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(IDM_INFO_FIRMWARE, 0), 0);
    }
    static std::vector<std::string> rowOf(const TBl3FileHeader& header) {
        const OverviewRow row = overviewRow(header);
        return {row.begin(), row.end()};
    }
    // Every text fits its column with the 5 pixels to spare; the client area is the columns'
    // sum plus 30.
    void expectFittedColumns(const SeamLog::Overview& shown) {
        const HWND list = windows.frmInfo->listView();
        int sum = 0;
        for (std::size_t column = 0; column < shown.widths.size(); ++column) {
            SCOPED_TRACE(column);
            const int width = shown.widths[column];
            const auto fits = [&](const std::string& text) {
                const std::wstring wide = platform::widen(text);
                EXPECT_GE(width, ListView_GetStringWidth(list, wide.c_str()) + 5) << text;
            };
            fits(kOverviewColumns[column]);
            for (const auto& row : shown.rows) {
                fits(row[column]);
            }
            sum += width;
        }
        EXPECT_EQ(shown.clientWidth, sum + 30);
    }
    std::string writeDescriptor() {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("qor-overview-" + std::to_string(GetCurrentProcessId()) + ".txt");
        std::ofstream(path) << "bootloader=3\nbootloader version=1\nclass=26156\nversionH=2\n"
                               "versionL=7\nplatform=18\nprint=35\ndate=20.01.2020\n";
        return path.string();
    }
};

TEST_F(Overview, BuiltinRowWithFittedColumnsAtTheMainWindow) {
    createOverviewWindow();
    openFirmware();
    openFirmware();  // the same again
    ASSERT_EQ(log.overviews.size(), 2u);
    const std::vector<std::vector<std::string>> builtin = {rowOf(builtinFileHeader())};
    EXPECT_EQ(builtin[0][1], "2.05");
    EXPECT_EQ(builtin[0][5], "5.0");
    const Frame main = frameOf(window->handle());
    for (const auto& shown : log.overviews) {
        EXPECT_EQ(shown.rows, builtin);
        EXPECT_EQ(shown.frame.left, main.left);
        EXPECT_EQ(shown.frame.top, main.top);
        EXPECT_EQ(shown.frame.height, main.height);
        EXPECT_TRUE(shown.okHasFocus);
        expectFittedColumns(shown);
    }
    // Nothing grows from one opening to the next.
    EXPECT_EQ(log.overviews[1].widths, log.overviews[0].widths);
    EXPECT_EQ(log.overviews[1].frame, log.overviews[0].frame);

    const HWND info = windows.frmInfo->handle();
    EXPECT_EQ(windowText(info), "Overview");
    EXPECT_TRUE(GetWindowLongPtrW(info, GWL_STYLE) & WS_THICKFRAME);
    const HWND list = windows.frmInfo->listView();
    EXPECT_EQ(GetWindowLongPtrW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    std::vector<std::string> captions;
    for (int column = 0; column < 6; ++column) {
        wchar_t buffer[64] = {};
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT;
        c.pszText = buffer;
        c.cchTextMax = 64;
        ListView_GetColumn(list, column, &c);
        captions.push_back(platform::narrow(buffer));
    }
    EXPECT_EQ(captions,
              (std::vector<std::string>{"Firmware", "Version", "Platform", "Print", "Date", "BL"}));
    // OK at 13, 7 in the bottom panel of 37, 98 x 24 (units of 96 dpi).
    const int dpi = windowDpi(info);
    const auto px = [dpi](int units) { return layoutToPixels(units, kReportDesignDpi, dpi); };
    const Frame ok = childFrame(GetDlgItem(info, IDOK));
    EXPECT_EQ(ok, (Frame{px(13), clientSize(info).height - px(37) + px(7), px(98), px(24)}));
    EXPECT_EQ(childFrame(list).height, clientSize(info).height - px(37));
}

TEST_F(Overview, FileRowFirstUntilTheNextRunIsPrepared) {
    createOverviewWindow();
    answers.chosenFile = writeDescriptor();
    SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(IDM_INFO_FILE, 0), 0);
    std::filesystem::remove(answers.chosenFile);
    ASSERT_EQ(log.overviews.size(), 1u);
    ASSERT_EQ(log.overviews[0].rows.size(), 2u);
    EXPECT_EQ(log.overviews[0].rows[0], rowOf(loadedFileHeader()));
    EXPECT_EQ(log.overviews[0].rows[0][1], "2.07");
    EXPECT_EQ(log.overviews[0].rows[1], rowOf(builtinFileHeader()));
    expectFittedColumns(log.overviews[0]);

    click(IDC_BTN_PROG);  // prepares the next run
    openFirmware();
    ASSERT_EQ(log.overviews.size(), 2u);
    EXPECT_EQ(log.overviews[1].rows,
              std::vector<std::vector<std::string>>{rowOf(builtinFileHeader())});
}

// A device-change broadcast for a port refills the port box, keeps the text shown and drops the
// list down when the program is active and idle; other broadcasts leave the box alone.
class PortBox : public WindowTest {
  protected:
    void createShownWindow() {
        answers.serviceMode = true;  // Update starts without a question
        answers.options.serviceLevel = 1;
        createWindow();
        window->show(SW_SHOW);
        dispatch();
    }
    void broadcast(WPARAM event, DWORD deviceType) {
        DEV_BROADCAST_HDR header{};
        header.dbch_size = sizeof header;
        header.dbch_devicetype = deviceType;
        SendMessageW(window->handle(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header));
    }
    std::vector<std::string> items() const {
        const HWND box = control(IDC_CBX_PORT);
        std::vector<std::string> list;
        const auto n = SendMessageW(box, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            wchar_t buffer[64] = {};
            SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(buffer));
            list.push_back(platform::narrow(buffer));
        }
        return list;
    }
    bool dropped() const { return SendMessageW(control(IDC_CBX_PORT), CB_GETDROPPEDSTATE, 0, 0); }
    void closeList() { SendMessageW(control(IDC_CBX_PORT), CB_SHOWDROPDOWN, FALSE, 0); }
};

TEST_F(PortBox, RefreshKeepsTheShownTextAndDropsDown) {
    answers.ports = {"COM5", "COM7"};
    createShownWindow();
    SendMessageW(control(IDC_CBX_PORT), CB_SETCURSEL, 1, 0);

    answers.ports = {"COM3", "COM5"};  // COM7 unplugged, COM3 plugged in
    broadcast(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
    EXPECT_EQ(items(), (std::vector<std::string>{"COM3", "COM5"}));
    EXPECT_EQ(text(IDC_CBX_PORT), "COM7");
    EXPECT_TRUE(dropped());

    // Another announcement while the list is open: closed, refilled, open again.
    answers.ports = {"COM5"};
    broadcast(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
    EXPECT_EQ(items(), std::vector<std::string>{"COM5"});
    EXPECT_EQ(text(IDC_CBX_PORT), "COM7");
    EXPECT_TRUE(dropped());
    closeList();
    EXPECT_EQ(text(IDC_CBX_PORT), "COM7");

    // Other devices and other events leave the list alone.
    answers.ports = {"COM8"};
    broadcast(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
    broadcast(DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_PORT);
    EXPECT_EQ(items(), std::vector<std::string>{"COM5"});
    EXPECT_FALSE(dropped());
}

TEST_F(PortBox, SilentRefreshWhenInactiveOrRunning) {
    struct Case {
        bool active;
        bool running;
    };
    for (const Case c : {Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message() << "active " << c.active << ", running " << c.running);
        answers.ports = {"COM5"};
        answers.activeApplication = c.active;
        createShownWindow();
        if (c.running) {
            click(IDC_BTN_PROG);
            expectRunning();
        }
        answers.ports = {"COM5", "COM8"};
        broadcast(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
        EXPECT_EQ(items(), (std::vector<std::string>{"COM5", "COM8"}));
        EXPECT_EQ(text(IDC_CBX_PORT), "COM5");
        EXPECT_FALSE(dropped());
        FakeWorkers::reset();
        destroyWindow();
    }
}

}  // namespace
}  // namespace qor::win32::test
