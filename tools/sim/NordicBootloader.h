// The radio module's Nordic Secure DFU bootloader on its serial line: SLIP-framed requests,
// command object (init packet) and data objects, the checks a release bootloader makes, and the
// switch to the new application after the last object.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/dfu/Slip.h"
#include "tools/sim/DeviceContext.h"
#include "tools/sim/SignatureVerifier.h"
#include "tools/sim/SimConfig.h"

namespace qor::sim {

// What the module's bootloader is built for.
inline constexpr std::uint32_t kNordicHwVersion = 52;
inline constexpr std::uint32_t kNordicSoftDeviceId = 0xB6;
inline constexpr std::uint16_t kNordicMtu = 131;
inline constexpr std::uint32_t kCommandObjectMaxSize = 512;
inline constexpr std::uint32_t kDataObjectMaxSize = 4096;
inline constexpr std::uint32_t kApplicationAreaSize = 0x52000;

class NordicBootloader {
  public:
    NordicBootloader(const Identity& identity, const NordicFaults& faults,
                     const SignatureVerifier& verifier, DeviceContext& ctx);

    void onBytes(std::span<const std::uint8_t> bytes);
    // The module was reset: what sits in RAM is gone, the stored init packet stays.
    void reset();

  private:
    using Bytes = std::vector<std::uint8_t>;

    void handle(const Bytes& request);
    void respond(std::uint8_t opcode, std::uint8_t result, const Bytes& payload = {},
                 Micros after = Micros{0});
    void respondExtended(std::uint8_t opcode, std::uint8_t extendedError, Micros after = Micros{0});
    // Responses that depend on pending flash work wait for it (real-time mode).
    Micros flashWait() const;

    void select(std::uint8_t type);
    void create(std::uint8_t type, std::uint32_t size);
    void write(std::span<const std::uint8_t> data);
    void checksum();
    void execute();
    void executeCommand();
    void executeData();
    // 0 when the init packet is acceptable, else the extended error code (or a result code
    // above 0xFF for a plain result).
    std::uint32_t validateInitPacket();
    void firmwareVersion(std::uint8_t image);

    const Identity& identity_;
    const NordicFaults& faults_;
    const SignatureVerifier& verifier_;
    DeviceContext& ctx_;
    dfu::SlipDecoder slip_;
    std::size_t droppedSeen_ = 0;
    std::uint64_t bytesReceived_ = 0;
    bool stalled_ = false;
    bool corruptionDone_ = false;

    // Kept in the bootloader's settings page: survives a reset.
    struct {
        std::uint32_t size = 0;
        std::uint32_t offset = 0;
        std::uint32_t crc = 0;
        Bytes bytes;
    } command_;

    // RAM state.
    enum class ObjectType : std::uint8_t { Command = 1, Data = 2, Invalid = 0 };
    ObjectType current_ = ObjectType::Command;
    std::uint16_t prn_ = 0;
    std::uint16_t prnCount_ = 0;
    bool initValid_ = false;
    std::uint32_t firmwareSize_ = 0;
    std::uint32_t newFwVersion_ = 0;
    Bytes hashLsbFirst_;
    std::uint32_t objectSize_ = 0;
    std::uint32_t offset_ = 0;
    std::uint32_t crc_ = 0;
    std::uint32_t offsetLast_ = 0;
    std::uint32_t crcLast_ = 0;
    Bytes image_;
    Clock::time_point flashBusyUntil_{};
};

}  // namespace qor::sim
