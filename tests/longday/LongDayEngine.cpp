// One engine process updating a logger again and again, as a front end that stays open all day
// does: run control with a quiet view, real workers, the simulated logger on the given port.
//   long_day_engine PORT RUNS WAIT_DIVISOR
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "engine/KECommThread.h"
#include "engine/RunState.h"
#include "frontend/RunControl.h"
#include "platform/Clock.h"
#include "tests/longday/ProcessFigures.h"

namespace {

using namespace qor;

// Shows nothing and answers every question with Yes.
class QuietView : public RunView {
  public:
    explicit QuietView(std::string port) : port_(std::move(port)) {}
    void addReport(const std::string&) override {}
    void clearReport() override {}
    void setStatus(const std::string&) override {}
    void showMessageWindow(const std::string&) override {}
    void setProgressBar(int) override {}
    void setApplicationTitle(const std::string&) override {}
    std::string portText() const override { return port_; }
    void alertSound() override {}
    void restartDelay(std::uint32_t milliseconds) override { platform::sleepMs(milliseconds); }
    void showRunState(bool) override {}
    bool readInfoOnlyTicked() const override { return false; }
    bool confirm(const std::string&) override { return true; }
    void descriptorUnreadable(const std::string&) override {}

  private:
    std::string port_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: long_day_engine PORT RUNS WAIT_DIVISOR\n");
        return 2;
    }
    const int runs = std::atoi(argv[2]);
    platform::waitDivisor = static_cast<std::uint32_t>(std::atoi(argv[3]));
    CommThreadClass = &createWorker<TKECommThread>;

    std::mutex mutex;
    std::condition_variable posted;
    std::deque<Notification> queue;
    const std::int32_t hWindow = registerNotificationSink([&](const Notification& notification) {
        std::lock_guard lock(mutex);
        queue.push_back(notification);
        posted.notify_one();
    });
    QuietView view(argv[1]);
    RunControl control(view, hWindow);
    control.applyStartup(true, {1, false, true});

    const int earlyRun = std::min(10, runs);
    test::ProcessFigures early;
    int failed = 0;
    for (int run = 1; run <= runs; ++run) {
        control.updateClicked();
        while (control.runInProgress()) {
            std::unique_lock lock(mutex);
            posted.wait(lock, [&] { return !queue.empty(); });
            const Notification next = queue.front();
            queue.pop_front();
            lock.unlock();
            control.handle(next);
        }
        TCommThread::waitForWorkers(10000);
        if (control.outcome().kind != RunOutcome::Kind::Succeeded) {
            ++failed;
            std::printf("run %d: %s\n", run, control.outcome().message.c_str());
        }
        if (run == earlyRun) {
            early = test::sampleProcess();
        }
    }
    const test::ProcessFigures last = test::sampleProcess();
    unregisterNotificationSink(hWindow);
    return test::judgeLongDay("engine process", earlyRun, early, runs, last, failed);
}
