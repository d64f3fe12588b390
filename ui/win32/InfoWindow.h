// The firmware overview window (Info > Firmware): one row per catalogue descriptor in a list view,
// columns fitted to their texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "ui/win32/WindowSupport.h"

namespace qor::win32 {

class TfrmInfo {
  public:
    explicit TfrmInfo(HWND hOwner);
    ~TfrmInfo();
    TfrmInfo(const TfrmInfo&) = delete;
    TfrmInfo& operator=(const TfrmInfo&) = delete;

    HWND handle() const { return FhWnd; }
    HWND listView() const { return ListView1; }

    // Lists the catalogue now (the loaded descriptor first when it is selected, then the
    // built-in entries from the highest index down), places the window at the given left and
    // top edges with the given outer height, fits the columns and shows the window modally;
    // returns IDOK when OK closed it, IDCANCEL otherwise.
    std::int32_t Execute(std::int32_t ALeft, std::int32_t ATop, std::int32_t AHeight);

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FhWnd = nullptr;

  private:
    void fillRows();
    // Each column as wide as the larger of its header's and its cells' fit, plus 5; the client
    // area as wide as the columns, plus 30.
    void fitColumns();
    void layOut();
    void close(std::int32_t result);

    HWND FhOwner;
    LayoutScale FScale{kReportDesignDpi, 96};
    std::unique_ptr<UiFont> FFont;
    HWND ListView1 = nullptr;
    HWND Button1 = nullptr;
    bool FClosed = true;
    std::int32_t FModalResult = IDCANCEL;
};

}  // namespace qor::win32
