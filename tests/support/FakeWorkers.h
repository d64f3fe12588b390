// A worker class for CommThreadClass that records its creation and posts scripted
// notifications from a thread of its own: for front-end tests that need no serial port.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/CommThread.h"

namespace qor::test {

struct ScriptedNotification {
    std::uint32_t code;
    std::int32_t value;
};
using Script = std::vector<ScriptedNotification>;

// One worker the front end created.
struct CreatedWorker {
    const TCommThread* worker;
    std::int32_t hWindow;
    TCmd cmd;
    std::string port;
    bool cancelAtCreation;
    bool readInfoOnly;
    std::chrono::steady_clock::time_point at;
};

// Each new worker takes the next script (none: posts nothing) and posts it.
class FakeWorkers {
  public:
    static TCommThread* create(std::int32_t hWindow, TCmd cmd, const std::string& sPort);

    static void addScript(Script script);
    static std::vector<CreatedWorker> created();
    // Joins the posting threads and forgets scripts and workers.
    static void reset();
};

}  // namespace qor::test
