// The Windows window program, qor-ble-update.exe, updates the simulated logger's radio module
// (built-in package, DFU tool) as a user would drive it: the port typed into the port box,
// Update clicked, the "Confirm" question answered Yes, the final "Information" message read.
// The program runs as it ships, in a process of its own; this test reaches its windows only
// through window messages.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/win32/WinText.h"
#include "tests/win32/WinTestSupport.h"
#include "ui/win32/Resources.h"

namespace qor {
namespace {

using namespace std::chrono_literals;

struct Search {
    DWORD process;
    const wchar_t* className;  // nullptr: any
    const wchar_t* title;      // nullptr: any
    HWND found;
};

// A visible top-level window of the process with this class and title.
HWND findWindow(DWORD process, const wchar_t* className, const wchar_t* title) {
    Search search{process, className, title, nullptr};
    EnumWindows(
        [](HWND hWnd, LPARAM param) {
            auto& s = *reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hWnd, &owner);
            wchar_t name[64] = {};
            wchar_t text[128] = {};
            GetClassNameW(hWnd, name, 64);
            GetWindowTextW(hWnd, text, 128);
            if (owner == s.process && IsWindowVisible(hWnd) &&
                (s.className == nullptr || std::wstring(name) == s.className) &&
                (s.title == nullptr || std::wstring(text) == s.title)) {
                s.found = hWnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForWindow(DWORD process, const wchar_t* className, const wchar_t* title,
                   std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (const HWND found = findWindow(process, className, title)) {
            return found;
        }
        std::this_thread::sleep_for(50ms);
    }
    return nullptr;
}

// A window's text, also of a window of another process.
std::string textOf(HWND hWnd) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        5000, &copied);
    return platform::narrow(buffer);
}

// Clicks a button of another process without waiting for what the click starts.
void click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

class Program {
  public:
    explicit Program(const std::string& path) {
        std::wstring commandLine = L"\"" + platform::widen(path) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &info_)) {
            ADD_FAILURE() << "cannot start " << path << ": "
                          << platform::systemErrorText(GetLastError());
        }
        CloseHandle(info_.hThread);
    }
    ~Program() {
        if (info_.hProcess != nullptr) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(info_.hProcess, 1);
            }
            CloseHandle(info_.hProcess);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    DWORD id() const { return info_.dwProcessId; }
    // The exit code once the program has ended within the time, else nothing.
    std::optional<DWORD> exitCode(std::chrono::milliseconds timeout) const {
        DWORD code = 0;
        if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) !=
                WAIT_OBJECT_0 ||
            !GetExitCodeProcess(info_.hProcess, &code)) {
            return std::nullopt;
        }
        return code;
    }

  private:
    PROCESS_INFORMATION info_{};
};

TEST(WindowProgram, UpdatesTheSimulatedLoggerFromTheUpdateButton) {
    const std::string port = test::portFromEnvironment("QOR_SIM_PORT");
    test::ScopedTempDirectory temp;  // the program's temporary directory, inherited
    Program program(test::hostPath(QOR_WINDOW_EXE));

    const HWND main = waitForWindow(program.id(), L"TfrmMain", nullptr, 60s);
    ASSERT_NE(main, nullptr) << "the main window did not appear";
    EXPECT_EQ(textOf(main), "QOR BLE-Z40 Firmware Update");
    SendMessageTimeoutW(GetDlgItem(main, IDC_CBX_PORT), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(platform::widen(port).c_str()), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    click(GetDlgItem(main, IDC_BTN_PROG));

    const HWND confirm = waitForWindow(program.id(), nullptr, L"Confirm", 30s);
    ASSERT_NE(confirm, nullptr) << "no question";
    EXPECT_EQ(textOf(GetDlgItem(confirm, IDC_CONFIRM_TEXT)),
              "Do you save your measurements ?\r\nDo you really continue without saving ?");
    click(GetDlgItem(confirm, IDYES));

    // The whole update: identification, the DFU tool's transfer, the module's restart.
    const HWND message = waitForWindow(program.id(), L"TfrmMessage", L"Information", 180s);
    ASSERT_NE(message, nullptr) << "no final message";
    EXPECT_EQ(textOf(GetDlgItem(message, IDC_MEMO1)),
              "Update BLE module G2 V2.05 succesfully completed.");
    EXPECT_EQ(SendMessageW(GetDlgItem(main, IDC_PROGRESS_BAR1), PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(textOf(GetWindow(main, GW_OWNER)), "QOR BLE-Z40 Firmware Update");
    click(GetDlgItem(message, IDOK));

    // Idle again: Close ends the program without a question.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline && IsWindowVisible(message)) {
        std::this_thread::sleep_for(50ms);
    }
    click(GetDlgItem(main, IDC_BTN_CLOSE));
    EXPECT_EQ(program.exitCode(20s), std::optional<DWORD>(0));
    // The tool and the package are gone from the temporary directory.
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(platform::widen(temp.path()))) {
        const std::wstring name = entry.path().filename().wstring();
        EXPECT_TRUE(name != L"qor_ble_dfu.exe" && name != L"qor_data.zip")
            << platform::narrow(entry.path().wstring());
    }
}

}  // namespace
}  // namespace qor
