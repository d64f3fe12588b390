// The message window: the outcome of a run in a modal box laid over the main window's foot.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/win32/WindowSupport.h"

namespace qor::win32 {

// Where the message window goes over a main window at (x, y) of outer size w x h: 10 pixels in
// from the sides, its bottom edge 10 pixels above the main window's bottom edge.
RECT messagePlacement(int x, int y, int w, int h, int ownHeight);

class TfrmMessage {
  public:
    explicit TfrmMessage(HWND hOwner);
    ~TfrmMessage();
    TfrmMessage(const TfrmMessage&) = delete;
    TfrmMessage& operator=(const TfrmMessage&) = delete;

    HWND handle() const { return FhWnd; }

    // Places, fills and shows the window modally; returns when it has been closed. x, y, w, h
    // are the main window's outer left, top, width and height.
    void showMsg(const std::string& sMsg, int x, int y, int w, int h);
    std::string text() const { return windowText(Memo1); }

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FhWnd = nullptr;

  private:
    void Button1Click();
    void layOut();

    HWND FhOwner;
    LayoutScale FScale{kMainDesignDpi, 96};
    std::unique_ptr<UiFont> FFont;
    HWND Memo1 = nullptr;
    HWND Button1 = nullptr;
    bool FClosed = true;
};

}  // namespace qor::win32
