#include "tests/win32/WindowTestSupport.h"

#include <commctrl.h>
#include <ole2.h>

#include <map>
#include <ostream>

#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/win32/WinText.h"
#include "ui/win32/InfoWindow.h"
#include "ui/win32/MessageLoop.h"
#include "ui/win32/MessageWindow.h"
#include "ui/win32/ProtocolWindow.h"
#include "ui/win32/WindowSupport.h"

namespace qor::win32::test {
namespace {

// The windows need the common controls and COM, as in the program; and a display to be shown
// on (under wine: an X server, e.g. Xvfb).
class WindowEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        OleInitialize(nullptr);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                           nullptr, nullptr, nullptr);
        ASSERT_NE(probe, nullptr) << "no window can be created: wine needs a display (Xvfb)";
        DestroyWindow(probe);
    }
    void TearDown() override { OleUninitialize(); }
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new WindowEnvironment);

WindowTest* current = nullptr;

std::map<UINT_PTR, std::function<void()>>& pending() {
    static std::map<UINT_PTR, std::function<void()>> calls;
    return calls;
}

void CALLBACK runPending(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    auto& calls = pending();
    const auto it = calls.find(id);
    if (it != calls.end()) {
        const std::function<void()> fn = std::move(it->second);
        calls.erase(it);
        fn();
    }
}

std::string listText(HWND list, int row, int column) {
    wchar_t buffer[256] = {};
    ListView_GetItemText(list, row, column, buffer, 256);
    return platform::narrow(buffer);
}

}  // namespace

