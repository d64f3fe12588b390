#include "ui/win32/WindowSupport.h"

#include <vector>

#include "platform/win32/WinText.h"
#include "ui/win32/Resources.h"

namespace qor::win32 {
namespace {

bool waitCursor = false;

}  // namespace

HICON programIcon(int size) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    auto* icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QOR_APPLICATION),
                                               IMAGE_ICON, size, size, LR_SHARED));
    return icon != nullptr ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

std::string windowText(HWND hWnd) {
    const int length = GetWindowTextLengthW(hWnd);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hWnd, buffer.data(), length + 1);
    return platform::narrow(std::wstring(buffer.data(), static_cast<std::size_t>(got)));
}

void setWindowText(HWND hWnd, const std::string& text) {
    SetWindowTextW(hWnd, platform::widen(text).c_str());
}

int layoutToPixels(int units, int designDpi, int screenDpi) {
    return MulDiv(units, screenDpi, designDpi);
}

int windowDpi(HWND hWnd) {
    // Windows 10 knows each monitor's resolution; older systems have one for the whole screen.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (hWnd != nullptr && getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(hWnd);
        if (dpi != 0) {
            return static_cast<int>(dpi);
        }
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

UiFont::UiFont(int screenDpi)
    : FhFont(CreateFontW(-MulDiv(8, screenDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma")) {}

UiFont::~UiFont() {
    if (FhFont != nullptr) {
        DeleteObject(FhFont);
    }
}

void UiFont::applyTo(HWND hWnd) const {
    SendMessageW(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(FhFont), FALSE);
    EnumChildWindows(
        hWnd,
        [](HWND child, LPARAM font) {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(FhFont));
}

LayoutScale fitToScreen(HWND hWnd, int designDpi, std::unique_ptr<UiFont>& font, int clientWidth,
                        int clientHeight) {
    const LayoutScale scale(designDpi, windowDpi(hWnd));
    font = std::make_unique<UiFont>(scale.screenDpi());
    font->applyTo(hWnd);
    setClientSize(hWnd, scale.px(clientWidth), scale.px(clientHeight));
    return scale;
}

HWND createControl(HWND hParent, const wchar_t* windowClass, const wchar_t* caption, DWORD style,
                   int id, DWORD exStyle) {
    return CreateWindowExW(exStyle, windowClass, caption, WS_CHILD | WS_VISIBLE | style, 0, 0, 10,
                           10, hParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

bool handleCommonMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
        case WM_SETCURSOR:
            if (waitCursor) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                result = TRUE;
                return true;
            }
            return false;
        case WM_CTLCOLORSTATIC: {
            const auto control = reinterpret_cast<HWND>(lParam);
            wchar_t name[8] = {};
            GetClassNameW(control, name, 8);
            if (lstrcmpiW(name, L"Edit") != 0 ||
                (GetWindowLongPtrW(control, GWL_STYLE) & ES_READONLY) == 0) {
                return false;
            }
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            return true;
        }
        default:
            return false;
    }
}

void place(HWND hControl, int x, int y, int width, int height) {
    SetWindowPos(hControl, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void layOverStrip(HWND hWnd, HWND hControl, HWND hButton, int stripHeight, const RECT& button) {
    RECT client{};
    GetClientRect(hWnd, &client);
    place(hControl, 0, 0, client.right, client.bottom - stripHeight);
    place(hButton, button.left, client.bottom - stripHeight + button.top, button.right,
          button.bottom);
}

void setClientSize(HWND hWnd, int width, int height) {
    // The frame is what the window has around its client area now (menu bar included), so this
    // holds whatever the theme and resolution make of the frame.
    RECT outer{};
    RECT client{};
    GetWindowRect(hWnd, &outer);
    GetClientRect(hWnd, &client);
    const int frameX = (outer.right - outer.left) - client.right;
    const int frameY = (outer.bottom - outer.top) - client.bottom;
    SetWindowPos(hWnd, nullptr, 0, 0, width + frameX, height + frameY,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A menu bar that wraps or unwraps with the new width changes the frame once more.
    GetClientRect(hWnd, &client);
    if (client.right != width || client.bottom != height) {
        GetWindowRect(hWnd, &outer);
        SetWindowPos(hWnd, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                     outer.bottom - outer.top + height - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void setWaitCursor(bool on) {
    if (on == waitCursor) {
        return;
    }
    waitCursor = on;
    // Shown at once where the mouse is over a window of the program; WM_SETCURSOR keeps it.
    POINT at{};
    GetCursorPos(&at);
    const HWND under = WindowFromPoint(at);
    if (under != nullptr && GetWindowThreadProcessId(under, nullptr) == GetCurrentThreadId()) {
        SetCursor(LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
    }
}

bool waitCursorOn() {
    return waitCursor;
}

}  // namespace qor::win32
