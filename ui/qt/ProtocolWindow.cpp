#include "ui/qt/ProtocolWindow.h"

#include <QCloseEvent>
#include <QLayout>
#include <QScrollBar>
#include <QVBoxLayout>

#include "engine/NotificationHandler.h"
#include "platform/Clock.h"
#include "ui/qt/LayoutUnits.h"

namespace qor::ui {

TfrmProtocol::TfrmProtocol(QWidget* mainWindow, double screenDpi, Clock clock)
    : QWidget(mainWindow, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainWindow_(mainWindow),
      clock_(clock ? std::move(clock) : Clock(&platform::localTimeNow)) {
    setObjectName(QStringLiteral("frmProtocol"));
    setWindowTitle(QStringLiteral("Report"));
    const LayoutScale scale(kReportDesignDpi, screenDpi);
    resize(scale.px(454), scale.px(141));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(QStringLiteral("Memo1"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);

    FormCreate();
}

void TfrmProtocol::FormCreate() {
    // The main window's fixed size comes from its layout, which settles when it is first shown
    // or asked to; before that the window has a toolkit's default size.
    if (QLayout* layout = mainWindow_->layout()) {
        layout->activate();
    }
    const QRect main = mainWindow_->frameGeometry();
    move(main.left(), main.top() + main.height());
    matchMainWindowWidth();
    Clear();
}

void TfrmProtocol::matchMainWindowWidth() {
    const QMargins frame = windowFrame(*this);
    resize(mainWindow_->frameGeometry().width() - frame.left() - frame.right(), height());
}

bool TfrmProtocol::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // Frames are known only once the window manager has put them around both windows; the
    // outer widths are matched then, once.
    const QEvent::Type type = event->type();
    if (frameUnknown_ && isVisible() && (type == QEvent::Move || type == QEvent::Resize) &&
        frameGeometry() != geometry() && mainWindow_->frameGeometry() != mainWindow_->geometry()) {
        frameUnknown_ = false;
        if (frameGeometry().width() != mainWindow_->frameGeometry().width()) {
            matchMainWindowWidth();
        }
    }
    return handled;
}

void TfrmProtocol::followMainWindow() {
    const QRect main = mainWindow_->frameGeometry();
    const QPoint wanted(main.left(), main.top() + main.height());
    if (pos() != wanted) {
        move(wanted);
    }
}

void TfrmProtocol::Add(const std::string& sLine) {
    Memo1->appendPlainText(QString::fromStdString(formatReportLine(clock_(), sLine)));
    QScrollBar* bar = Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TfrmProtocol::Clear() {
    Memo1->clear();
}

void TfrmProtocol::closeEvent(QCloseEvent* event) {
    event->ignore();
}

}  // namespace qor::ui
