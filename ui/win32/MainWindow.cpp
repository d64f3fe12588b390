#include "ui/win32/MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
// after windows.h, which it needs
#include <dbt.h>

#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "frontend/PortNames.h"
#include "platform/Clock.h"
#include "platform/DeviceChange.h"
#include "platform/ProgramParameters.h"
#include "platform/win32/WinText.h"
#include "ui/win32/Confirmation.h"
#include "ui/win32/InfoWindow.h"
#include "ui/win32/MessageWindow.h"
#include "ui/win32/ProtocolWindow.h"
#include "ui/win32/Resources.h"

namespace qor::win32 {
namespace {

static_assert(WM_USER == WM_USER_NOTIFY);

// Fixed size, with minimise and the system menu, no maximise.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// The layout in units of 120 dpi.
constexpr int kClientWidth = 444;
constexpr int kPanelHeight = 201;
constexpr int kStatusHeight = 19;

std::wstring programFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring file(path, n);
    const std::size_t separator = file.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : file.substr(0, separator);
}

std::string openFileDialog(HWND hOwner, const std::wstring& initialDir) {
    // No filter and no title: the dialog's own.
    std::wstring name(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hOwner;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrInitialDir = initialDir.c_str();
    ofn.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) {
        return {};
    }
    return platform::narrow(name.c_str());
}

// The direct child of hParent that holds hWnd (the port box for its edit field), or null.
HWND childOf(HWND hParent, HWND hWnd) {
    while (hWnd != nullptr && GetParent(hWnd) != hParent) {
        hWnd = GetParent(hWnd);
    }
    return hWnd;
}

}  // namespace

MainWindowSeams MainWindowSeams::program() {
    MainWindowSeams seams;
    seams.isServiceMode = &qor::isServiceMode;
    seams.applyOptions = [](bool serviceMode) {
        return applyStartupOptions(serviceMode, platform::programParameters());
    };
    seams.listPorts = &listOfferedPorts;
    seams.isActiveApplication = [] { return GetActiveWindow() != nullptr; };
    seams.confirm = &askConfirmation;
    seams.chooseFile = &openFileDialog;
    seams.showError = [](HWND hOwner, const std::string& message) {
        MessageBoxW(hOwner, platform::widen(message).c_str(),
                    platform::widen(kProgramTitle).c_str(), MB_OK | MB_ICONERROR);
    };
    seams.alertSound = [] { MessageBeep(MB_OK); };
    seams.restartDelay = &platform::sleepMs;
    seams.taskbarProgress = [taskbar = std::make_shared<TaskbarProgress>()](HWND hButtonWindow,
                                                                            int position) {
        taskbar->show(hButtonWindow, position);
    };
    seams.closed = [] { PostQuitMessage(0); };
    return seams;
}

TfrmMain::TfrmMain(MainWindowSeams seams)
    : FSeams(std::move(seams)),
      FScale(kMainDesignDpi, FSeams.screenDpi > 0 ? FSeams.screenDpi : windowDpi(nullptr)),
      FRunControl(*this, registerSink()) {
    MainMenu1 = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    CreateWindowExW(0, windowClass<TfrmMain>(L"TfrmMain"), L"", kStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, 400, 300, FApplication.handle(), MainMenu1,
                    GetModuleHandleW(nullptr), this);
    FApplication.setMainWindow(FhWnd);
    FNotifyWindow = FhWnd;
    if (FSeams.screenDpi <= 0) {
        FScale = LayoutScale(kMainDesignDpi, windowDpi(FhWnd));
    }
    createControls();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    unregisterNotificationSink(FRunControl.notificationHandle());
    FNotifyWindow = nullptr;
    setWaitCursor(false);
    if (FhWnd != nullptr) {
        DestroyWindow(FhWnd);
    }
}

