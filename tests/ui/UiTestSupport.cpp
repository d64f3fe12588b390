#include "UiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "ui/qt/ProtocolWindow.h"

namespace qor::ui::test {

void UiTest::SetUp() {
    FakeWorkers::reset();
    CommThreadClass = &FakeWorkers::create;
    cancelFlag = false;
    readInfoOnlyFlag = false;
    readInfoOnlyCapable = true;
}

void UiTest::TearDown() {
    FakeWorkers::reset();  // every posting thread has ended
    window.reset();
    CommThreadClass = nullptr;
    cancelFlag = false;
    readInfoOnlyFlag = false;
    checkClassFlag = true;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

void UiTest::createWindow(double screenDpi) {
    MainWindowSeams seams;
    seams.isServiceMode = [this] { return answers.serviceMode; };
    seams.applyOptions = [this](bool) { return answers.options; };
    seams.fillPortList = [this](QStringList& list) { list = answers.ports; };
    seams.isActiveApplication = [this] { return answers.activeApplication; };
    seams.confirm = [this](QWidget*, const QString& question) {
        log.questions.push_back(question);
        if (answers.confirmations.empty()) {
            return false;
        }
        const bool yes = answers.confirmations.front();
        answers.confirmations.pop_front();
        return yes;
    };
    seams.chooseFile = [this](QWidget*, const QString&) { return answers.chosenFile; };
    seams.showError = [this](QWidget*, const QString& message) { log.errors.push_back(message); };
    seams.alertSound = [this] { ++log.beeps; };
    seams.restartDelay = [this](std::uint32_t ms) {
        log.delays.push_back(ms);
        if (duringDelay) {
            duringDelay();
        }
    };
    seams.screenDpi = screenDpi;
    window = std::make_unique<TfrmMain>(std::move(seams));
    windows = createSecondaryWindows(*window);
    windows.frmMessage->setModalRunner([this](QDialog& dialog) {
        auto& message = static_cast<TfrmMessage&>(dialog);
        message.show();
        log.messages.push_back({message.text(), message.frameGeometry()});
        message.hide();
        return int{QDialog::Accepted};
    });
    windows.frmInfo->setModalRunner([this](QDialog& dialog) {
        dialog.show();
        const QRect frame = dialog.frameGeometry();
        log.overviews.push_back(QRect(frame.left(), frame.top(), 0, frame.height()));
        dialog.hide();
        return int{QDialog::Accepted};
    });
}

QPushButton* UiTest::button(const char* name) const {
    return control<QPushButton>(name);
}

std::vector<std::string> UiTest::reportTexts() const {
    std::vector<std::string> texts;
    const QString all = windows.frmProtocol->text();
    if (all.isEmpty()) {
        return texts;
    }
    for (const QString& line : all.split(QLatin1Char('\n'))) {
        const qsizetype arrow = line.indexOf(QStringLiteral(" -> "));
        EXPECT_EQ(arrow, 8) << line.toStdString();
        texts.push_back(line.mid(arrow + 4).toStdString());
    }
    return texts;
}

std::string UiTest::status() const {
    return control<QLabel>("StatusText")->text().toStdString();
}

bool UiTest::waitFor(const std::function<bool()>& pred, int timeoutMs) {
    return QTest::qWaitFor(pred, timeoutMs);
}

void UiTest::post(std::uint32_t code, std::int32_t value) {
    postNotification(window->notificationHandle(), code, value);
}

// The two rows of the state table differ in every column.
void UiTest::expectState(bool running) const {
    EXPECT_EQ(window->runInProgress(), running);
    EXPECT_EQ(button("btnProg")->isEnabled(), !running);
    EXPECT_EQ(button("btnFile")->isEnabled(), !running);
    EXPECT_EQ(button("btnClose")->isHidden(), running);
    EXPECT_EQ(button("btnCancel")->isHidden(), !running);
    EXPECT_EQ(control<QComboBox>("cbxPort")->isEnabled(), !running);
    const QCursor* cursor = QApplication::overrideCursor();
    if (running) {
        EXPECT_TRUE(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    } else {
        EXPECT_EQ(cursor, nullptr);
    }
}

}  // namespace qor::ui::test
