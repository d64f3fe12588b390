#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"
#include "engine/Exceptions.h"
#include "engine/NotificationHandler.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"

namespace qor {
namespace {

// Records what the handler does to the displays, in order.
class RecordingDisplays : public RunDisplays {
  public:
    std::vector<std::string> calls;
    bool cancelDuringDelay = false;

    void addReport(const std::string& text) override { calls.push_back("report:" + text); }
    void setStatus(const std::string& text) override { calls.push_back("status:" + text); }
    void showMessageWindow(const std::string& text) override { calls.push_back("message:" + text); }
    void setProgressBar(int position) override {
        calls.push_back("bar:" + std::to_string(position));
    }
    void setApplicationTitle(const std::string& text) override { calls.push_back("title:" + text); }
    std::string portText() const override { return "COM7"; }
    void alertSound() override { calls.push_back("beep"); }
    void endRun() override { calls.push_back("endRun"); }
    void startRun(TCmd cmd) override {
        calls.push_back("startRun:" + std::to_string(static_cast<int>(cmd)) +
                        (cancelFlag ? " cancel" : ""));
        cancelFlag = false;  // a new run clears the flag
    }
    void restartDelay(std::uint32_t ms) override { calls.push_back("delay:" + std::to_string(ms)); }
};

using Calls = std::vector<std::string>;

Calls handle(std::uint32_t code, std::int32_t value) {
    RecordingDisplays displays;
    handleNotification(displays, code, value);
    return displays.calls;
}

Calls everywhere(const std::string& text) {
    return {"report:" + text, "status:" + text, "message:" + text};
}

TEST(NotificationHandler, EachCodeReachesItsDisplays) {
    selectedFirmwareIndex = 1;
    setTextSlot(0, "slot zero");
    setTextSlot(1, "slot one");
    const std::string builtin = getClassName(26156, 35);
    struct Case {
        std::uint32_t code;
        std::int32_t value;
        Calls expected;
    };
    const std::vector<Case> cases = {
        {kNotifyProgress, 42, {"report:Progress 42%", "bar:42", "title:42%"}},
        {kNotifyClass, 26145, {"report:Class 26145 [" + getClassName(26145, 0xFFFF) + "]"}},
        {kNotifyVersion, 0x0105, {"report:Version 1.5"}},
        {kNotifyPlatform, 18, {"report:Platform 18 [" + getPlatformName(18) + "]"}},
        {kNotifyPlatform, 65535, {"report:Platform 65535 [?]"}},
        {kNotifyPrint, 35, {"report:Print 35 [" + getPrintName(35) + "]"}},
        {kNotifyUpdateClass,
         26156,
         {"report:Update class 26156 [" + getClassName(26156, 0xFFFF) + "]"}},
        {kNotifySelected,
         0,
         {"report:Update " + builtin + " V2.05, " + getPrintName(35) + ", BL5.0",
          "status:Update " + builtin + " V2.05, " + getPrintName(35) + ", BL5.0"}},
        {kNotifyScan, 1, {"report:Check " + builtin + " V2.05, " + getPrintName(35) + ", BL5.0"}},
        {kNotifyNoFirmware, 0, {"report:Unknown version of radio module."}},
        {kNotifyText, 1, {"report:slot one"}},
        {kNotifyText, 0, {"report:slot zero"}},
        {kNotifyText, 2, {"report:slot zero"}},
        {kNotifyText, -1, {"report:slot zero"}},
        {7, 0, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(handle(c.code, c.value), c.expected) << "code " << c.code << " value " << c.value;
    }
}

TEST(NotificationHandler, SuccessFillsTheBarEndsTheRunAndNamesTheImage) {
    selectedFirmwareIndex = 1;
    Calls expected = {"bar:100", "endRun"};
    for (const auto& call :
         everywhere("Update " + getClassName(26156, 35) + " V2.05 succesfully completed.")) {
        expected.push_back(call);
    }
    EXPECT_EQ(handle(kNotifySuccess, 0), expected);
}

TEST(NotificationHandler, FailuresBeepEndTheRunAndShowTheirText) {
    struct Case {
        std::int32_t error;
        std::string text;
    };
    const std::vector<Case> cases = {
        {cEX_PORT_OPEN, "Aborted because serial port \"COM7\" is not ready!"},
        {cEX_PORT_IO, "Aborted because error when reading/writing to serial port!"},
        {cEX_CANCEL, "Process cancelled!"},
        {cEX_WRONG_LOGGER, "Aborted because no update is available for this logger!"},
        {cEX_LOGGER_EXCEPTION, "Aborted because the logger is not ready!"},
        {cEX_VERIFY, "Update was not successfull!"},
        {cEX_NO_UPDATE, "There is no update available or the logger has another update ID!"},
        {cEX_INFO_ONLY, "Only read update info!"},
        {cEX_KE_TIMEOUT, "cEX_KE_TIMEOUT"},
        {cEX_KE_CRC, "cEX_KE_CRC"},
        {cEX_KE_POR, "cEX_KE_POR"},
        {cEX_KE_NAK, "Fatal Exception has occurred!"},
        {cEX_KE_ANSWER, "Fatal Exception has occurred!"},
        {0, "Fatal Exception has occurred!"},
        {30, "Fatal Exception has occurred!"},
    };
    for (const auto& c : cases) {
        Calls expected = {"endRun", "beep"};
        for (const auto& call : everywhere(c.text)) {
            expected.push_back(call);
        }
        EXPECT_EQ(handle(kNotifyFailure, c.error), expected) << c.error;
    }
}

TEST(NotificationHandler, NoAnswerRestartsAfter1500msKeepingTheCancelRequest) {
    for (const bool cancelled : {false, true}) {
        cancelFlag = cancelled;
        RecordingDisplays displays;
        handleNotification(displays, kNotifyNoAnswer, 0x100);
        const std::string text = "Repeat update because communication error!";
        EXPECT_EQ(displays.calls,
                  (Calls{"status:" + text, "report:" + text, "delay:1500",
                         std::string("startRun:0") + (cancelled ? " cancel" : "")}));
        EXPECT_EQ(cancelFlag.load(), cancelled);
    }
    cancelFlag = false;
}

TEST(ReportLine, TimeStampedWithHyphens) {
    std::tm at{};
    at.tm_hour = 9;
    at.tm_min = 5;
    at.tm_sec = 3;
    EXPECT_EQ(formatReportLine(at, "Process cancelled!"), "09-05-03 -> Process cancelled!");
    at.tm_hour = 23;
    at.tm_min = 59;
    at.tm_sec = 59;
    EXPECT_EQ(formatReportLine(at, ""), "23-59-59 -> ");
}

}  // namespace
}  // namespace qor
