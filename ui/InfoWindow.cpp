#include "ui/InfoWindow.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "ui/LayoutUnits.h"

namespace qor::ui {

// TODO(firmware overview): the list of catalogue descriptors (ListView1) with fitted columns.
// Until then the window is the empty frame with its OK button.
TfrmInfo::TfrmInfo(QWidget* parent, double screenDpi)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmInfo"));
    setWindowTitle(QStringLiteral("Overview"));
    const LayoutScale scale(kReportDesignDpi, screenDpi);
    resize(scale.px(318), scale.px(209));
    auto* panel = new QWidget(this);
    panel->setFixedHeight(scale.px(37));
    auto* ok = new QPushButton(QStringLiteral("OK"), panel);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setGeometry(scale.rect(13, 7, 98, 24));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(panel);
}

std::int32_t TfrmInfo::Execute(std::int32_t ALeft, std::int32_t ATop, std::int32_t AHeight) {
    move(ALeft, ATop);
    const QMargins frame = windowFrame(*this);
    resize(width(), AHeight - frame.top() - frame.bottom());
    return runModal_(*this);
}

}  // namespace qor::ui
