// The windows the program creates after the main window, in the program's start order.
#pragma once

#include <memory>

#include "ui/win32/InfoWindow.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/MessageWindow.h"
#include "ui/win32/ProtocolWindow.h"

namespace qor::win32 {

struct SecondaryWindows {
    std::unique_ptr<TfrmInfo> frmInfo;
    std::unique_ptr<TfrmProtocol> frmProtocol;
    std::unique_ptr<TfrmMessage> frmMessage;
};

// Creates the overview, report and message windows, in this order, hidden, and hands them to
// the main window. The report window belongs to the application window, as the main window
// does, so that it goes and comes with the program when it is minimised; the other two are the
// main window's own. Destroy them before the main window.
SecondaryWindows createSecondaryWindows(TfrmMain& frmMain, TfrmProtocol::Clock clock = {});

}  // namespace qor::win32
