#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/CommThread.h"
#include "engine/Exceptions.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"

namespace qor {
namespace {

TEST(EQor, ConstructorsSetCodeAndMessage) {
    EXPECT_EQ(EQor(cEX_VERIFY).iException, 45);
    EXPECT_STREQ(EQor(cEX_VERIFY).what(), "");
    EXPECT_STREQ(EQor(cEX_PORT_IO, "WriteFile").what(), "WriteFile");
    EXPECT_STREQ(EQor(cEX_KE_NAK, -1234).what(), "-1234");
    EXPECT_STREQ(EQor(cEX_KE_NAK, 0).what(), "0");
}

TEST(RunEnd, MapsEveryEndingToOneFinalNotification) {
    struct Case {
        std::exception_ptr error;
        std::uint32_t code;
        std::int32_t value;
    };
    const std::vector<Case> cases = {
        {nullptr, kNotifySuccess, 2},
        {std::make_exception_ptr(EQor(cEX_NO_ANSWER)), kNotifyNoAnswer, 2},
        {std::make_exception_ptr(EQor(cEX_KE_NAK)), kNotifyFailure, 103},
        {std::make_exception_ptr(EQor(cEX_KE_ANSWER)), kNotifyFailure, 104},
        {std::make_exception_ptr(EQor(cEX_PORT_OPEN)), kNotifyFailure, 10},
        {std::make_exception_ptr(std::runtime_error("Error 2: not found")), kNotifyFailure, 0},
        {std::make_exception_ptr(42), kNotifyFailure, 0},
    };
    for (const auto& c : cases) {
        const RunEnd end = runEndFor(c.error, TCmd::tCMD2);
        EXPECT_EQ(end.code, c.code);
        EXPECT_EQ(end.value, c.value);
    }
}

TEST(NotificationChannel, DeliversInOrderAndDropsUnknownHandles) {
    std::vector<std::pair<std::uint32_t, std::int32_t>> got;
    const std::int32_t h = registerNotificationSink(
        [&got](std::uint32_t code, std::int32_t value) { got.emplace_back(code, value); });
    std::thread poster([h] {
        for (int i = 0; i < 100; ++i) {
            postNotification(h, kNotifyProgress, i);
        }
    });
    poster.join();
    postNotification(h + 1000, kNotifyProgress, -1);
    unregisterNotificationSink(h);
    postNotification(h, kNotifyProgress, -2);
    ASSERT_EQ(got.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(got[static_cast<std::size_t>(i)].second, i);
    }
}

TEST(NotificationChannel, TextNotificationCarriesTheLineItWasPostedFor) {
    std::vector<Notification> got;
    const std::int32_t h =
        registerNotificationSink([&got](const Notification& n) { got.push_back(n); });
    setTextSlot(0, "Device programmed.");
    postNotification(h, kNotifyText, 0);
    setTextSlot(0, "complete");  // the next line before anyone handled the first
    postNotification(h, kNotifyText, 0);
    setTextSlot(1, "CL26156 PF18 PR35 V1 B4 [QOR-BL]");
    postNotification(h, kNotifyText, 1);
    postNotification(h, kNotifyProgress, 5);
    unregisterNotificationSink(h);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].text, "Device programmed.");
    EXPECT_EQ(got[1].text, "complete");
    EXPECT_EQ(got[2].text, "CL26156 PF18 PR35 V1 B4 [QOR-BL]");
    EXPECT_EQ(got[3].text, "");
}

TEST(TextSlots, ReaderAlwaysSeesAWholeLine) {
    const std::string a(1000, 'a');
    const std::string b(2000, 'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            setTextSlot(0, a);
            setTextSlot(0, b);
        }
    });
    for (int i = 0; i < 20000; ++i) {
        const std::string seen = textSlot(0);
        ASSERT_TRUE(seen.empty() || seen == a || seen == b);
    }
    stop = true;
    writer.join();
    setTextSlot(1, "POR10: ");
    EXPECT_EQ(textSlot(1), "POR10: ");
}

}  // namespace
}  // namespace qor
