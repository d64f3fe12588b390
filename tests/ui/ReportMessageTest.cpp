// The report window's lines and place, and the message window's place, text and OK button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "ui/qt/MessageWindow.h"
#include "ui/qt/ProtocolWindow.h"

namespace qor::ui {
namespace {

std::tm at(int hour, int minute, int second) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(ReportWindow, TimeStampedLinesAtTheEnd) {
    QWidget main;
    std::tm now = at(9, 5, 3);
    TfrmProtocol report(&main, 96, [&now] { return now; });
    EXPECT_EQ(report.text(), "");  // the design text is gone
    report.Add("Process cancelled!");
    EXPECT_EQ(report.text(), "09-05-03 -> Process cancelled!");

    now = at(23, 59, 0);
    for (int i = 0; i < 50; ++i) {
        report.Add("Progress " + std::to_string(i) + "%");
    }
    const QStringList lines = report.text().split('\n');
    ASSERT_EQ(lines.size(), 51);
    EXPECT_EQ(lines.back(), "23-59-00 -> Progress 49%");
    const QScrollBar* bar = report.findChild<QPlainTextEdit*>("Memo1")->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    report.Clear();
    EXPECT_EQ(report.text(), "");
}

TEST(ReportWindow, CreatedUnderTheMainWindowAndAsWide) {
    QWidget main;
    main.setGeometry(100, 200, 460, 300);
    const TfrmProtocol report(&main, 96);
    const QRect outer = main.frameGeometry();
    EXPECT_EQ(report.frameGeometry().topLeft(), QPoint(outer.left(), outer.bottom() + 1));
    EXPECT_EQ(report.frameGeometry().width(), outer.width());
    EXPECT_EQ(report.height(), 141);  // 96-dpi units on a 96-dpi screen
    EXPECT_TRUE(report.isHidden());
}

TEST(MessageWindow, PlacedOverTheMainWindowsFoot) {
    EXPECT_EQ(messagePlacement(100, 200, 460, 300, 150), QRect(110, 340, 440, 150));
}

TEST(MessageWindow, ModalOkClosesAndEachMessageReplacesTheLast) {
    QWidget main;
    main.show();  // its frame is known, as the program's main window is by then
    TfrmMessage message(&main, 120);
    EXPECT_EQ(message.windowTitle(), "Information");
    EXPECT_EQ(message.height(), 101);
    auto* ok = message.findChild<QPushButton*>("Button1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->size(), QSize(93, 39));

    for (const std::string text : {"Process cancelled!", "", "Only read update info!"}) {
        bool shownModal = false;
        QString shownText;
        QTimer::singleShot(0, &message, [&] {
            shownModal = message.isVisible() && QApplication::activeModalWidget() == &message;
            shownText = message.text();
            ok->click();
        });
        message.showMsg(text, 100, 200, 460, 300);
        EXPECT_TRUE(shownModal) << text;
        EXPECT_EQ(shownText.toStdString(), text);
        EXPECT_FALSE(message.isVisible());
        const QRect outer = message.frameGeometry();
        EXPECT_EQ(outer, messagePlacement(100, 200, 460, 300, outer.height()));
    }
}

}  // namespace
}  // namespace qor::ui
