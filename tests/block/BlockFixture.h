// A pty peer and a notification recorder that also keeps the report lines of notification 100
// as they stood when each was posted.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/CommThread.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "tests/block/BlockPeer.h"
#include "tests/support/NotificationRecorder.h"
#include "tests/support/PtyPeer.h"

namespace qor::test {

// Names the cases of a parameterised test after their `name` field.
struct CaseName {
    template <class Info>
    std::string operator()(const Info& testInfo) const {
        return testInfo.param.name;
    }
};

// Prints a case by its name in failure messages.
template <class Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class BlockFixture : public ::testing::Test {
  protected:
    using ReportLine = std::pair<std::int32_t, std::string>;

    void SetUp() override {
        cancelFlag = false;
        // The worker fills a slot and posts at once, so the slot read here is the posted line.
        recorder_ = std::make_unique<NotificationRecorder>([this](const Posted& p) {
            if (p.code == kNotifyText) {
                std::lock_guard lock(linesMutex_);
                lines_.emplace_back(p.value, textSlot(p.value));
            }
        });
    }
    void TearDown() override {
        // A test that stopped early must not leave its worker talking to a closed peer.
        cancelFlag = true;
        EXPECT_TRUE(TCommThread::waitForWorkers(15000));
        cancelFlag = false;
    }

    // The run's final notification, after checking that there is exactly one and it is last.
    Posted finish(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        EXPECT_TRUE(recorder_->waitForEnd(timeout));
        EXPECT_TRUE(TCommThread::waitForWorkers(10000));
        const auto codes = recorder_->codes();
        int finals = 0;
        for (auto c : codes) {
            finals += (c == kNotifySuccess || c == kNotifyFailure || c == kNotifyNoAnswer);
        }
        EXPECT_EQ(finals, 1);
        return recorder_->end();
    }

    std::vector<ReportLine> reportLines() {
        std::lock_guard lock(linesMutex_);
        return lines_;
    }

    std::vector<std::int32_t> progress() const {
        std::vector<std::int32_t> out;
        for (const auto& p : recorder_->all()) {
            if (p.code == kNotifyProgress) {
                out.push_back(p.value);
            }
        }
        return out;
    }

    // True when the host writes nothing more for a while.
    bool hostStaysQuiet() {
        return peer_.readUntilQuiet(std::chrono::milliseconds(300), std::chrono::seconds(1))
            .empty();
    }

    // Declared before the recorder, whose callback uses them.
    std::mutex linesMutex_;
    std::vector<ReportLine> lines_;
    PtyPeer peer_;
    std::unique_ptr<NotificationRecorder> recorder_;
};

}  // namespace qor::test
