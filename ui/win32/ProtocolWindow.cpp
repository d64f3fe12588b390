#include "ui/win32/ProtocolWindow.h"

#include "engine/NotificationHandler.h"
#include "platform/Clock.h"
#include "platform/win32/WinText.h"
#include "ui/win32/Resources.h"

namespace qor::win32 {
namespace {

// Resizable, with a title but without title-bar buttons: the user cannot close the report.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = 0;

}  // namespace

TfrmProtocol::TfrmProtocol(HWND hOwner, HWND hMainWindow, Clock clock)
    : FhMainWindow(hMainWindow), FClock(clock ? std::move(clock) : Clock(&platform::localTimeNow)) {
    CreateWindowExW(kExStyle, windowClass<TfrmProtocol>(L"TfrmProtocol"), L"Report", kStyle,
                    CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, hOwner, nullptr,
                    GetModuleHandleW(nullptr), this);
    Memo1 = createControl(
        FhWnd, L"EDIT", L"Memo1",
        WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
        IDC_MEMO1, WS_EX_CLIENTEDGE);
    SendMessageW(Memo1, EM_SETLIMITTEXT, 0, 0);  // as long as memory allows
    setFont();
    FormCreate();
}

TfrmProtocol::~TfrmProtocol() {
    if (FhWnd != nullptr) {
        DestroyWindow(FhWnd);
    }
}

void TfrmProtocol::setFont() {
    FFont = std::make_unique<UiFont>(windowDpi(FhWnd));
    FFont->applyTo(FhWnd);
}

void TfrmProtocol::FormCreate() {
    const LayoutScale scale(kReportDesignDpi, windowDpi(FhWnd));
    RECT frame{0, 0, scale.px(454), scale.px(141)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    RECT main{};
    GetWindowRect(FhMainWindow, &main);
    SetWindowPos(FhWnd, nullptr, main.left, main.bottom, main.right - main.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    Clear();
}

void TfrmProtocol::followMainWindow() {
    RECT main{};
    RECT own{};
    GetWindowRect(FhMainWindow, &main);
    GetWindowRect(FhWnd, &own);
    if (own.top != main.bottom || own.left != main.left) {
        SetWindowPos(FhWnd, nullptr, main.left, main.bottom, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void TfrmProtocol::Add(const std::string& sLine) {
    const bool first = GetWindowTextLengthW(Memo1) == 0;
    const std::wstring line =
        platform::widen((first ? "" : "\r\n") + formatReportLine(FClock(), sLine));
    const int end = GetWindowTextLengthW(Memo1);
    SendMessageW(Memo1, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    // The last line in view from its start, so that its time stamp shows.
    const auto last = SendMessageW(Memo1, EM_GETLINECOUNT, 0, 0) - 1;
    const auto start = SendMessageW(Memo1, EM_LINEINDEX, static_cast<WPARAM>(last), 0);
    SendMessageW(Memo1, EM_SETSEL, static_cast<WPARAM>(start), start);
    SendMessageW(Memo1, EM_SCROLLCARET, 0, 0);
    SendMessageW(Memo1, WM_HSCROLL, SB_LEFT, 0);
}

void TfrmProtocol::Clear() {
    SetWindowTextW(Memo1, L"");
}

LRESULT TfrmProtocol::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (handleCommonMessage(msg, wParam, lParam, result)) {
        return result;
    }
    switch (msg) {
        case WM_SIZE:
            if (Memo1 != nullptr) {
                MoveWindow(Memo1, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            }
            return 0;
        case WM_CLOSE:
            return 0;  // the report stays
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            setFont();
            SetWindowPos(FhWnd, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(FhWnd, msg, wParam, lParam);
}

}  // namespace qor::win32
