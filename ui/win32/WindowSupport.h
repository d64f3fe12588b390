// What every window of the program shares: the way a window procedure finds its C++ object,
// texts of controls, the layout scale and the font, and the application-wide wait cursor.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace qor::win32 {

// The program's icon at the given size (shared, never freed); the system's when the program
// carries none.
HICON programIcon(int size);

// The C++ object behind a window: T::WndProc handles its messages. The object is handed over as
// the window's creation parameter and found again through GWLP_USERDATA; T keeps the handle in
// FhWnd, which is cleared when the window is destroyed.
template <class T>
LRESULT CALLBACK windowProcedure(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->FhWnd = hWnd;
    }
    if (self == nullptr) {
        return DefWindowProcW(hWnd, msg, wParam, lParam);
    }
    const LRESULT result = self->WndProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        self->FhWnd = nullptr;
    }
    return result;
}

// Registers the window class once per process; the class name is returned for CreateWindowExW.
template <class T>
const wchar_t* windowClass(const wchar_t* name, UINT style = 0) {
    static const ATOM atom = [name, style] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = style;
        wc.lpfnWndProc = &windowProcedure<T>;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hIcon = programIcon(32);
        wc.hIconSm = programIcon(16);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = name;
        return RegisterClassExW(&wc);
    }();
    (void)atom;
    return name;
}

// A window's text, UTF-8.
std::string windowText(HWND hWnd);
void setWindowText(HWND hWnd, const std::string& text);

// Layout units: pixels at a design resolution (120 dpi for the main and message windows, 96 dpi
// for the report and overview windows), scaled to the screen the window is on.
inline constexpr int kMainDesignDpi = 120;
inline constexpr int kReportDesignDpi = 96;

// units x screenDpi / designDpi, rounded to the nearest pixel.
int layoutToPixels(int units, int designDpi, int screenDpi);

class LayoutScale {
  public:
    LayoutScale(int designDpi, int screenDpi) : designDpi_(designDpi), screenDpi_(screenDpi) {}

    int px(int units) const { return layoutToPixels(units, designDpi_, screenDpi_); }
    int screenDpi() const { return screenDpi_; }

  private:
    int designDpi_;
    int screenDpi_;
};

// The resolution of the screen a window is on (the system's before there is a window).
int windowDpi(HWND hWnd);

// The windows' font, Tahoma 8 pt at the given resolution; deleted with the object.
class UiFont {
  public:
    explicit UiFont(int screenDpi);
    ~UiFont();
    UiFont(const UiFont&) = delete;
    UiFont& operator=(const UiFont&) = delete;

    HFONT handle() const { return FhFont; }
    // Gives the font to a window and all its children.
    void applyTo(HWND hWnd) const;

  private:
    HFONT FhFont;
};

// Gives the window the font and scale of the screen it is on, and a client area of
// clientWidth x clientHeight layout units; returns the scale.
LayoutScale fitToScreen(HWND hWnd, int designDpi, std::unique_ptr<UiFont>& font, int clientWidth,
                        int clientHeight);

// A visible child control, placed later.
HWND createControl(HWND hParent, const wchar_t* windowClass, const wchar_t* caption, DWORD style,
                   int id, DWORD exStyle = 0);

// What every window of the program answers alike: the wait cursor, and read-only text areas on
// the window colour (a text area to read, not a disabled field). True when the message was
// handled, with its result.
bool handleCommonMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Moves and sizes a child control in pixels.
void place(HWND hControl, int x, int y, int width, int height);

// A window of one control over a bottom strip of stripHeight pixels that holds a button at the
// given place in the strip (x, y, width, height in pixels).
void layOverStrip(HWND hWnd, HWND hControl, HWND hButton, int stripHeight, const RECT& button);

// Gives the window a client area of this size in pixels, keeping its top-left corner.
void setClientSize(HWND hWnd, int width, int height);

// The application-wide wait cursor: while it is on, every window of the program shows the
// hourglass (see handleCommonMessage).
void setWaitCursor(bool on);
bool waitCursorOn();
}  // namespace qor::win32
