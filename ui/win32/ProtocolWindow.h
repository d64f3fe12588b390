// The report window: the time-stamped log of update runs, docked under the main window.
#pragma once

#include <windows.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "ui/win32/WindowSupport.h"

namespace qor::win32 {

class TfrmProtocol {
  public:
    using Clock = std::function<std::tm()>;

    // Created hidden, owned by hOwner, under hMainWindow and as wide as it.
    TfrmProtocol(HWND hOwner, HWND hMainWindow, Clock clock = {});
    ~TfrmProtocol();
    TfrmProtocol(const TfrmProtocol&) = delete;
    TfrmProtocol& operator=(const TfrmProtocol&) = delete;

    HWND handle() const { return FhWnd; }
    HWND memo() const { return Memo1; }

    // Appends "hh-nn-ss -> sLine" and keeps the last line in view.
    void Add(const std::string& sLine);
    void Clear();
    std::string text() const { return windowText(Memo1); }

    // Puts the window's top edge on the main window's bottom edge, left edges aligned.
    void followMainWindow();

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FhWnd = nullptr;

  private:
    void FormCreate();
    void setFont();

    HWND FhMainWindow;
    Clock FClock;
    std::unique_ptr<UiFont> FFont;
    HWND Memo1 = nullptr;
};

}  // namespace qor::win32