std::int32_t TfrmMain::registerSink() {
    return registerNotificationSink([this](const Notification& n) {
        const HWND target = FNotifyWindow.load();
        if (target == nullptr) {
            return;
        }
        std::lock_guard lock(FLinesMutex);
        if (n.code == kNotifyText) {
            FLines.push_back(n.text);
        }
        if (!PostMessageW(target, WM_USER, static_cast<WPARAM>(n.code),
                          static_cast<LPARAM>(n.value)) &&
            n.code == kNotifyText) {
            FLines.pop_back();
        }
    });
}

void TfrmMain::createControls() {
    // Created in the tab order: port box, progress bar, Update, Cancel, Close, File, Read info
    // only.
    Bevel1 = createControl(FhWnd, L"STATIC", L"", SS_ETCHEDHORZ, IDC_BEVEL1);
    Label1 = createControl(FhWnd, L"STATIC", L"Comport:", SS_LEFT | SS_NOPREFIX, IDC_LABEL1);
    cbxPort = createControl(FhWnd, WC_COMBOBOXW, L"",
                            CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP,
                            IDC_CBX_PORT);
    // In the tab order, but no tab stop: a progress bar takes no input.
    ProgressBar1 = createControl(FhWnd, PROGRESS_CLASSW, L"", 0, IDC_PROGRESS_BAR1);
    SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
    btnProg = createControl(FhWnd, L"BUTTON", L"Update", BS_PUSHBUTTON | WS_TABSTOP, IDC_BTN_PROG);
    btnCancel =
        createControl(FhWnd, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDC_BTN_CANCEL);
    ShowWindow(btnCancel, SW_HIDE);
    btnClose = createControl(FhWnd, L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, IDC_BTN_CLOSE);
    btnFile = createControl(FhWnd, L"BUTTON", L"File", BS_PUSHBUTTON | WS_TABSTOP, IDC_BTN_FILE);
    chkReadInfoOnly = createControl(FhWnd, L"BUTTON", L"Read info only",
                                    BS_AUTOCHECKBOX | WS_TABSTOP, IDC_CHK_READ_INFO_ONLY);
    // One text field; the window's size is fixed, so no size grip.
    StatusBar1 = createControl(FhWnd, STATUSCLASSNAMEW, L"", CCS_NORESIZE | CCS_NOPARENTALIGN,
                               IDC_STATUS_BAR1);
    int parts[1] = {-1};
    SendMessageW(StatusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));

    // The status line's tooltip repeats its text.
    StatusTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FhWnd, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = FhWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(StatusBar1);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(StatusTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmMain::layOut() {
    const LayoutScale& s = FScale;
    FFont = std::make_unique<UiFont>(s.screenDpi());
    FFont->applyTo(FhWnd);
    SendMessageW(StatusTip, WM_SETFONT, reinterpret_cast<WPARAM>(FFont->handle()), FALSE);

    // The panel's top line, as the etched edge under the menu bar.
    place(Bevel1, 0, 0, s.px(kClientWidth), 2);
    SIZE label{};
    const HDC dc = GetDC(Label1);
    const HGDIOBJ old = SelectObject(dc, FFont->handle());
    GetTextExtentPoint32W(dc, L"Comport:", 8, &label);
    SelectObject(dc, old);
    ReleaseDC(Label1, dc);
    place(Label1, s.px(16), s.px(18), label.cx, label.cy);
    // The height of a drop-down combo box is that of its open list.
    place(cbxPort, s.px(96), s.px(14), s.px(329), s.px(160));
    place(ProgressBar1, s.px(16), s.px(57), s.px(409), s.px(33));
    const RunButtons buttons = runButtonsAt(FRunControl.serviceLevel());
    place(btnProg, s.px(buttons.update.x), s.px(buttons.update.y), s.px(buttons.update.width),
          s.px(buttons.update.height));
    place(btnFile, s.px(buttons.file.x), s.px(buttons.file.y), s.px(buttons.file.width),
          s.px(buttons.file.height));
    place(btnClose, s.px(250), s.px(107), s.px(139), s.px(41));
    place(btnCancel, s.px(250), s.px(107), s.px(139), s.px(41));
    place(chkReadInfoOnly, s.px(32), s.px(168), s.px(145), s.px(17));
    place(StatusBar1, 0, s.px(kPanelHeight), s.px(kClientWidth), s.px(kStatusHeight));
    // The client area: the panel and the status bar, nothing below.
    setClientSize(FhWnd, s.px(kClientWidth), s.px(kPanelHeight + kStatusHeight));
}

void TfrmMain::FormCreate() {
    setWindowText(FhWnd, kProgramTitle);
    std::wstring caption = platform::widen(kInfoMenuCaption);
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING;
    item.dwTypeData = caption.data();
    SetMenuItemInfoW(MainMenu1, 0, TRUE, &item);
    DrawMenuBar(FhWnd);
    // Every question goes through FSeams.confirm, which asks in the "Confirm" dialog.
    FOpenDialogDir = programFolder();

    const bool service = FSeams.isServiceMode();
    FRunControl.applyStartup(service, FSeams.applyOptions(service));
    SendMessageW(chkReadInfoOnly, BM_SETCHECK, BST_UNCHECKED, 0);
    ShowWindow(chkReadInfoOnly, FRunControl.readInfoOnlyOffered() ? SW_SHOW : SW_HIDE);

    // The file functions: File button and File version item at service level 2 only.
    if (!runButtonsAt(FRunControl.serviceLevel()).fileShown) {
        DeleteMenu(MainMenu1, IDM_INFO_FILE, MF_BYCOMMAND);
        ShowWindow(btnFile, SW_HIDE);
    }
    layOut();

    fillPortBox();
    SendMessageW(cbxPort, CB_SETCURSEL, 0, 0);

    FRunControl.showInitialState();
}

void TfrmMain::setWindows(TfrmInfo* frmInfo, TfrmProtocol* frmProtocol, TfrmMessage* frmMessage) {
    frmInfo_ = frmInfo;
    frmProtocol_ = frmProtocol;
    frmMessage_ = frmMessage;
}

void TfrmMain::show(int nCmdShow) {
    FApplication.showButton();
    ShowWindow(FhWnd, nCmdShow);
    UpdateWindow(FhWnd);
}

void TfrmMain::centreOnScreen() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(FhWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    RECT outer{};
    GetWindowRect(FhWnd, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    SetWindowPos(FhWnd, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmMain::btnProgClick() {
    FRunControl.updateClicked();
}

void TfrmMain::btnFileClick() {
    FRunControl.fileClicked();
}

void TfrmMain::btnCancelClick() {
    FRunControl.cancelClicked();
}

void TfrmMain::btnCloseClick() {
    SendMessageW(FhWnd, WM_CLOSE, 0, 0);
}

void TfrmMain::menFileExitClick() {
    SendMessageW(FhWnd, WM_CLOSE, 0, 0);
}

void TfrmMain::menInfoFirmwareClick() {
    showOverview();
}

void TfrmMain::menInfoFileClick() {
    FRunControl.fileVersionClicked();
}

void TfrmMain::ApplicationEvents1Idle() {
    if (FRunControl.reportWindowAtFirstIdle() && frmProtocol_ != nullptr) {
        ShowWindow(frmProtocol_->handle(), SW_SHOWNOACTIVATE);
    }
}

bool TfrmMain::FormCloseQuery() {
    return FRunControl.closeQuery();
}

void TfrmMain::showOverview() {
    if (frmInfo_ != nullptr) {
        RECT outer{};
        GetWindowRect(FhWnd, &outer);
        frmInfo_->Execute(outer.left, outer.top, outer.bottom - outer.top);
    }
}

std::string TfrmMain::chooseFile() {
    return FSeams.chooseFile(FhWnd, FOpenDialogDir);
}

void TfrmMain::showError(const std::string& message) {
    FSeams.showError(FhWnd, message);
}

void TfrmMain::descriptorUnreadable(const std::string& reason) {
    addReport(reason);
    setStatus(reason);
}

bool TfrmMain::confirm(const std::string& question) {
    return FSeams.confirm(FhWnd, question);
}

bool TfrmMain::readInfoOnlyTicked() const {
    return SendMessageW(chkReadInfoOnly, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TfrmMain::showRunState(bool running) {
    // The focus moves off what the new state disables or hides, so the keyboard still works.
    const HWND focus = childOf(FhWnd, GetFocus());
    EnableWindow(btnProg, !running);
    EnableWindow(btnFile, !running);
    ShowWindow(btnClose, running ? SW_HIDE : SW_SHOW);
    ShowWindow(btnCancel, running ? SW_SHOW : SW_HIDE);
    EnableWindow(cbxPort, !running);
    if (running &&
        (focus == btnProg || focus == btnFile || focus == btnClose || focus == cbxPort)) {
        SetFocus(btnCancel);
    } else if (!running && focus == btnCancel) {
        SetFocus(btnClose);
    }
    setWaitCursor(running);
    FSeams.taskbarProgress(
        FApplication.handle(),
        running ? static_cast<int>(SendMessageW(ProgressBar1, PBM_GETPOS, 0, 0)) : -1);
}

void TfrmMain::fillPortBox() {
    SendMessageW(cbxPort, CB_RESETCONTENT, 0, 0);
    for (const std::string& port : FSeams.listPorts()) {
        SendMessageW(cbxPort, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(platform::widen(port).c_str()));
    }
}

void TfrmMain::portChange() {
    // Refilled even during a run, which works on its own copy of the port name. The text shown
    // stays: a port that went away is still named until the user chooses again.
    const std::string shown = windowText(cbxPort);
    fillPortBox();
    setWindowText(cbxPort, shown);

    if (FRunControl.dropDownAfterPortChange(FSeams.isActiveApplication())) {
        SendMessageW(cbxPort, CB_SHOWDROPDOWN, FALSE, 0);
        RedrawWindow(cbxPort, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        SendMessageW(cbxPort, CB_SHOWDROPDOWN, TRUE, 0);
    }
}

void TfrmMain::clearReport() {
    if (frmProtocol_ != nullptr) {
        frmProtocol_->Clear();
    }
}

void TfrmMain::setStatus(const std::string& text) {
    const std::wstring line = platform::widen(text);
    SendMessageW(StatusBar1, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(line.c_str()));
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = FhWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(StatusBar1);
    tool.lpszText = const_cast<wchar_t*>(line.c_str());
    SendMessageW(StatusTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmMain::addReport(const std::string& text) {
    if (frmProtocol_ != nullptr) {
        frmProtocol_->Add(text);
    }
}

void TfrmMain::showMessageWindow(const std::string& text) {
    if (frmMessage_ != nullptr) {
        RECT outer{};
        GetWindowRect(FhWnd, &outer);
        frmMessage_->showMsg(text, outer.left, outer.top, outer.right - outer.left,
                             outer.bottom - outer.top);
    } else {
        MessageBoxW(nullptr, platform::widen(text).c_str(),
                    platform::widen(windowText(FApplication.handle())).c_str(), MB_OK);
    }
}

void TfrmMain::setProgressBar(int position) {
    SendMessageW(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    if (runInProgress()) {
        FSeams.taskbarProgress(FApplication.handle(), position);
    }
}

void TfrmMain::setApplicationTitle(const std::string& text) {
    // The taskbar button's text; the window's caption stays.
    FApplication.setTitle(text);
}

std::string TfrmMain::portText() const {
    return windowText(cbxPort);
}

void TfrmMain::alertSound() {
    FSeams.alertSound();
}

void TfrmMain::restartDelay(std::uint32_t milliseconds) {
    FSeams.restartDelay(milliseconds);
}

void TfrmMain::followReportWindow() {
    if (frmProtocol_ != nullptr) {
        frmProtocol_->followMainWindow();
    }
}

bool TfrmMain::preTranslate(MSG& msg) {
    if (msg.message != WM_KEYDOWN || (msg.hwnd != FhWnd && !IsChild(FhWnd, msg.hwnd))) {
        return false;
    }
    if (msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
        const bool back = GetKeyState(VK_SHIFT) < 0;
        const HWND next = GetNextDlgTabItem(FhWnd, childOf(FhWnd, GetFocus()), back);
        if (next != nullptr) {
            SetFocus(next);
        }
        return true;
    }
    if (msg.wParam == VK_RETURN) {
        const HWND focus = childOf(FhWnd, GetFocus());
        if (focus != nullptr && focus != cbxPort && focus != chkReadInfoOnly &&
            SendMessageW(focus, WM_GETDLGCODE, 0, 0) &
                (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
            SendMessageW(focus, BM_CLICK, 0, 0);
            return true;
        }
    }
    return false;
}

void TfrmMain::onCommand(int id, int code) {
    if (code != BN_CLICKED && code != 0) {  // menu items come with 0
        return;
    }
    switch (id) {
        case IDC_BTN_PROG:
            btnProgClick();
            break;
        case IDC_BTN_FILE:
            btnFileClick();
            break;
        case IDC_BTN_CANCEL:
            btnCancelClick();
            break;
        case IDC_BTN_CLOSE:
            btnCloseClick();
            break;
        case IDM_INFO_FIRMWARE:
            menInfoFirmwareClick();
            break;
        case IDM_INFO_FILE:
            menInfoFileClick();
            break;
        case IDM_FILE_EXIT:
            menFileExitClick();
            break;
        default:
            break;
    }
}

void TfrmMain::onNotification(WPARAM wParam, LPARAM lParam) {
    Notification notification{
        static_cast<std::uint32_t>(wParam), static_cast<std::int32_t>(lParam), {}};
    if (notification.code == kNotifyText) {
        std::lock_guard lock(FLinesMutex);
        if (!FLines.empty()) {
            notification.text = std::move(FLines.front());
            FLines.pop_front();
        } else {
            notification.text = textSlot(notification.value == 1 ? 1 : 0);
        }
    }
    FRunControl.handle(notification);
}

void TfrmMain::onDpiChanged(int dpi, const RECT& suggested) {
    if (FSeams.screenDpi > 0) {
        return;  // a resolution chosen for the window stays
    }
    FScale = LayoutScale(kMainDesignDpi, dpi);
    SetWindowPos(FhWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layOut();
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (handleCommonMessage(msg, wParam, lParam, result)) {
        return result;
    }
    switch (msg) {
        case WM_USER:
            onNotification(wParam, lParam);
            return 0;
        case WM_COMMAND:
            onCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_DEVICECHANGE:
            if (platform::isPortChange(static_cast<std::uintptr_t>(wParam),
                                       reinterpret_cast<const void*>(lParam))) {
                portChange();
            }
            return TRUE;
        case WM_MOVE:
            DefWindowProcW(FhWnd, msg, wParam, lParam);
            followReportWindow();
            return 0;
        case WM_SHOWWINDOW:
            if (wParam != FALSE && !FCentred) {
                FCentred = true;
                centreOnScreen();
            }
            break;
        case WM_CLOSE:
            if (FormCloseQuery()) {
                DestroyWindow(FhWnd);
            }
            return 0;
        case WM_DESTROY:
            FNotifyWindow = nullptr;
            if (FSeams.closed) {
                FSeams.closed();
            }
            return 0;
        case WM_SYSCOMMAND:
            // Minimised, the program goes to its taskbar button with all its windows.
            if ((wParam & 0xFFF0) == SC_MINIMIZE && IsWindowVisible(FApplication.handle())) {
                ShowWindow(FApplication.handle(), SW_MINIMIZE);
                return 0;
            }
            break;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                FFocus = childOf(FhWnd, GetFocus());
            } else {
                SetFocus(FFocus != nullptr && IsWindowVisible(FFocus) && IsWindowEnabled(FFocus)
                             ? FFocus
                             : GetNextDlgTabItem(FhWnd, nullptr, FALSE));
            }
            return 0;
        case WM_DPICHANGED:
            onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        default:
            break;
    }
    return DefWindowProcW(FhWnd, msg, wParam, lParam);
}

}  // namespace qor::win32
