// qor-ble-update: the window program of the radio-module update.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/KECommThread.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/ProgramWindows.h"

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qor-ble-update %s\n", QOR_VERSION);
        return 0;
    }
    // The update engine's own initialisation has already declared read-info-only support.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qor-ble-update"));
    QApplication::setApplicationVersion(QStringLiteral(QOR_VERSION));
    qor::CommThreadClass = &qor::createWorker<qor::TKECommThread>;

    qor::ui::TfrmMain frmMain;
    qor::ui::createSecondaryWindows(frmMain);
    frmMain.show();
    const int result = QApplication::exec();

    // Closing during a run abandons the run: the worker is neither stopped nor waited for.
    // End the process without tearing down what that worker may still be using.
    if (qor::TCommThread::liveWorkers() > 0) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
