// The Win32 windows under test: a main window with every dialog, sound, wait and taskbar call
// answered by the test, its workers fakes that post scripted notifications, and the modal
// message and overview windows answered from inside their own loops through a timer.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/CatalogueTestSeam.h"
#include "engine/CommThread.h"
#include "tests/support/FakeWorkers.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/ProgramWindows.h"
#include "ui/win32/Resources.h"

namespace qor::win32::test {

using qor::test::CreatedWorker;
using qor::test::FakeWorkers;
using qor::test::Script;

struct Answers {
    bool serviceMode = false;
    StartupOptions options;
    std::vector<std::string> ports;
    bool activeApplication = true;
    std::deque<bool> confirmations;  // Yes/No for the next questions; none left: No
    std::string chosenFile;
};

// A window's place and size in screen pixels.
struct Frame {
    int left, top, width, height;
    bool operator==(const Frame&) const = default;
};
Frame frameOf(HWND hWnd);
// A child's place and size in its parent's client area.
Frame childFrame(HWND hChild);
std::ostream& operator<<(std::ostream& out, const Frame& f);

// What the window did through its seams and what its modal windows showed.
struct SeamLog {
    std::vector<std::string> questions;
    std::vector<std::string> errors;
    std::vector<std::uint32_t> delays;
    std::vector<int> taskbar;          // positions given to the taskbar button, -1 cleared
    std::vector<HWND> taskbarButtons;  // the windows whose buttons they were given to
    int beeps = 0;
    int closed = 0;
    struct Message {
        std::string text;
        Frame frame;
        bool ownerDisabled;
    };
    std::vector<Message> messages;
    struct Overview {
        std::vector<std::vector<std::string>> rows;
        std::vector<int> widths;
        Frame frame;
        int clientWidth;
        bool okHasFocus;
    };
    std::vector<Overview> overviews;
};

// Runs fn from inside the next modal loop (or the next dispatch) of this thread.
void whenDispatching(std::function<void()> fn);

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main window and its secondary windows as the program does, at this screen
    // resolution (120: a layout unit of the main window is a pixel).
    void createWindow(int screenDpi = 120);
    void destroyWindow();

    HWND control(int id) const { return window->control(id); }
    std::string text(int id) const;
    void click(int id);
    // Handles the messages waiting now, then the idle moment.
    void dispatch();
    // Dispatches until pred holds or the time is up.
    bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000);
    // Plays the worker: posts to the window's notification handle.
    void post(std::uint32_t code, std::int32_t value);

    // The report's texts without their time stamps.
    std::vector<std::string> reportTexts() const;
    std::string status() const;
    std::string statusTip() const;
    std::string applicationTitle() const;
    int bar() const;
    bool shown(int id) const;
    bool enabled(int id) const;
    void expectState(bool running);
    void expectIdle() { expectState(false); }
    void expectRunning() { expectState(true); }

    Answers answers;
    SeamLog log;
    // Runs while the restart waits; the window's state is checked there.
    std::function<void()> duringDelay;
    std::unique_ptr<TfrmMain> window;
    SecondaryWindows windows;

  private:
    // Answers the message and overview windows from inside their modal loops.
    static void CALLBACK answerModal(HWND, UINT, UINT_PTR, DWORD);

    qor::test::ScopedCatalogueState catalogueState_;
    UINT_PTR modalTimer_ = 0;
};

}  // namespace qor::win32::test
