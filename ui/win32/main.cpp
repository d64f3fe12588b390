// qor-ble-update.exe: the window program of the radio-module update, for Windows.
#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>
#include <ole2.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "engine/KECommThread.h"
#include "ui/win32/MessageLoop.h"
#include "ui/win32/ProgramWindows.h"

namespace {

// "--version" alone prints the version and opens no window. A window program has no console
// of its own: the line goes to the output it was given (a redirection), else to the console it
// was started from.
bool versionAsked() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool asked = argv != nullptr && argc == 2 && std::wcscmp(argv[1], L"--version") == 0;
    LocalFree(argv);
    return asked;
}

void printVersion() {
    static const char line[] = "qor-ble-update " QOR_VERSION "\r\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE console = INVALID_HANDLE_VALUE;
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
        out = console;
    }
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, line, sizeof line - 1, &written, nullptr);
    }
    if (console != INVALID_HANDLE_VALUE) {
        CloseHandle(console);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int nCmdShow) {
    if (versionAsked()) {
        printVersion();
        return 0;
    }
    // The update engine's own initialisation has already declared read-info-only support.
    const HRESULT ole = OleInitialize(nullptr);  // the file dialog and the taskbar button
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES |
                                                       ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    qor::CommThreadClass = &qor::createWorker<qor::TKECommThread>;

    int result = 0;
    {
        qor::win32::TfrmMain frmMain;
        qor::win32::SecondaryWindows windows = qor::win32::createSecondaryWindows(frmMain);
        frmMain.show(nCmdShow);
        result =
            qor::win32::runMessageLoop({[&frmMain](MSG& msg) { return frmMain.preTranslate(msg); },
                                        [&frmMain] { frmMain.ApplicationEvents1Idle(); }});

        // Closing during a run abandons the run: the worker is neither stopped nor waited for.
        // End the process without tearing down what that worker may still be using.
        if (qor::TCommThread::liveWorkers() > 0) {
            std::fflush(nullptr);
            std::_Exit(result);
        }
        windows = {};
    }
    if (SUCCEEDED(ole)) {
        OleUninitialize();
    }
    return result;
}
