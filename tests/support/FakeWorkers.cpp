#include "tests/support/FakeWorkers.h"

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/Notifications.h"
#include "engine/RunState.h"

namespace qor::test {
namespace {

class FakeWorker : public TCommThread {
  public:
    FakeWorker(std::int32_t hWindow, TCmd cmd, const std::string& sPort)
        : TCommThread(hWindow, cmd, sPort) {}
    ~FakeWorker() override {
        if (poster_.joinable()) {
            poster_.join();
        }
    }
    FakeWorker(const FakeWorker&) = delete;
    FakeWorker& operator=(const FakeWorker&) = delete;

    void play(Script script) {
        poster_ = std::thread([hWindow = FhWindow, script = std::move(script)] {
            for (const ScriptedNotification& n : script) {
                postNotification(hWindow, n.code, n.value);
            }
        });
    }

  private:
    std::thread poster_;
};

struct FakeState {
    std::mutex mutex;
    std::deque<Script> scripts;
    std::vector<std::unique_ptr<FakeWorker>> workers;
    std::vector<CreatedWorker> created;
};

FakeState& fakeState() {
    static FakeState state;
    return state;
}

}  // namespace

TCommThread* FakeWorkers::create(std::int32_t hWindow, TCmd cmd, const std::string& sPort) {
    FakeState& state = fakeState();
    std::lock_guard lock(state.mutex);
    auto worker = std::make_unique<FakeWorker>(hWindow, cmd, sPort);
    state.created.push_back({worker.get(), hWindow, cmd, sPort, cancelFlag.load(),
                             readInfoOnlyFlag.load(), std::chrono::steady_clock::now()});
    Script script;
    if (!state.scripts.empty()) {
        script = std::move(state.scripts.front());
        state.scripts.pop_front();
    }
    worker->play(std::move(script));
    state.workers.push_back(std::move(worker));
    return state.workers.back().get();
}

void FakeWorkers::addScript(Script script) {
    FakeState& state = fakeState();
    std::lock_guard lock(state.mutex);
    state.scripts.push_back(std::move(script));
}

std::vector<CreatedWorker> FakeWorkers::created() {
    FakeState& state = fakeState();
    std::lock_guard lock(state.mutex);
    return state.created;
}

void FakeWorkers::reset() {
    FakeState& state = fakeState();
    std::lock_guard lock(state.mutex);
    state.workers.clear();
    state.scripts.clear();
    state.created.clear();
}

}  // namespace qor::test
