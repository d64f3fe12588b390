#include "ui/win32/ProgramWindows.h"

namespace qor::win32 {

SecondaryWindows createSecondaryWindows(TfrmMain& frmMain, TfrmProtocol::Clock clock) {
    SecondaryWindows windows;
    windows.frmInfo = std::make_unique<TfrmInfo>(frmMain.handle());
    windows.frmProtocol = std::make_unique<TfrmProtocol>(frmMain.applicationWindow(),
                                                         frmMain.handle(), std::move(clock));
    windows.frmMessage = std::make_unique<TfrmMessage>(frmMain.handle());
    frmMain.setWindows(windows.frmInfo.get(), windows.frmProtocol.get(), windows.frmMessage.get());
    return windows;
}

}  // namespace qor::win32
