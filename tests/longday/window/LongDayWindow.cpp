// One window process updating a logger again and again: the Qt main window on the offscreen
// platform, its Update button pressed for every run, real workers, the simulated logger on the
// given port; dialogs are answered through the window's seams.
//   long_day_window PORT RUNS WAIT_DIVISOR
#include <QApplication>
#include <QDialog>
#include <cstdio>
#include <cstdlib>

#include "engine/KECommThread.h"
#include "platform/Clock.h"
#include "tests/longday/ProcessFigures.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/ProgramWindows.h"

int main(int argc, char** argv) {
    using namespace qor;
    if (argc != 4) {
        std::fprintf(stderr, "usage: long_day_window PORT RUNS WAIT_DIVISOR\n");
        return 2;
    }
    const QString port = QString::fromLocal8Bit(argv[1]);
    const int runs = std::atoi(argv[2]);
    platform::waitDivisor = static_cast<std::uint32_t>(std::atoi(argv[3]));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CommThreadClass = &createWorker<TKECommThread>;

    ui::MainWindowSeams seams = ui::MainWindowSeams::program();
    seams.isServiceMode = [] { return false; };
    seams.applyOptions = [](bool) { return StartupOptions{}; };
    seams.fillPortList = [port](QStringList& list) { list = {port}; };
    seams.watchPorts = false;
    seams.confirm = [](QWidget*, const QString&) { return true; };
    seams.alertSound = [] {};
    ui::TfrmMain frmMain(seams);
    const ui::SecondaryWindows windows = ui::createSecondaryWindows(frmMain);
    QString lastMessage;
    windows.frmMessage->setModalRunner([&](QDialog& dialog) {
        lastMessage = static_cast<ui::TfrmMessage&>(dialog).text();
        return int{QDialog::Accepted};
    });
    frmMain.show();

    const int earlyRun = std::min(10, runs);
    test::ProcessFigures early;
    int failed = 0;
    for (int run = 1; run <= runs; ++run) {
        frmMain.btnProgClick();
        while (frmMain.runInProgress()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents();
        TCommThread::waitForWorkers(10000);
        if (!lastMessage.endsWith(QStringLiteral("succesfully completed."))) {
            ++failed;
            std::printf("run %d: %s\n", run, qPrintable(lastMessage));
        }
        if (run == earlyRun) {
            early = test::sampleProcess();
        }
    }
    const test::ProcessFigures last = test::sampleProcess();
    return test::judgeLongDay("window process", earlyRun, early, runs, last, failed);
}
