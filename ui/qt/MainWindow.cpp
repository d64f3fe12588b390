#include "ui/qt/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <exception>
#include <filesystem>

#include "catalogue/Catalogue.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"
#include "platform/ProgramParameters.h"
#include "ui/qt/Confirmation.h"
#include "ui/qt/InfoWindow.h"
#include "ui/qt/MessageWindow.h"
#include "ui/qt/PortList.h"
#include "ui/qt/PortWatcher.h"
#include "ui/qt/ProtocolWindow.h"

namespace qor::ui {
namespace {

// A worker's notification on its way to the window's thread. A report line travels with its
// notification: the worker may have stored its next line in the slot by the time this one is
// handled.
class NotificationEvent : public QEvent {
  public:
    explicit NotificationEvent(Notification notification)
        : QEvent(type()), notification_(std::move(notification)) {}

    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    const Notification& notification() const { return notification_; }

  private:
    Notification notification_;
};

// A sunken line along the top edge, as a separator under the menu bar.
class TopLine : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawLine(0, 0, width() - 1, 0);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawLine(0, 1, width() - 1, 1);
    }
};

template <class Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

MainWindowSeams MainWindowSeams::program() {
    MainWindowSeams seams;
    seams.isServiceMode = &qor::isServiceMode;
    seams.applyOptions = [](bool serviceMode) {
        return applyStartupOptions(serviceMode, platform::programParameters());
    };
    seams.fillPortList = &ui::fillPortList;
    seams.isActiveApplication = [] {
        return QGuiApplication::applicationState() == Qt::ApplicationActive;
    };
    seams.watchPorts = true;
    seams.confirm = &askConfirmation;
    seams.chooseFile = [](QWidget* parent, const QString& initialDir) {
        return QFileDialog::getOpenFileName(parent, QString(), initialDir);
    };
    seams.showError = [](QWidget* parent, const QString& message) {
        QMessageBox::critical(parent, QApplication::applicationDisplayName(), message);
    };
    seams.alertSound = &QApplication::beep;
    seams.restartDelay = &platform::sleepMs;
    return seams;
}

TfrmMain::TfrmMain(MainWindowSeams seams)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      FSeams(std::move(seams)),
      FScale(kMainDesignDpi, FSeams.screenDpi > 0 ? FSeams.screenDpi : screenLogicalDpi()),
      FRunControl(*this, registerNotificationSink([this](const Notification& notification) {
          QCoreApplication::postEvent(this, new NotificationEvent(notification));
      })) {
    setObjectName(QStringLiteral("frmMain"));
    createControls();
    FormCreate();
    QMetaObject::invokeMethod(
        this, [this] { ApplicationEvents1Idle(); }, Qt::QueuedConnection);
    if (FSeams.watchPorts) {
        new PortWatcher(*this, [this] { portChange(); });
    }
}

TfrmMain::~TfrmMain() {
    unregisterNotificationSink(FRunControl.notificationHandle());
    setWaitCursor(false);
}

