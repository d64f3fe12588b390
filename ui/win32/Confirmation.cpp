#include "ui/win32/Confirmation.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/win32/WinText.h"
#include "ui/win32/Resources.h"

namespace qor::win32 {
namespace {

// A dialog template in memory: DLGTEMPLATE, its strings, then one DLGITEMTEMPLATE per control,
// each aligned to a DWORD.
class DialogTemplate {
  public:
    DialogTemplate(DWORD style, const wchar_t* title, WORD pointSize, const wchar_t* font) {
        DLGTEMPLATE head{};
        head.style = style;
        append(&head, sizeof head);
        word(0);  // no menu
        word(0);  // the dialog class
        text(title);
        word(pointSize);
        text(font);
    }

    // A control of a predefined class (0x0080 button, 0x0082 static), placed later.
    void control(WORD classAtom, DWORD style, WORD id, const wchar_t* title) {
        align();
        DLGITEMTEMPLATE item{};
        item.style = style | WS_CHILD | WS_VISIBLE;
        item.cx = 10;
        item.cy = 10;
        item.id = id;
        append(&item, sizeof item);
        word(0xFFFF);
        word(classAtom);
        text(title);
        word(0);  // no creation data
        ++count_;
        reinterpret_cast<DLGTEMPLATE*>(bytes_.data())->cdit = count_;
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

  private:
    void append(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + n);
    }
    void word(WORD w) { append(&w, sizeof w); }
    void text(const wchar_t* s) { append(s, (wcslen(s) + 1) * sizeof(wchar_t)); }
    void align() {
        while (bytes_.size() % 4 != 0) {
            bytes_.push_back(0);
        }
    }

    // DWORD-aligned storage, as the dialog manager requires of a template.
    std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>();
    WORD count_ = 0;
};

struct Question {
    std::wstring text;
    HWND hOwner;
};

// Sizes and places the controls around the question's text, in the dialog's own font.
void layOut(HWND hDlg, const Question& question) {
    RECT units{7, 4, 50, 14};  // margin, gap, button width and height in dialog units
    MapDialogRect(hDlg, &units);
    const int margin = units.left;
    const int gap = units.top;
    const int buttonWidth = units.right;
    const int buttonHeight = units.bottom;
    const int iconSize = GetSystemMetrics(SM_CXICON);

    RECT text{0, 0, 240, 0};  // the widest line in dialog units, then in pixels
    MapDialogRect(hDlg, &text);
    text.bottom = 0;
    const HDC dc = GetDC(hDlg);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(hDlg, WM_GETFONT, 0, 0));
    const HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, question.text.c_str(), -1, &text,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(hDlg, dc);

    const int textX = margin + iconSize + 2 * gap;
    const int textHeight = std::max<int>(text.bottom, iconSize);
    const int buttonsWidth = 2 * buttonWidth + gap;
    const int clientWidth = std::max<int>(textX + text.right, buttonsWidth) + 2 * margin;
    const int buttonsY = margin + textHeight + 2 * margin;
    const int clientHeight = buttonsY + buttonHeight + margin;

    SetWindowPos(GetDlgItem(hDlg, IDC_CONFIRM_ICON), nullptr, margin, margin, iconSize, iconSize,
                 SWP_NOZORDER);
    SetWindowPos(GetDlgItem(hDlg, IDC_CONFIRM_TEXT), nullptr, textX,
                 margin + (textHeight - text.bottom) / 2, text.right, text.bottom, SWP_NOZORDER);
    const int buttonsX = (clientWidth - buttonsWidth) / 2;
    SetWindowPos(GetDlgItem(hDlg, IDYES), nullptr, buttonsX, buttonsY, buttonWidth, buttonHeight,
                 SWP_NOZORDER);
    SetWindowPos(GetDlgItem(hDlg, IDNO), nullptr, buttonsX + buttonWidth + gap, buttonsY,
                 buttonWidth, buttonHeight, SWP_NOZORDER);

    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hDlg, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hDlg, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    // Over the middle of the owner, or of the screen without one; always on the screen.
    RECT area{};
    if (question.hOwner != nullptr && IsWindowVisible(question.hOwner)) {
        GetWindowRect(question.hOwner, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    int x = (area.left + area.right - width) / 2;
    int y = (area.top + area.bottom - height) / 2;
    x = std::clamp<int>(x, work.left, std::max<int>(work.left, work.right - width));
    y = std::clamp<int>(y, work.top, std::max<int>(work.top, work.bottom - height));
    SetWindowPos(hDlg, nullptr, x, y, width, height, SWP_NOZORDER);
}

INT_PTR CALLBACK confirmProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: {
            const auto* question = reinterpret_cast<const Question*>(lParam);
            SetDlgItemTextW(hDlg, IDC_CONFIRM_TEXT, question->text.c_str());
            SendDlgItemMessageW(hDlg, IDC_CONFIRM_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_QUESTION)), 0);
            layOut(hDlg, *question);
            SendMessageW(hDlg, DM_SETDEFID, IDYES, 0);
            SetFocus(GetDlgItem(hDlg, IDYES));
            return FALSE;  // the focus is set
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDYES:
                    EndDialog(hDlg, IDYES);
                    return TRUE;
                case IDNO:
                case IDCANCEL:  // Escape
                    EndDialog(hDlg, IDNO);
                    return TRUE;
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

bool askConfirmation(HWND hOwner, const std::string& question) {
    // No title-bar buttons: the answer is Yes or No.
    DialogTemplate dialog(DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | WS_POPUP | WS_CAPTION,
                          L"Confirm", 8, L"MS Shell Dlg");
    dialog.control(0x0082, SS_ICON, IDC_CONFIRM_ICON, L"");
    dialog.control(0x0082, SS_LEFT | SS_NOPREFIX, IDC_CONFIRM_TEXT, L"");
    dialog.control(0x0080, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES, L"Yes");
    dialog.control(0x0080, BS_PUSHBUTTON | WS_TABSTOP, IDNO, L"No");
    Question q{platform::widen(question), hOwner};
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.get(), hOwner,
                                                   &confirmProc, reinterpret_cast<LPARAM>(&q));
    return answer == IDYES;
}

}  // namespace qor::win32
