// The radio-module update run: identify logger and module, choose the image, transfer it,
// wait for the module's restart and verify the new version.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/Bl3FileHeader.h"
#include "engine/CommThread.h"

namespace qor {

class TOruAnsiSBCSPipeFilter;

inline constexpr std::uint16_t kLoggerClass = 26145;
inline constexpr std::uint16_t kLowestLoggerVersion = 0x0108;
inline constexpr std::uint16_t kWlanModuleClass = 26155;
inline constexpr std::uint16_t kBleModuleClass = 26156;
inline constexpr std::uint16_t kBlockBootloader = 4;
inline constexpr std::uint16_t kDfuToolBootloader = 5;
inline constexpr std::uint32_t kBlockRestartSeconds = 25;
inline constexpr std::uint32_t kDfuRestartSeconds = 8;
inline constexpr std::uint32_t kFirstCommandPauseMs = 2000;
inline constexpr std::int32_t kCommandLinkBaud = 9600;

class TKECommThread : public TCommThread {
  public:
    TKECommThread(std::int32_t hWindow, TCmd cmd, const std::string& sPort);
    ~TKECommThread() override;

    // Recognises a DFU tool progress line "position/total" and returns its two numbers.
    static bool parseProgressLine(const std::string& text, std::int32_t& n, std::int32_t& m);

  protected:
    void work() override;

    // Command 2: from its answer on the logger passes the line through to the radio module.
    void switchToPassThrough();

    // Block bootloader transfer (kind 4); returns with the port open at 57600 baud.
    void updateByBlockBootloader(std::int32_t index);
    // Completes the frame whose data the caller put into FTxBuffer, writes it, pauses 5 ms.
    void sendBlockFrame(std::uint8_t header, std::int32_t dataLength);
    void startAnswerTimer();
    // One complete frame with a matching check value into FRxBuffer; EQor 100 at the deadline.
    void receiveBlockFrame();
    // The same; false at the deadline.
    bool tryReceiveBlockFrame();
    void powerOnHandshake();
    void announceImage(std::uint32_t size, std::uint32_t length);
    void writeImageBlock(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes);
    void finishImage();

    // DFU tool transfer (kind 5); returns with the port closed.
    void updateByDfuTool(std::int32_t index);
    bool extractResourceToFile(const std::string& resourceName, const std::string& fileName);
    bool runConsoleTool(const std::string& commandLine, bool visible);
    void toolWork();
    void toolComplete();
    void toolLineEnd(const std::string& text);

    std::int32_t FRxPos = 0;
    std::int32_t FRxLength = 0;
    std::int32_t FRxDataLength = 0;
    std::uint32_t FRxTimeout = 0;
    TOruAnsiSBCSPipeFilter* fOutFilter = nullptr;

  private:
    // Starts the answer timer, receives until a long frame arrives (short ones are passed
    // over) and judges its status.
    void awaitBlockAnswer();
};

}  // namespace qor