void TfrmMain::createControls() {
    const LayoutScale& s = FScale;

    menInfo = named(menuBar()->addMenu(QString()), "menInfo");
    menInfoFirmware = named(menInfo->addAction(QStringLiteral("Firmware")), "menInfoFirmware");
    menInfoFile = named(menInfo->addAction(QStringLiteral("File version")), "menInfoFile");
    menInfo->addSeparator();
    menFileExit = named(menInfo->addAction(QStringLiteral("Exit")), "menFileExit");
    connect(menInfoFirmware, &QAction::triggered, this, [this] { menInfoFirmwareClick(); });
    connect(menInfoFile, &QAction::triggered, this, [this] { menInfoFileClick(); });
    connect(menFileExit, &QAction::triggered, this, [this] { menFileExitClick(); });

    Panel1 = named(new QWidget(this), "Panel1");
    Panel1->setFixedSize(s.px(444), s.px(201));
    setCentralWidget(Panel1);
    Bevel1 = named(new TopLine(Panel1), "Bevel1");
    Bevel1->setGeometry(s.rect(0, 0, 444, 10));

    Label1 = named(new QLabel(QStringLiteral("Comport:"), Panel1), "Label1");
    Label1->move(s.px(16), s.px(18));
    Label1->adjustSize();
    cbxPort = named(new QComboBox(Panel1), "cbxPort");
    cbxPort->setEditable(true);
    cbxPort->setInsertPolicy(QComboBox::NoInsert);
    cbxPort->setGeometry(s.px(96), s.px(14), s.px(329), cbxPort->sizeHint().height());

    ProgressBar1 = named(new QProgressBar(Panel1), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(s.rect(16, 57, 409, 33));

    btnProg = named(new QPushButton(QStringLiteral("Update"), Panel1), "btnProg");
    btnProg->setGeometry(s.rect(50, 107, 139, 41));
    btnFile = named(new QPushButton(QStringLiteral("File"), Panel1), "btnFile");
    btnFile->setGeometry(s.rect(127, 107, 69, 41));
    btnClose = named(new QPushButton(QStringLiteral("Close"), Panel1), "btnClose");
    btnClose->setGeometry(s.rect(250, 107, 139, 41));
    btnCancel = named(new QPushButton(QStringLiteral("Cancel"), Panel1), "btnCancel");
    btnCancel->setGeometry(s.rect(250, 107, 139, 41));
    btnCancel->hide();
    connect(btnProg, &QPushButton::clicked, this, [this] { btnProgClick(); });
    connect(btnFile, &QPushButton::clicked, this, [this] { btnFileClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    chkReadInfoOnly =
        named(new QCheckBox(QStringLiteral("Read info only"), Panel1), "chkReadInfoOnly");
    chkReadInfoOnly->setGeometry(s.rect(32, 168, 145, 17));

    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(s.px(19));
    StatusText = named(new QLabel(StatusBar1), "StatusText");
    StatusBar1->addWidget(StatusText, 1);
    setStatusBar(StatusBar1);

    QWidget::setTabOrder(cbxPort, ProgressBar1);
    QWidget::setTabOrder(ProgressBar1, btnProg);
    QWidget::setTabOrder(btnProg, btnCancel);
    QWidget::setTabOrder(btnCancel, btnClose);
    QWidget::setTabOrder(btnClose, btnFile);
    QWidget::setTabOrder(btnFile, chkReadInfoOnly);
}

void TfrmMain::FormCreate() {
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    menInfo->setTitle(QString::fromLatin1(kInfoMenuCaption));
    // Every question goes through FSeams.confirm, which asks in the "Confirm" dialog.
    FOpenDialogDir = QCoreApplication::applicationFilePath();

    const bool service = isServiceMode();
    FRunControl.applyStartup(service, FSeams.applyOptions(service));
    chkReadInfoOnly->setChecked(false);
    chkReadInfoOnly->setVisible(FRunControl.readInfoOnlyOffered());

    const RunButtons buttons = runButtonsAt(FRunControl.serviceLevel());
    menInfoFile->setVisible(buttons.fileShown);
    btnFile->setVisible(buttons.fileShown);
    const auto place = [this](QWidget* button, const LayoutRect& r) {
        button->setGeometry(FScale.rect(r.x, r.y, r.width, r.height));
    };
    place(btnProg, buttons.update);
    place(btnFile, buttons.file);

    // Fixed size: menu bar, panel and status bar, nothing below.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    QStringList ports;
    FSeams.fillPortList(ports);
    cbxPort->addItems(ports);
    if (!ports.isEmpty()) {
        cbxPort->setCurrentIndex(0);
    }

    FRunControl.showInitialState();
}

void TfrmMain::setWindows(TfrmInfo* frmInfo, TfrmProtocol* frmProtocol, TfrmMessage* frmMessage) {
    frmInfo_ = frmInfo;
    frmProtocol_ = frmProtocol;
    frmMessage_ = frmMessage;
}

bool TfrmMain::isServiceMode() const {
    return FSeams.isServiceMode();
}

void TfrmMain::btnProgClick() {
    FRunControl.updateClicked();
}

void TfrmMain::btnFileClick() {
    FRunControl.fileClicked();
}

bool TfrmMain::prepareRun(const QString& fileName) {
    return FRunControl.prepareRun(fileName.toStdString());
}

void TfrmMain::showRunState(bool running) {
    btnProg->setEnabled(!running);
    btnFile->setEnabled(!running);
    btnClose->setVisible(!running);
    btnCancel->setVisible(running);
    cbxPort->setEnabled(!running);
    setWaitCursor(running);
}

void TfrmMain::setWaitCursor(bool on) {
    if (on == FWaitCursor) {
        return;
    }
    FWaitCursor = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TfrmMain::btnCancelClick() {
    FRunControl.cancelClicked();
}

void TfrmMain::btnCloseClick() {
    close();
}

void TfrmMain::menFileExitClick() {
    close();
}

void TfrmMain::menInfoFirmwareClick() {
    showOverview();
}

void TfrmMain::showOverview() {
    if (frmInfo_) {
        const QRect outer = frameGeometry();
        frmInfo_->Execute(outer.left(), outer.top(), outer.height());
    }
}

void TfrmMain::menInfoFileClick() {
    FRunControl.fileVersionClicked();
}

std::string TfrmMain::chooseFile() {
    return FSeams.chooseFile(this, FOpenDialogDir).toStdString();
}

void TfrmMain::showError(const std::string& message) {
    FSeams.showError(this, QString::fromStdString(message));
}

void TfrmMain::descriptorUnreadable(const std::string& reason) {
    addReport(reason);
    setStatus(reason);
}

bool TfrmMain::confirm(const std::string& question) {
    return FSeams.confirm(this, QString::fromStdString(question));
}

bool TfrmMain::readInfoOnlyTicked() const {
    return chkReadInfoOnly->isChecked();
}

void TfrmMain::ApplicationEvents1Idle() {
    if (FRunControl.reportWindowAtFirstIdle() && frmProtocol_) {
        frmProtocol_->show();
    }
}

void TfrmMain::portChange() {
    // Refilled even during a run, which works on its own copy of the port name. The text shown
    // stays: a port that went away is still named until the user chooses again.
    QStringList ports;
    FSeams.fillPortList(ports);
    const QString shown = cbxPort->currentText();
    cbxPort->clear();
    cbxPort->addItems(ports);
    cbxPort->setCurrentIndex(static_cast<int>(ports.indexOf(shown)));
    cbxPort->setEditText(shown);

    if (FRunControl.dropDownAfterPortChange(FSeams.isActiveApplication())) {
        cbxPort->hidePopup();
        cbxPort->repaint();
        cbxPort->showPopup();
    }
}

bool TfrmMain::FormCloseQuery() {
    return FRunControl.closeQuery();
}

void TfrmMain::clearReport() {
    if (frmProtocol_) {
        frmProtocol_->Clear();
    }
}

void TfrmMain::setStatus(const std::string& text) {
    const QString line = displayText(text);
    StatusText->setText(line);
    StatusBar1->setToolTip(line);
}

void TfrmMain::addReport(const std::string& text) {
    if (frmProtocol_) {
        frmProtocol_->Add(text);
    }
}

void TfrmMain::showMessageWindow(const std::string& text) {
    if (frmMessage_) {
        const QRect outer = frameGeometry();
        frmMessage_->showMsg(text, outer.left(), outer.top(), outer.width(), outer.height());
    } else {
        QMessageBox box(QMessageBox::NoIcon, FApplicationTitle, displayText(text), QMessageBox::Ok);
        box.exec();
    }
}

void TfrmMain::setProgressBar(int position) {
    ProgressBar1->setValue(position);
}

void TfrmMain::setApplicationTitle(const std::string& text) {
    FApplicationTitle = QString::fromStdString(text);
    // The text the desktop shows for the application (icon and task list); the caption stays.
    setWindowIconText(FApplicationTitle);
}

std::string TfrmMain::portText() const {
    return cbxPort->currentText().toStdString();
}

void TfrmMain::alertSound() {
    FSeams.alertSound();
}

void TfrmMain::restartDelay(std::uint32_t milliseconds) {
    FSeams.restartDelay(milliseconds);
}

bool TfrmMain::event(QEvent* event) {
    if (event->type() == NotificationEvent::type()) {
        FRunControl.handle(static_cast<NotificationEvent*>(event)->notification());
        return true;
    }
    return QMainWindow::event(event);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TfrmMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    followReportWindow();
}

void TfrmMain::followReportWindow() {
    if (frmProtocol_) {
        frmProtocol_->followMainWindow();
    }
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        const QScreen* where = screen();
        if (where != nullptr) {
            const QRect outer = frameGeometry();
            const QPoint centre = where->availableGeometry().center();
            move(centre.x() - outer.width() / 2, centre.y() - outer.height() / 2);
        }
        followReportWindow();
    }
}

}  // namespace qor::ui
