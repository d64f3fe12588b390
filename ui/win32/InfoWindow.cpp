#include "ui/win32/InfoWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "frontend/FirmwareOverview.h"
#include "platform/win32/WinText.h"
#include "ui/win32/MessageLoop.h"
#include "ui/win32/Resources.h"

namespace qor::win32 {
namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr int kClientWidth = 318;
constexpr int kClientHeight = 209;
constexpr int kPanelHeight = 37;

}  // namespace

TfrmInfo::TfrmInfo(HWND hOwner) : FhOwner(hOwner) {
    CreateWindowExW(kExStyle, windowClass<TfrmInfo>(L"TfrmInfo"), L"Overview", kStyle,
                    CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, hOwner, nullptr,
                    GetModuleHandleW(nullptr), this);
    // Read-only, one row per descriptor, the header row not clickable.
    ListView1 = createControl(
        FhWnd, WC_LISTVIEWW, L"",
        WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
        IDC_LIST_VIEW1, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(ListView1, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    for (std::size_t i = 0; i < kOverviewColumns.size(); ++i) {
        std::wstring caption = platform::widen(kOverviewColumns[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = caption.data();
        column.cx = 50;
        column.iSubItem = static_cast<int>(i);
        ListView_InsertColumn(ListView1, static_cast<int>(i), &column);
    }
    Button1 = createControl(FhWnd, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK);
    FScale = fitToScreen(FhWnd, kReportDesignDpi, FFont, kClientWidth, kClientHeight);
}

TfrmInfo::~TfrmInfo() {
    if (FhWnd != nullptr) {
        DestroyWindow(FhWnd);
    }
}

void TfrmInfo::layOut() {
    layOverStrip(FhWnd, ListView1, Button1, FScale.px(kPanelHeight),
                 {FScale.px(13), FScale.px(7), FScale.px(98), FScale.px(24)});
}

std::int32_t TfrmInfo::Execute(std::int32_t ALeft, std::int32_t ATop, std::int32_t AHeight) {
    fillRows();
    RECT own{};
    GetWindowRect(FhWnd, &own);
    SetWindowPos(FhWnd, nullptr, ALeft, ATop, own.right - own.left, AHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    fitColumns();
    FClosed = false;
    FModalResult = IDCANCEL;
    runModal(FhWnd, FhOwner, Button1, FClosed);
    return FModalResult;
}

void TfrmInfo::fillRows() {
    ListView_DeleteAllItems(ListView1);
    int row = 0;
    for (const OverviewRow& cells : overviewRows()) {
        std::wstring caption = platform::widen(cells[0]);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = caption.data();
        ListView_InsertItem(ListView1, &item);
        for (std::size_t column = 1; column < cells.size(); ++column) {
            std::wstring text = platform::widen(cells[column]);
            ListView_SetItemText(ListView1, row, static_cast<int>(column), text.data());
        }
        ++row;
    }
}

void TfrmInfo::fitColumns() {
    // Fitted to the header, the last column would otherwise fill the rest of the list's width,
    // and with the window made wider each time by the extra 30, grow at every opening. So the
    // list is narrowed to nothing while the columns are measured.
    RECT list{};
    GetClientRect(ListView1, &list);
    SetWindowPos(ListView1, nullptr, 0, 0, 0, list.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    int sum = 0;
    const int columns = static_cast<int>(kOverviewColumns.size());
    for (int column = 0; column < columns; ++column) {
        // From nothing, so that no earlier width counts as a measure.
        ListView_SetColumnWidth(ListView1, column, 0);
        ListView_SetColumnWidth(ListView1, column, LVSCW_AUTOSIZE_USEHEADER);
        const int headerWidth = ListView_GetColumnWidth(ListView1, column);
        ListView_SetColumnWidth(ListView1, column, LVSCW_AUTOSIZE);
        const int cellWidth = ListView_GetColumnWidth(ListView1, column);
        const int width = std::max(headerWidth, cellWidth) + FScale.px(5);
        ListView_SetColumnWidth(ListView1, column, width);
        sum += width;
    }
    RECT client{};
    GetClientRect(FhWnd, &client);
    setClientSize(FhWnd, sum + FScale.px(30), client.bottom);
    layOut();
}

void TfrmInfo::close(std::int32_t result) {
    FModalResult = result;
    FClosed = true;
}

LRESULT TfrmInfo::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
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
            if (LOWORD(wParam) == IDOK) {
                close(IDOK);
                return 0;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                close(IDCANCEL);
                return 0;
            }
            break;
        case WM_CLOSE:
            close(IDCANCEL);
            return 0;
        case WM_DPICHANGED:
            FScale = fitToScreen(FhWnd, kReportDesignDpi, FFont, kClientWidth, kClientHeight);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(FhWnd, msg, wParam, lParam);
}

}  // namespace qor::win32
