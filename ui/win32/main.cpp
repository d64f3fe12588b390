// qor-ble-update.exe: the window program of the radio-module update, for Windows.
#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>

#include "engine/KECommThread.h"
#include "ui/win32/MessageLoop.h"
#include "ui/win32/ProgramWindows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int nCmdShow) {
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
