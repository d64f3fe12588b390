// A main window with every dialog, sound and wait answered by the test; its workers are fakes
// that post scripted notifications.
#pragma once

#include <gtest/gtest.h>

#include <QPushButton>
#include <QRect>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/CatalogueTestSeam.h"
#include "engine/CommThread.h"
#include "tests/support/FakeWorkers.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/ProgramWindows.h"

namespace qor::ui::test {

using qor::test::CreatedWorker;
using qor::test::FakeWorkers;
using qor::test::Script;

struct Answers {
    bool serviceMode = false;
    StartupOptions options;
    QStringList ports;
    bool activeApplication = true;
    std::deque<bool> confirmations;  // Yes/No for the next questions; none left: No
    QString chosenFile;
};

// What the window did through its seams.
struct SeamLog {
    std::vector<QString> questions;
    std::vector<QString> errors;
    std::vector<std::uint32_t> delays;
    int beeps = 0;
    struct Message {
        QString text;
        QRect frame;
    };
    std::vector<Message> messages;
    std::vector<QRect> overviews;  // left, top and height the overview was opened with
};

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main window and its secondary windows as the program does.
    void createWindow(double screenDpi = 120);

    QPushButton* button(const char* name) const;
    template <class T>
    T* control(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The report's texts without their time stamps.
    std::vector<std::string> reportTexts() const;
    std::string status() const;
    // Handles the notifications posted so far (and those that arrive until pred holds).
    bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000);
    // Plays the worker: posts to the window's notification handle.
    void post(std::uint32_t code, std::int32_t value);
    void expectState(bool running) const;
    void expectIdle() const { expectState(false); }
    void expectRunning() const { expectState(true); }

    Answers answers;
    SeamLog log;
    // Runs while the restart waits; the window's state is checked there.
    std::function<void()> duringDelay;
    std::unique_ptr<TfrmMain> window;
    SecondaryWindows windows{};

  private:
    qor::test::ScopedCatalogueState catalogueState_;
};

}  // namespace qor::ui::test
