#include "ui/qt/MessageWindow.h"

#include <QVBoxLayout>

#include "ui/qt/Confirmation.h"
#include "ui/qt/LayoutUnits.h"

namespace qor::ui {

QRect messagePlacement(int x, int y, int w, int h, int ownHeight) {
    return {x + 10, y + h - ownHeight - 10, w - 20, ownHeight};
}

TfrmMessage::TfrmMessage(QWidget* parent, double screenDpi)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Information"));
    const LayoutScale scale(kMainDesignDpi, screenDpi);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* strip = new QWidget(this);
    strip->setFixedHeight(scale.px(45));
    Button1 = new QPushButton(QStringLiteral("OK"), strip);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(scale.rect(8, 3, 93, 39));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Memo1);
    layout->addWidget(strip);
    setFixedSize(scale.px(435), scale.px(101));
}

void TfrmMessage::showMsg(const std::string& sMsg, int x, int y, int w, int h) {
    const QMargins frame = windowFrame(*this);
    const QRect placed = messagePlacement(x, y, w, h, height() + frame.top() + frame.bottom());
    setFixedSize(placed.width() - frame.left() - frame.right(), height());
    move(placed.topLeft());
    Memo1->clear();
    Memo1->setPlainText(displayText(sMsg));
    Button1->setFocus();
    runModal_(*this);
}

void TfrmMessage::Button1Click() {
    accept();
}

}  // namespace qor::ui
