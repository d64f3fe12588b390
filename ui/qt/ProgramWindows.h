// The windows the program creates after the main window, in the program's start order.
#pragma once

#include "ui/qt/InfoWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MessageWindow.h"
#include "ui/qt/ProtocolWindow.h"

namespace qor::ui {

struct SecondaryWindows {
    TfrmInfo* frmInfo;
    TfrmProtocol* frmProtocol;
    TfrmMessage* frmMessage;
};

// Creates the overview, report and message windows, in this order, hidden and owned by the
// main window, and hands them to it.
SecondaryWindows createSecondaryWindows(TfrmMain& frmMain);

}  // namespace qor::ui
