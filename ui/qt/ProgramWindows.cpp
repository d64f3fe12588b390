#include "ui/qt/ProgramWindows.h"

namespace qor::ui {

SecondaryWindows createSecondaryWindows(TfrmMain& frmMain) {
    auto* frmInfo = new TfrmInfo(&frmMain, frmMain.screenDpi());
    auto* frmProtocol = new TfrmProtocol(&frmMain, frmMain.screenDpi());
    auto* frmMessage = new TfrmMessage(&frmMain, frmMain.screenDpi());
    frmMain.setWindows(frmInfo, frmProtocol, frmMessage);
    return {frmInfo, frmProtocol, frmMessage};
}

}  // namespace qor::ui
