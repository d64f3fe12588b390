// A small Nordic serial DFU bootloader played on the master side of a pseudo-terminal, with
// switches for the faults the DFU client must survive or report.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tests/support/PtyPeer.h"
#include "tools/dfu/Slip.h"

namespace qor::test {

struct BootloaderScript {
    bool silent = false;  // reads everything, answers nothing
    std::uint16_t mtu = 131;
    std::uint32_t commandMaxSize = 512;
    std::uint32_t dataMaxSize = 4096;
    // Answer the init packet's execute with "extended error" and this code.
    std::optional<std::uint8_t> refuseInitWith;
    // Stop answering once this many data objects were executed.
    std::optional<std::uint32_t> stallAfterObjects;
    // Report a wrong CRC for this many checksum requests on data objects: the right one XOR
    // this mask.
    std::uint32_t corruptChecksums = 0;
    std::uint32_t corruptionMask = 0x5A5A5A5Au;
    // Line faults around the n-th execute request (counted from 1, the init packet's first): the
    // request never arrives, or its response is lost.
    std::optional<std::uint32_t> loseExecuteRequest;
    std::optional<std::uint32_t> loseExecuteResponse;
    // The response to the n-th execute request arrives with a bit of its first byte flipped.
    std::optional<std::uint32_t> damageExecuteResponse;
    // Before the response to the n-th checksum request on a data object: the responses a write
    // damaged into another request gets (an unknown opcode, a checksum request with
    // parameters), and garbage that ends in END.
    std::optional<std::uint32_t> strayBeforeChecksum;
    // The n-th select request arrives merged with the packet before it, whose END was lost: it
    // is refused as an invalid parameter.
    std::optional<std::uint32_t> mergeSelect;
    // The module restarts after activating an image: nothing is answered for this long.
    std::chrono::milliseconds restartSilence{0};
    // Firmware already held from an interrupted transfer: its bytes and how many of them were
    // executed; with the init packet that goes with it.
    std::vector<std::uint8_t> heldData;
    std::uint32_t heldExecuted = 0;
    std::vector<std::uint8_t> heldInitPacket;
};

class ScriptedBootloader {
  public:
    ScriptedBootloader(PtyPeer& peer, BootloaderScript script);
    ~ScriptedBootloader();
    ScriptedBootloader(const ScriptedBootloader&) = delete;
    ScriptedBootloader& operator=(const ScriptedBootloader&) = delete;

    struct Record {
        std::vector<std::vector<std::uint8_t>> activatedImages;  // in the order activated
        std::vector<std::uint8_t> opcodes;                       // every request, in order
        std::size_t bytesIn = 0;
        std::size_t maxWriteData = 0;      // largest write payload (data bytes)
        std::size_t dataBytesWritten = 0;  // data bytes written to data objects
        std::size_t objectsExecuted = 0;
        std::size_t executeRequests = 0;  // received, the init packet's included
        std::optional<std::uint16_t> prn;
    };
    Record record() const;

  private:
    void run();
    void handle(const std::vector<std::uint8_t>& request);
    void respond(std::uint8_t op, std::uint8_t result, const std::vector<std::uint8_t>& payload);
    void activateIfComplete();

    PtyPeer& peer_;
    BootloaderScript script_;
    dfu::SlipDecoder decoder_{1024};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    Record record_;
    // Bootloader state.
    std::uint8_t currentType_ = 0;
    std::vector<std::uint8_t> command_;
    std::vector<std::uint8_t> lastInitPacket_;  // the last one executed
    std::uint32_t commandSize_ = 0;
    bool commandValid_ = false;
    std::uint32_t expectedSize_ = 0;
    std::vector<std::uint8_t> data_;
    std::uint32_t executed_ = 0;
    std::uint32_t objectEnd_ = 0;
    bool stalled_ = false;
    std::uint32_t dataChecksums_ = 0;
    std::uint32_t executesSent_ = 0;
    std::uint32_t selects_ = 0;  // by the client, those lost on the line included
    std::chrono::steady_clock::time_point silentUntil_{};
    std::thread thread_;
};

}  // namespace qor::test
