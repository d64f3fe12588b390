// The program's own seams: service mode comes from the per-user settings store.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "UiTestSupport.h"
#include "engine/RunState.h"
#include "ui/qt/ProtocolWindow.h"

namespace qor::ui::test {
namespace {

class ProgramSeams : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        saved_ = qgetenv("XDG_CONFIG_HOME");
        hadConfig_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }
    void TearDown() override {
        if (hadConfig_) {
            qputenv("XDG_CONFIG_HOME", saved_);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
        UiTest::TearDown();
    }
    void writeSettings(const char* text) {
        QDir(config_.path()).mkpath(QStringLiteral("Vandrel"));
        std::ofstream((config_.path() + "/Vandrel/Qor.conf").toStdString()) << text;
    }

  private:
    QTemporaryDir config_;
    QByteArray saved_;
    bool hadConfig_ = false;
};

TEST_F(ProgramSeams, ServiceModeOnlyWithTheUnlockValue) {
    for (const char* settings : {"intern=4188\n", "intern=4187\n"}) {
        SCOPED_TRACE(settings);
        const bool service = std::string(settings) == "intern=4187\n";
        writeSettings(settings);
        TfrmMain frmMain;
        const SecondaryWindows secondary = createSecondaryWindows(frmMain);
        frmMain.show();
        QCoreApplication::processEvents();  // the first idle moment
        // This test program's command line carries no options: level 1 in service mode.
        EXPECT_EQ(frmMain.serviceLevel(), service ? 1 : 0);
        EXPECT_EQ(frmMain.findChild<QCheckBox*>("chkReadInfoOnly")->isVisible(), service);
        EXPECT_EQ(secondary.frmProtocol->isVisible(), service);
        EXPECT_TRUE(checkClassFlag.load());
    }
}

}  // namespace
}  // namespace qor::ui::test
