// The firmware overview: its rows, the fitted columns and its place over the main window.
#include <QAction>
#include <QHeaderView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>

#include "UiTestSupport.h"
#include "catalogue/Catalogue.h"
#include "frontend/FirmwareOverview.h"

namespace qor::ui::test {
namespace {

// What the overview showed while it was open.
struct Shown {
    std::vector<QStringList> rows;
    QRect frame;
    bool okHasFocus = false;
};

class Overview : public UiTest {
  protected:
    // Service level 2 on a screen where a unit of the overview is a pixel.
    void createOverviewWindow() {
        answers.serviceMode = true;
        answers.options.serviceLevel = 2;
        createWindow(96);
        window->show();
        windows.frmInfo->setModalRunner([this](QDialog& dialog) {
            dialog.show();
            shown.push_back(capture(dialog));
            dialog.hide();
            return int{QDialog::Accepted};
        });
    }

    Shown capture(QDialog& dialog) {
        Shown s;
        const auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        EXPECT_NE(list, nullptr);
        if (list == nullptr) {
            return s;
        }
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QStringList cells;
            for (int column = 0; column < list->columnCount(); ++column) {
                cells << list->topLevelItem(i)->text(column);
            }
            s.rows.push_back(cells);
        }
        expectFittedColumns(dialog, *list);
        s.frame = dialog.frameGeometry();
        s.okHasFocus = dialog.focusWidget() != nullptr &&
                       dialog.focusWidget()->objectName() == QStringLiteral("Button1");
        return s;
    }

    // Each column the larger of its header's and its widest cell's fit plus 5, the client area
    // the sum plus 30; every text fits.
    static void expectFittedColumns(const QDialog& dialog, const QTreeWidget& list) {
        const QAbstractItemView& view = list;
        const QFontMetrics headerFont(list.header()->font());
        const QFontMetrics cellFont(list.font());
        int sum = 0;
        for (int column = 0; column < list.columnCount(); ++column) {
            const int width = list.columnWidth(column);
            EXPECT_EQ(width, std::max(list.header()->sectionSizeHint(column),
                                      view.sizeHintForColumn(column)) +
                                 5)
                << column;
            EXPECT_GT(width, headerFont.horizontalAdvance(list.headerItem()->text(column)));
            for (int i = 0; i < list.topLevelItemCount(); ++i) {
                EXPECT_GT(width, cellFont.horizontalAdvance(list.topLevelItem(i)->text(column)));
            }
            sum += width;
        }
        EXPECT_EQ(dialog.width(), sum + 30);
        EXPECT_FALSE(list.horizontalScrollBar()->isVisible());
    }

    QString writeDescriptor() {
        const QString path = files_.filePath(QStringLiteral("descriptor.txt"));
        std::ofstream(path.toStdString())
            << "bootloader=3\nbootloader version=1\nclass=26156\nversionH=2\nversionL=7\n"
               "platform=18\nprint=35\ndate=20.01.2020\n";
        return path;
    }

    static QStringList rowOf(const TBl3FileHeader& header) {
        QStringList cells;
        for (const std::string& cell : overviewRow(header)) {
            cells << QString::fromStdString(cell);
        }
        return cells;
    }

    std::vector<Shown> shown;

  private:
    QTemporaryDir files_;
};

TEST_F(Overview, BuiltinRowWithFittedColumnsAtTheMainWindow) {
    createOverviewWindow();
    control<QAction>("menInfoFirmware")->trigger();
    control<QAction>("menInfoFirmware")->trigger();  // the same again
    ASSERT_EQ(shown.size(), 2u);
    const std::vector<QStringList> builtin = {rowOf(builtinFileHeader())};
    EXPECT_EQ(builtin[0][1], "2.05");
    EXPECT_EQ(builtin[0][5], "5.0");
    for (const Shown& s : shown) {
        EXPECT_EQ(s.rows, builtin);
        const QRect main = window->frameGeometry();
        EXPECT_EQ(s.frame.topLeft(), main.topLeft());
        EXPECT_EQ(s.frame.height(), main.height());
        EXPECT_TRUE(s.okHasFocus);
    }
    const auto* list = windows.frmInfo->findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    ASSERT_NE(list, nullptr);
    QStringList captions;
    for (int column = 0; column < list->columnCount(); ++column) {
        captions << list->headerItem()->text(column);
    }
    EXPECT_EQ(captions, QStringList({"Firmware", "Version", "Platform", "Print", "Date", "BL"}));
}

TEST_F(Overview, FileRowFirstUntilTheNextRunIsPrepared) {
    createOverviewWindow();
    answers.chosenFile = writeDescriptor();
    control<QAction>("menInfoFile")->trigger();
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(shown[0].rows.size(), 2u);
    EXPECT_EQ(shown[0].rows[0], rowOf(loadedFileHeader()));
    EXPECT_EQ(shown[0].rows[0][1], "2.07");
    EXPECT_EQ(shown[0].rows[1], rowOf(builtinFileHeader()));

    ASSERT_TRUE(window->prepareRun(QString()));
    control<QAction>("menInfoFirmware")->trigger();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].rows, std::vector<QStringList>{rowOf(builtinFileHeader())});
}

}  // namespace
}  // namespace qor::ui::test
