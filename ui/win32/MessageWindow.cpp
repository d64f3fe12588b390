#include "ui/win32/MessageWindow.h"

#include "platform/win32/WinText.h"
#include "ui/win32/MessageLoop.h"
#include "ui/win32/Resources.h"

namespace qor::win32 {
namespace {

// A dialog frame with a title and no title-bar buttons.
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr int kClientWidth = 435;
constexpr int kClientHeight = 101;
constexpr int kStripHeight = 45;

}  // namespace

RECT messagePlacement(int x, int y, int w, int h, int ownHeight) {
    const int left = x + 10;
    const int top = y + h - ownHeight - 10;
    return {left, top, left + w - 20, top + ownHeight};
}

TfrmMessage::TfrmMessage(HWND hOwner) : FhOwner(hOwner) {
    CreateWindowExW(kExStyle, windowClass<TfrmMessage>(L"TfrmMessage"), L"Information", kStyle,
                    CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, hOwner, nullptr,
                    GetModuleHandleW(nullptr), this);
    // Read-only, wrapped, without scroll bars.
    Memo1 =
        createControl(FhWnd, L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, IDC_MEMO1);
    Button1 = createControl(FhWnd, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK);
    FScale = fitToScreen(FhWnd, kMainDesignDpi, FFont, kClientWidth, kClientHeight);
}

TfrmMessage::~TfrmMessage() {
    if (FhWnd != nullptr) {
        DestroyWindow(FhWnd);
    }
}

void TfrmMessage::layOut() {
    layOverStrip(FhWnd, Memo1, Button1, FScale.px(kStripHeight),
                 {FScale.px(8), FScale.px(3), FScale.px(93), FScale.px(39)});
}

void TfrmMessage::showMsg(const std::string& sMsg, int x, int y, int w, int h) {
    RECT own{};
    GetWindowRect(FhWnd, &own);
    const RECT placed = messagePlacement(x, y, w, h, own.bottom - own.top);
    SetWindowPos(FhWnd, nullptr, placed.left, placed.top, placed.right - placed.left,
                 placed.bottom - placed.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(Memo1, L"");
    SetWindowTextW(Memo1, platform::widen(sMsg).c_str());
    FClosed = false;
    runModal(FhWnd, FhOwner, Button1, FClosed);
}

void TfrmMessage::Button1Click() {
    FClosed = true;
}

LRESULT TfrmMessage::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (handleCommonMessage(msg, wParam, lParam, result)) {
        return result;
    }
    switch (msg) {
        case WM_SIZE:
            if (Button1 != nullptr) {
                layOut();
            }
            return 0;
        case WM_COMMAND:
            // OK, Enter and Escape close the window.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                Button1Click();
                return 0;
            }
            break;
        case WM_CLOSE:
            Button1Click();
            return 0;
        case WM_DPICHANGED:
            FScale = fitToScreen(FhWnd, kMainDesignDpi, FFont, kClientWidth, kClientHeight);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(FhWnd, msg, wParam, lParam);
}

}  // namespace qor::win32