Frame frameOf(HWND hWnd) {
    RECT r{};
    GetWindowRect(hWnd, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Frame childFrame(HWND hChild) {
    RECT r{};
    GetWindowRect(hChild, &r);
    MapWindowPoints(nullptr, GetParent(hChild), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::ostream& operator<<(std::ostream& out, const Frame& f) {
    return out << "(" << f.left << ", " << f.top << ", " << f.width << " x " << f.height << ")";
}

void whenDispatching(std::function<void()> fn) {
    const UINT_PTR id = SetTimer(nullptr, 0, 1, &runPending);
    pending()[id] = std::move(fn);
}

void WindowTest::SetUp() {
    FakeWorkers::reset();
    CommThreadClass = &FakeWorkers::create;
    cancelFlag = false;
    readInfoOnlyFlag = false;
    readInfoOnlyCapable = true;
    current = this;
    modalTimer_ = SetTimer(nullptr, 0, 10, &answerModal);
}

void WindowTest::TearDown() {
    FakeWorkers::reset();  // every posting thread has ended
    destroyWindow();
    KillTimer(nullptr, modalTimer_);
    current = nullptr;
    CommThreadClass = nullptr;
    cancelFlag = false;
    readInfoOnlyFlag = false;
    checkClassFlag = true;
    EXPECT_FALSE(waitCursorOn());
    // Nothing left for the next test: its first dispatch would handle this one's posts.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void WindowTest::createWindow(int screenDpi) {
    MainWindowSeams seams;
    seams.isServiceMode = [this] { return answers.serviceMode; };
    seams.applyOptions = [this](bool) { return answers.options; };
    seams.listPorts = [this] { return answers.ports; };
    seams.isActiveApplication = [this] { return answers.activeApplication; };
    seams.confirm = [this](HWND, const std::string& question) {
        log.questions.push_back(question);
        if (answers.confirmations.empty()) {
            return false;
        }
        const bool yes = answers.confirmations.front();
        answers.confirmations.pop_front();
        return yes;
    };
    seams.chooseFile = [this](HWND, const std::wstring&) { return answers.chosenFile; };
    seams.showError = [this](HWND, const std::string& message) { log.errors.push_back(message); };
    seams.alertSound = [this] { ++log.beeps; };
    seams.restartDelay = [this](std::uint32_t ms) {
        log.delays.push_back(ms);
        if (duringDelay) {
            duringDelay();
        }
    };
    seams.taskbarProgress = [this](HWND button, int position) {
        log.taskbarButtons.push_back(button);
        log.taskbar.push_back(position);
    };
    seams.closed = [this] { ++log.closed; };
    seams.screenDpi = screenDpi;
    window = std::make_unique<TfrmMain>(std::move(seams));
    windows = createSecondaryWindows(*window);
    // The start-up's idle state cleared the taskbar button; the tests look at what follows.
    log.taskbar.clear();
    log.taskbarButtons.clear();
}

void WindowTest::destroyWindow() {
    windows = {};
    window.reset();
}

void CALLBACK WindowTest::answerModal(HWND, UINT, UINT_PTR, DWORD) {
    WindowTest* test = current;
    if (test == nullptr || !test->window) {
        return;
    }
    if (test->windows.frmMessage && IsWindowVisible(test->windows.frmMessage->handle())) {
        const HWND message = test->windows.frmMessage->handle();
        test->log.messages.push_back({test->windows.frmMessage->text(), frameOf(message),
                                      !IsWindowEnabled(test->window->handle())});
        SendMessageW(GetDlgItem(message, IDOK), BM_CLICK, 0, 0);
    }
    if (test->windows.frmInfo && IsWindowVisible(test->windows.frmInfo->handle())) {
        const HWND info = test->windows.frmInfo->handle();
        const HWND list = test->windows.frmInfo->listView();
        SeamLog::Overview shown;
        const int rows = ListView_GetItemCount(list);
        const HWND header = ListView_GetHeader(list);
        const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            std::vector<std::string> cells;
            for (int column = 0; column < columns; ++column) {
                cells.push_back(listText(list, row, column));
            }
            shown.rows.push_back(cells);
        }
        for (int column = 0; column < columns; ++column) {
            shown.widths.push_back(ListView_GetColumnWidth(list, column));
        }
        shown.frame = frameOf(info);
        RECT client{};
        GetClientRect(info, &client);
        shown.clientWidth = client.right;
        shown.okHasFocus = GetFocus() == GetDlgItem(info, IDOK);
        test->log.overviews.push_back(shown);
        SendMessageW(GetDlgItem(info, IDOK), BM_CLICK, 0, 0);
    }
}

std::string WindowTest::text(int id) const {
    return windowText(control(id));
}

void WindowTest::click(int id) {
    SendMessageW(control(id), BM_CLICK, 0, 0);
}

void WindowTest::dispatch() {
    dispatchWaitingMessages({[this](MSG& msg) { return window && window->preTranslate(msg); },
                             [this] {
                                 if (window) {
                                     window->ApplicationEvents1Idle();
                                 }
                             }});
}

bool WindowTest::waitFor(const std::function<bool()>& pred, int timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        dispatch();
        if (pred()) {
            return true;
        }
        if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void WindowTest::post(std::uint32_t code, std::int32_t value) {
    postNotification(window->notificationHandle(), code, value);
}

std::vector<std::string> WindowTest::reportTexts() const {
    std::vector<std::string> texts;
    const std::string all = windows.frmProtocol->text();
    std::size_t begin = 0;
    while (begin < all.size()) {
        std::size_t end = all.find("\r\n", begin);
        if (end == std::string::npos) {
            end = all.size();
        }
        const std::string line = all.substr(begin, end - begin);
        const std::size_t arrow = line.find(" -> ");
        EXPECT_EQ(arrow, 8u) << line;
        texts.push_back(arrow == std::string::npos ? line : line.substr(arrow + 4));
        begin = end + 2;
    }
    return texts;
}

std::string WindowTest::status() const {
    const HWND bar = control(IDC_STATUS_BAR1);
    const auto length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0));
    std::wstring buffer(length + 1u, L'\0');
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(buffer.data()));
    return platform::narrow(buffer.c_str());
}

std::string WindowTest::statusTip() const {
    wchar_t buffer[1024] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window->handle();
    tool.uId = reinterpret_cast<UINT_PTR>(control(IDC_STATUS_BAR1));
    tool.lpszText = buffer;
    SendMessageW(window->statusTip(), TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    return platform::narrow(buffer);
}

std::string WindowTest::applicationTitle() const {
    return windowText(window->applicationWindow());
}

int WindowTest::bar() const {
    return static_cast<int>(SendMessageW(control(IDC_PROGRESS_BAR1), PBM_GETPOS, 0, 0));
}

bool WindowTest::shown(int id) const {
    return (GetWindowLongPtrW(control(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool WindowTest::enabled(int id) const {
    return IsWindowEnabled(control(id)) != FALSE;
}

// The two rows of the state table differ in every column, the cursor included.
void WindowTest::expectState(bool running) {
    EXPECT_EQ(window->runInProgress(), running);
    EXPECT_EQ(enabled(IDC_BTN_PROG), !running);
    EXPECT_EQ(enabled(IDC_BTN_FILE), !running);
    EXPECT_EQ(shown(IDC_BTN_CLOSE), !running);
    EXPECT_EQ(shown(IDC_BTN_CANCEL), running);
    EXPECT_EQ(enabled(IDC_CBX_PORT), !running);
    // Every window of the program shows the hourglass while a run is in progress.
    EXPECT_EQ(waitCursorOn(), running);
    const HWND main = window->handle();
    const LRESULT handled = SendMessageW(main, WM_SETCURSOR, reinterpret_cast<WPARAM>(main),
                                         MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(handled != 0, running);
    if (running) {
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
    }
}

}  // namespace qor::win32::test
