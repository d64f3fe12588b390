// Start-up: captions, layout in layout units, the idle state, tab order, the report window's
// place and the first idle moment.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTest>

#include "UiTestSupport.h"
#include "engine/RunState.h"
#include "ui/qt/LayoutUnits.h"

namespace qor::ui::test {
namespace {

TEST(LayoutUnits, ScaleWithTheScreensLogicalDpi) {
    struct Case {
        int units;
        int designDpi;
        double screenDpi;
        int pixels;
    };
    const Case cases[] = {
        {139, kMainDesignDpi, 120, 139},  {139, kMainDesignDpi, 96, 111},
        {139, kMainDesignDpi, 144, 167},  {444, kMainDesignDpi, 192, 710},
        {454, kReportDesignDpi, 96, 454}, {454, kReportDesignDpi, 120, 568},
        {0, kMainDesignDpi, 96, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(layoutToPixels(c.units, c.designDpi, c.screenDpi), c.pixels)
            << c.units << " units at " << c.designDpi << " on " << c.screenDpi;
        // Back to units: exact where the screen is at least as fine as the design.
        if (c.screenDpi >= c.designDpi) {
            EXPECT_EQ(pixelsToLayout(c.pixels, c.designDpi, c.screenDpi), c.units);
        }
    }
}

class Startup : public UiTest {};

TEST_F(Startup, CaptionsAndIdleState) {
    createWindow();
    EXPECT_EQ(window->windowTitle(), "QOR BLE-Z40 Firmware Update");
    const auto* menInfo = control<QMenu>("menInfo");
    EXPECT_EQ(menInfo->title(), "Info v2020-01-07");
    QStringList items;
    for (const QAction* action : menInfo->actions()) {
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(items, QStringList({"Firmware", "File version", "-", "Exit"}));
    EXPECT_EQ(control<QLabel>("Label1")->text(), "Comport:");
    EXPECT_EQ(button("btnProg")->text(), "Update");
    EXPECT_EQ(button("btnFile")->text(), "File");
    EXPECT_EQ(button("btnClose")->text(), "Close");
    EXPECT_EQ(button("btnCancel")->text(), "Cancel");
    EXPECT_EQ(control<QCheckBox>("chkReadInfoOnly")->text(), "Read info only");
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->maximum(), 100);

    expectIdle();
    EXPECT_EQ(window->applicationTitle(), "QOR BLE-Z40 Firmware Update");
    EXPECT_EQ(window->windowIconText(), window->applicationTitle());

    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    window->show();
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const QPoint offCentre =
        window->frameGeometry().center() - window->screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    EXPECT_TRUE(windows.frmInfo->isHidden());
    EXPECT_TRUE(windows.frmMessage->isHidden());
    EXPECT_TRUE(windows.frmProtocol->isHidden());
}

// Geometry in layout units at a screen where a unit is a pixel.
TEST_F(Startup, LayoutByServiceLevel) {
    struct Case {
        int level;
        QRect update;
        bool file;
    };
    const Case cases[] = {
        {0, {50, 107, 139, 41}, false},
        {1, {50, 107, 139, 41}, false},
        {2, {50, 107, 69, 41}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        answers.serviceMode = c.level > 0;
        answers.options.serviceLevel = c.level;
        createWindow(120);
        EXPECT_EQ(window->serviceLevel(), c.level);
        EXPECT_EQ(button("btnProg")->geometry(), c.update);
        EXPECT_EQ(!button("btnFile")->isHidden(), c.file);
        EXPECT_EQ(control<QAction>("menInfoFile")->isVisible(), c.file);
        if (c.file) {
            EXPECT_EQ(button("btnFile")->geometry(), QRect(127, 107, 69, 41));
        }
        EXPECT_EQ(button("btnClose")->geometry(), QRect(250, 107, 139, 41));
        EXPECT_EQ(button("btnCancel")->geometry(), QRect(250, 107, 139, 41));
        EXPECT_EQ(control<QProgressBar>("ProgressBar1")->geometry(), QRect(16, 57, 409, 33));
        EXPECT_EQ(control<QCheckBox>("chkReadInfoOnly")->geometry(), QRect(32, 168, 145, 17));
        const QRect port = control<QComboBox>("cbxPort")->geometry();
        EXPECT_EQ(QRect(port.x(), port.y(), port.width(), 0), QRect(96, 14, 329, 0));
        EXPECT_EQ(control<QLabel>("Label1")->pos(), QPoint(16, 18));

        // The client area below the menu: the panel and the status bar, nothing else.
        window->show();
        const auto* panel = control<QWidget>("Panel1");
        EXPECT_EQ(panel->size(), QSize(444, 201));
        EXPECT_EQ(window->width(), 444);
        EXPECT_EQ(control<QStatusBar>("StatusBar1")->height(), 19);
        EXPECT_EQ(window->height() - window->menuBar()->height(), 201 + 19);
        window.reset();
    }
}

TEST_F(Startup, LayoutScalesToTheScreen) {
    createWindow(96);  // 120-dpi units on a 96-dpi screen: four fifths
    EXPECT_EQ(button("btnProg")->geometry(), QRect(40, 86, 111, 33));
    EXPECT_EQ(button("btnClose")->geometry(), QRect(200, 86, 111, 33));
    EXPECT_EQ(control<QWidget>("Panel1")->size(), QSize(355, 161));
    EXPECT_EQ(windows.frmProtocol->width(), window->frameGeometry().width());
}

TEST_F(Startup, StatusLetterAndReadInfoOnlyBox) {
    struct Case {
        bool service;
        bool capable;
        bool measurementFormat;
        const char* status;
        bool boxShown;
    };
    const Case cases[] = {
        {false, true, false, "", false}, {false, true, true, "F", false},
        {true, true, false, "", true},   {true, true, true, "F", true},
        {true, false, false, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.service << c.capable << c.measurementFormat);
        answers.serviceMode = c.service;
        answers.options = {c.service ? 1 : 0, c.measurementFormat};
        readInfoOnlyCapable = c.capable;
        createWindow();
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(control<QStatusBar>("StatusBar1")->toolTip().toStdString(), c.status);
        const auto* box = control<QCheckBox>("chkReadInfoOnly");
        EXPECT_EQ(!box->isHidden(), c.boxShown);
        EXPECT_FALSE(box->isChecked());
        window.reset();
    }
}

TEST_F(Startup, ServiceLevelStaysZeroOutsideServiceMode) {
    answers.serviceMode = false;
    answers.options.serviceLevel = 2;  // whatever the options say
    createWindow();
    EXPECT_EQ(window->serviceLevel(), 0);
    EXPECT_TRUE(button("btnFile")->isHidden());
}

TEST_F(Startup, PortBoxSelectsTheFirstPort) {
    answers.ports = {"/dev/ttyACM1", "/dev/ttyACM0"};
    createWindow();
    EXPECT_EQ(control<QComboBox>("cbxPort")->count(), 2);
    EXPECT_EQ(window->portText(), "/dev/ttyACM1");
    window.reset();
    answers.ports.clear();
    createWindow();
    EXPECT_EQ(window->portText(), "");
}

TEST_F(Startup, TabOrder) {
    createWindow();
    const QStringList wanted = {"cbxPort",  "ProgressBar1", "btnProg",        "btnCancel",
                                "btnClose", "btnFile",      "chkReadInfoOnly"};
    QStringList order;
    QWidget* w = control<QWidget>("cbxPort");
    for (int i = 0; i < 100 && order.size() < wanted.size(); ++i, w = w->nextInFocusChain()) {
        if (wanted.contains(w->objectName()) && !order.contains(w->objectName())) {
            order << w->objectName();
        }
    }
    EXPECT_EQ(order, wanted);
}

// The report window is placed under the main window when created, follows its moves, and is
// shown at the first idle moment in service mode only.
TEST_F(Startup, ReportWindowFollowsAndShowsInServiceModeOnly) {
    for (const bool service : {false, true}) {
        SCOPED_TRACE(service);
        answers.serviceMode = service;
        answers.options.serviceLevel = service ? 1 : 0;
        createWindow();
        TfrmProtocol* report = windows.frmProtocol;
        const int width = report->width();
        window->show();
        QCoreApplication::processEvents();  // the first idle moment
        EXPECT_EQ(report->isVisible(), service);

        window->move(130, 70);
        QCoreApplication::processEvents();
        const QRect main = window->frameGeometry();
        EXPECT_EQ(report->frameGeometry().topLeft(), QPoint(main.left(), main.bottom() + 1));
        EXPECT_EQ(report->width(), width);

        report->close();  // the user cannot close it
        EXPECT_EQ(report->isVisible(), service);
        window.reset();
    }
}

}  // namespace
}  // namespace qor::ui::test
