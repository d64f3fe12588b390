#include "engine/KECommThread.h"

#include "catalogue/Catalogue.h"
#include "catalogue/CodeNames.h"
#include "engine/Exceptions.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "platform/Clock.h"

namespace qor {
namespace {

constexpr std::uint8_t kIdentityCommand = 1;
constexpr std::uint8_t kModuleCommand = 3;
constexpr std::uint8_t kModuleSelector = 0x30;
constexpr std::uint8_t kModuleFirmware = 0;
constexpr std::uint8_t kModuleFirmwarePlatform = 1;
constexpr std::uint8_t kModuleHardware = 2;
constexpr std::uint8_t kPassThroughCommand = 2;

// This update procedure honours the read-info-only flag; the window shows its box for it.
const bool announcedReadInfoOnly = [] {
    readInfoOnlyCapable = true;
    return true;
}();

}  // namespace

TKECommThread::TKECommThread(std::int32_t hWindow, TCmd cmd, const std::string& sPort)
    : TCommThread(hWindow, cmd, sPort) {
    (void)announcedReadInfoOnly;
}

TKECommThread::~TKECommThread() = default;

void TKECommThread::switchToPassThrough() {
    sendCommand(true, kPassThroughCommand, kModuleSelector, 0, 0, 0, 0, 0);
}

void TKECommThread::work() {
    platform::sleepMs(kFirstCommandPauseMs);

    // The logger: class and firmware version, most significant byte first.
    sendCommand(true, kIdentityCommand, 0, 0, 0, 0, 0, 0);
    const std::uint16_t loggerClass = makeWord(FRxBuffer[2], FRxBuffer[3]);
    const std::uint16_t loggerVersion = makeWord(FRxBuffer[4], FRxBuffer[5]);
    post(kNotifyClass, loggerClass);
    post(kNotifyVersion, loggerVersion);
    if (loggerClass != kLoggerClass || loggerVersion < kLowestLoggerVersion) {
        throw EQor(cEX_WRONG_LOGGER);
    }

    // The radio module's hardware; its answers are least significant byte first.
    sendCommand(true, kModuleCommand, kModuleSelector, kModuleHardware, 0, 0, 0, 0);
    const std::uint16_t updateClass = makeWord(FRxBuffer[2], FRxBuffer[1]);
    const std::uint16_t platformCode = checkPlatform(makeWord(FRxBuffer[4], FRxBuffer[3]));
    const std::uint16_t printCode = checkPrint(makeWord(FRxBuffer[6], FRxBuffer[5]));
    post(kNotifyUpdateClass, updateClass);
    post(kNotifyPlatform, platformCode);
    post(kNotifyPrint, printCode);
    if (updateClass != kWlanModuleClass && updateClass != kBleModuleClass) {
        throw EQor(cEX_NO_UPDATE);
    }

    // The module's present firmware: reported only, the choice rests on the hardware.
    sendCommand(true, kModuleCommand, kModuleSelector, kModuleFirmware, 0, 0, 0, 0);
    const std::uint16_t firmwareClass = makeWord(FRxBuffer[2], FRxBuffer[1]);
    if (firmwareClass == 0) {
        post(kNotifyNoFirmware, 0);
    } else {
        const std::uint16_t firmwareVersion = makeWord(FRxBuffer[4], FRxBuffer[3]);
        const std::uint16_t firmwarePrint = checkPrint(makeWord(FRxBuffer[6], FRxBuffer[5]));
        post(kNotifyClass, firmwareClass);
        post(kNotifyVersion, firmwareVersion);
        post(kNotifyPrint, firmwarePrint);
        sendCommand(true, kModuleCommand, kModuleSelector, kModuleFirmwarePlatform, 0, 0, 0, 0);
        post(kNotifyPlatform, checkPlatform(makeWord(FRxBuffer[2], FRxBuffer[1])));
    }

    // Catalogue scan: a loaded descriptor file alone, or the built-in images.
    std::int32_t first = 1;
    std::int32_t last = getFirmwareCount();
    if (selectedFirmwareIndex.load() == 0) {
        first = 0;
        last = 0;
    }
    selectedFirmwareIndex = -1;
    TBl3FileHeader header;
    for (std::int32_t i = first; i <= last; ++i) {
        post(kNotifyScan, i);
        getFirmwareHeader(i, header);
        const bool matches =
            (!checkClassFlag.load() || updateClass == header.qor_class) &&
            platformCode == header.qor_platform && printCode == header.qor_print &&
            (header.qor_bl == kBlockBootloader || header.qor_bl == kDfuToolBootloader);
        if (matches) {
            selectedFirmwareIndex = i;
            break;
        }
    }
    const std::int32_t index = selectedFirmwareIndex.load();
    if (index == -1) {
        throw EQor(cEX_NO_UPDATE);
    }
    if (readInfoOnlyFlag.load()) {
        throw EQor(cEX_INFO_ONLY);
    }
    post(kNotifySelected, static_cast<std::int32_t>(FCmd));

    getFirmwareHeader(index, header);
    std::uint32_t restartSeconds = 1;
    if (header.qor_bl == kBlockBootloader) {
        updateByBlockBootloader(index);
        restartSeconds = kBlockRestartSeconds;
    } else if (header.qor_bl == kDfuToolBootloader) {
        updateByDfuTool(index);
        restartSeconds = kDfuRestartSeconds;
    }

    // The module restarts into its new firmware.
    for (std::uint32_t second = 0; second < restartSeconds; ++second) {
        if (cancelFlag.load()) {
            throw EQor(cEX_CANCEL);
        }
        platform::sleepMs(1000);
    }
    reopenPort(kCommandLinkBaud);

    sendCommand(true, kModuleCommand, kModuleSelector, kModuleFirmware, 0, 0, 0, 0);
    const std::uint16_t newClass = makeWord(FRxBuffer[2], FRxBuffer[1]);
    const std::uint16_t newVersion = makeWord(FRxBuffer[4], FRxBuffer[3]);
    post(kNotifyClass, newClass);
    post(kNotifyVersion, newVersion);
    const std::uint16_t expectedVersion = makeWord(static_cast<std::uint8_t>(header.qor_verH),
                                                   static_cast<std::uint8_t>(header.qor_verL));
    if (newClass != header.qor_class || newVersion != expectedVersion) {
        throw EQor(cEX_VERIFY);
    }
}

}  // namespace qor
