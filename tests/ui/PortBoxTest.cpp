// The port box follows ports arriving and leaving: the list is refilled, the text shown stays,
// and the list drops down when the program is active and idle.
#include <QAbstractItemView>
#include <QComboBox>

#include "UiTestSupport.h"

namespace qor::ui::test {
namespace {

class PortBox : public UiTest {
  protected:
    void createShownWindow() {
        answers.serviceMode = true;  // Update starts without a question
        answers.options.serviceLevel = 1;
        createWindow();
        window->show();
    }
    QComboBox* box() const { return control<QComboBox>("cbxPort"); }
    QStringList items() const {
        QStringList list;
        for (int i = 0; i < box()->count(); ++i) {
            list << box()->itemText(i);
        }
        return list;
    }
    bool dropped() const { return box()->view()->isVisible(); }
};

TEST_F(PortBox, RefreshKeepsTheShownTextAndDropsDown) {
    answers.ports = {"COM5", "COM7"};
    createShownWindow();
    box()->setCurrentIndex(1);

    answers.ports = {"COM3", "COM5"};  // COM7 unplugged, COM3 plugged in
    window->portChange();
    EXPECT_EQ(items(), QStringList({"COM3", "COM5"}));
    EXPECT_EQ(window->portText(), "COM7");
    EXPECT_TRUE(dropped());

    // Another announcement while the list is open: closed, refilled, open again.
    answers.ports = {"COM5"};
    window->portChange();
    EXPECT_EQ(items(), QStringList({"COM5"}));
    EXPECT_EQ(window->portText(), "COM7");
    EXPECT_TRUE(dropped());
    box()->hidePopup();

    answers.ports.clear();
    window->portChange();
    EXPECT_TRUE(items().isEmpty());
    EXPECT_EQ(window->portText(), "COM7");
    box()->hidePopup();
}

TEST_F(PortBox, SilentRefreshWhenInactiveOrRunning) {
    struct Case {
        bool active;
        bool running;
    };
    for (const Case c : {Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message() << "active " << c.active << ", running " << c.running);
        answers.ports = {"COM5"};
        answers.activeApplication = c.active;
        createShownWindow();
        if (c.running) {
            button("btnProg")->click();
            expectRunning();
        }
        answers.ports = {"COM5", "COM8"};
        window->portChange();
        EXPECT_EQ(items(), QStringList({"COM5", "COM8"}));
        EXPECT_EQ(window->portText(), "COM5");
        EXPECT_FALSE(dropped());
        FakeWorkers::reset();
        window.reset();
    }
}

}  // namespace
}  // namespace qor::ui::test
