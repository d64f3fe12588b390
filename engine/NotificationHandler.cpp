#include "engine/NotificationHandler.h"

#include <algorithm>
#include <cstdio>

#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"
#include "engine/Exceptions.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"

namespace qor {
namespace {

constexpr std::uint16_t kNoVariant = 0xFFFF;

template <class... Args>
std::string format(const char* pattern, Args... args) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    return std::string(
        buffer, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::uint16_t low16(std::int32_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}

std::string className(std::int32_t value) {
    return getClassName(low16(value), kNoVariant);
}

TBl3FileHeader descriptor(std::int32_t index) {
    TBl3FileHeader d;
    getFirmwareHeader(index, d);
    return d;
}

// "<class> V2.05, <print>, BL5.0" as the selection and scan lines show a descriptor.
std::string describe(const char* lead, const TBl3FileHeader& d) {
    return format("%s %s V%d.%.2d, %s, BL%d.%d", lead,
                  getClassName(d.qor_class, d.qor_print).c_str(), d.qor_verH, d.qor_verL,
                  getPrintName(d.qor_print).c_str(), d.qor_bl, d.qor_bl_ver);
}

void reportStatusMessage(RunDisplays& displays, const std::string& text) {
    displays.addReport(text);
    displays.setStatus(text);
    displays.showMessageWindow(text);
}

void restart(RunDisplays& displays, std::int32_t value) {
    const std::string text = "Repeat update because communication error!";
    displays.setStatus(text);
    displays.addReport(text);
    const bool savedCancel = cancelFlag.load();
    displays.restartDelay(kRestartDelayMs);
    displays.startRun(static_cast<TCmd>(value & 0xFF));
    cancelFlag = savedCancel;
}

}  // namespace

std::string failureText(std::int32_t errorCode, const std::string& portText) {
    switch (errorCode) {
        case cEX_PORT_OPEN:
            return "Aborted because serial port \"" + portText + "\" is not ready!";
        case cEX_PORT_IO:
            return "Aborted because error when reading/writing to serial port!";
        case cEX_CANCEL:
            return "Process cancelled!";
        case cEX_WRONG_LOGGER:
            return "Aborted because no update is available for this logger!";
        case cEX_LOGGER_EXCEPTION:
            return "Aborted because the logger is not ready!";
        case cEX_VERIFY:
            return "Update was not successfull!";
        case cEX_NO_UPDATE:
            return "There is no update available or the logger has another update ID!";
        case cEX_INFO_ONLY:
            return "Only read update info!";
        case cEX_KE_TIMEOUT:
            return "cEX_KE_TIMEOUT";
        case cEX_KE_CRC:
            return "cEX_KE_CRC";
        case cEX_KE_POR:
            return "cEX_KE_POR";
        default:
            return "Fatal Exception has occurred!";
    }
}

void handleNotification(RunDisplays& displays, std::uint32_t code, std::int32_t value) {
    Notification notification{code, value, {}};
    if (code == kNotifyText) {
        notification.text = textSlot(value == 1 ? 1 : 0);
    }
    handleNotification(displays, notification);
}

void handleNotification(RunDisplays& displays, const Notification& notification) {
    const std::uint32_t code = notification.code;
    const std::int32_t value = notification.value;
    switch (code) {
        case kNotifySuccess: {
            displays.setProgressBar(100);
            displays.endRun();
            const TBl3FileHeader d = descriptor(selectedFirmwareIndex.load());
            reportStatusMessage(displays, format("Update %s V%d.%.2d succesfully completed.",
                                                 getClassName(d.qor_class, d.qor_print).c_str(),
                                                 d.qor_verH, d.qor_verL));
            break;
        }
        case kNotifyProgress: {
            displays.addReport(format("Progress %d%%", value));
            const int position = std::clamp(value, 0, 100);
            displays.setProgressBar(position);
            displays.setApplicationTitle(format("%d%%", position));
            break;
        }
        case kNotifyFailure:
            displays.endRun();
            displays.alertSound();
            reportStatusMessage(displays, failureText(value, displays.portText()));
            break;
        case kNotifyNoAnswer:
            restart(displays, value);
            break;
        case kNotifyClass:
            displays.addReport(format("Class %d [%s]", value, className(value).c_str()));
            break;
        case kNotifyVersion:
            displays.addReport(format("Version %d.%d", (value >> 8) & 0xFF, value & 0xFF));
            break;
        case kNotifyPlatform:
            displays.addReport(
                format("Platform %d [%s]", value, getPlatformName(low16(value)).c_str()));
            break;
        case kNotifyPrint:
            displays.addReport(format("Print %d [%s]", value, getPrintName(low16(value)).c_str()));
            break;
        case kNotifyUpdateClass:
            displays.addReport(format("Update class %d [%s]", value, className(value).c_str()));
            break;
        case kNotifySelected: {
            const std::string text = describe("Update", descriptor(selectedFirmwareIndex.load()));
            displays.addReport(text);
            displays.setStatus(text);
            break;
        }
        case kNotifyScan:
            displays.addReport(describe("Check", descriptor(value)));
            break;
        case kNotifyNoFirmware:
            displays.addReport("Unknown version of radio module.");
            break;
        case kNotifyText:
            displays.addReport(notification.text);
            break;
        default:
            break;
    }
}

std::string formatReportLine(const std::tm& localTime, const std::string& text) {
    return format("%02d-%02d-%02d -> ", localTime.tm_hour, localTime.tm_min, localTime.tm_sec) +
           text;
}

std::string reportLineNow(const std::string& text) {
    return formatReportLine(platform::localTimeNow(), text);
}

}  // namespace qor
