#include "ui/qt/InfoWindow.h"

#include <QEvent>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>

#include "frontend/FirmwareOverview.h"

namespace qor::ui {

TfrmInfo::TfrmInfo(QWidget* parent, double screenDpi)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      scale_(kReportDesignDpi, screenDpi) {
    setObjectName(QStringLiteral("frmInfo"));
    setWindowTitle(QStringLiteral("Overview"));
    resize(scale_.px(318), scale_.px(209));

    // A read-only list in report view: header row on top, whole rows selected, no sorting.
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    QStringList captions;
    for (const char* caption : kOverviewColumns) {
        captions << QString::fromLatin1(caption);
    }
    ListView1->setHeaderLabels(captions);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSortingEnabled(false);
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->header()->setStretchLastSection(false);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedHeight(scale_.px(37));
    Button1 = new QPushButton(QStringLiteral("OK"), panel);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(scale_.rect(13, 7, 98, 24));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ListView1, 1);
    layout->addWidget(panel);
}

std::int32_t TfrmInfo::Execute(std::int32_t ALeft, std::int32_t ATop, std::int32_t AHeight) {
    ListView1->clear();
    for (const OverviewRow& row : overviewRows()) {
        QStringList cells;
        for (const std::string& cell : row) {
            cells << QString::fromStdString(cell);
        }
        ListView1->addTopLevelItem(new QTreeWidgetItem(cells));
    }

    wanted_ = QRect(ALeft, ATop, 0, AHeight);
    place();
    fitColumns();
    Button1->setFocus();
    return runModal_(*this);
}

void TfrmInfo::place() {
    move(wanted_.topLeft());
    const QMargins frame = windowFrame(*this);
    resize(width(), wanted_.height() - frame.top() - frame.bottom());
}

bool TfrmInfo::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    const QEvent::Type type = event->type();
    if (frameUnknown_ && isVisible() && (type == QEvent::Move || type == QEvent::Resize)) {
        const QRect outer = frameGeometry();
        if (outer != geometry()) {
            frameUnknown_ = false;
            if (outer.topLeft() != wanted_.topLeft() || outer.height() != wanted_.height()) {
                place();
            }
        }
    }
    return handled;
}

void TfrmInfo::fitColumns() {
    ensurePolished();
    ListView1->ensurePolished();
    QHeaderView* header = ListView1->header();
    // The tree view hides the cell measure that every item view offers.
    const QAbstractItemView* cells = ListView1;
    int sum = 0;
    for (int column = 0; column < ListView1->columnCount(); ++column) {
        const int headerWidth = header->sectionSizeHint(column);
        const int cellWidth = cells->sizeHintForColumn(column);
        const int width = std::max(headerWidth, cellWidth) + scale_.px(5);
        ListView1->setColumnWidth(column, width);
        sum += width;
    }
    resize(sum + scale_.px(30), height());
}

}  // namespace qor::ui
