// Everything that shapes one simulated logger: its identity, the radio module's bootloader,
// timing, and the faults it plays.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::sim {

enum class BootloaderKind { Nordic, Block };

// What command 3 with selectors 0 and 1 reports: the firmware the radio module runs.
struct ModuleFirmware {
    std::uint16_t fwClass = 26156;  // 0: no known firmware
    std::uint16_t version = 0x0201;
    std::uint16_t print = 35;
    std::uint16_t platform = 18;
};

struct Identity {
    std::uint16_t loggerClass = 26145;
    std::uint16_t loggerVersion = 0x010A;
    // Radio-module hardware (command 3, selector 2).
    std::uint16_t updateClass = 26156;
    std::uint16_t platform = 18;
    std::uint16_t print = 35;
    ModuleFirmware firmware;
    // What the module reports after an update; unset: the update class, and the version the
    // image carries (Nordic) or 0x0205 (block bootloader).
    std::optional<std::uint16_t> classAfterUpdate;
    std::optional<std::uint16_t> versionAfterUpdate;
};

// Selects the frames of one logger command: the command code and, for command 3, optionally
// the selector (p2).
struct CommandKey {
    std::uint8_t code = 0;
    std::optional<std::uint8_t> selector;
};

enum class LinkFaultKind { NoAnswer, WrongCrc, LateLastByte, Exception, Garbage };

// A fault on the logger command link. Attempts count the valid frames of the command that
// the logger received since it started, from 1.
struct LinkFault {
    LinkFaultKind kind = LinkFaultKind::NoAnswer;
    CommandKey command;
    std::uint32_t attempt = 1;
    bool fromAttemptOn = false;   // NoAnswer, Exception: this attempt and all later ones
    std::uint32_t parameter = 0;  // LateLastByte: delay in ms; Garbage: byte count
};

enum class BlockFaultKind { Status, LateAnswer, BadCrc };

// A fault on the block bootloader's answer to command 12, 13 or 14. Attempts count the frames
// of that command received, from 1.
struct BlockFault {
    BlockFaultKind kind = BlockFaultKind::Status;
    std::uint8_t command = 0;
    std::uint32_t attempt = 1;
    std::uint32_t parameter = 0;  // Status: the status byte; LateAnswer: delay in ms
};

struct PowerOnReport {
    bool send = true;
    std::uint8_t flags = 0x01;
    std::uint8_t reserved = 0;
    // Unset: the module's update class, platform and print.
    std::optional<std::uint16_t> cl, pf, pr;
    std::uint8_t v = 1;
    std::uint8_t b = 4;
    std::string text = "QOR-BL";
    // Replaces the whole frame but its CRC (header, length, data), for malformed reports.
    std::optional<std::vector<std::uint8_t>> rawFrame;
    bool badCrc = false;
};

struct NordicFaults {
    bool silent = false;                            // answers nothing, not even a ping
    std::optional<std::uint64_t> stallAfterBytes;   // hangs once it has received N bytes
    std::optional<std::uint32_t> corruptImageByte;  // stores this image offset altered
    std::optional<std::uint8_t> refuseInit;         // extended error on init execute
};

// Faults of the relayed line while the logger passes it through: each byte either way is
// damaged (one random bit flipped) with probability `damage`, each byte to the module lost with
// probability `loss`; `seed` makes a run repeatable.
struct LineFaults {
    double damage = 0.0;
    double loss = 0.0;
    std::uint64_t seed = 1;
};

struct Config {
    Identity identity;
    BootloaderKind bootloader = BootloaderKind::Nordic;
    PowerOnReport report;
    std::vector<LinkFault> linkFaults;
    std::vector<BlockFault> blockFaults;
    NordicFaults nordic;
    LineFaults line;
    std::optional<std::uint64_t> vanishAfterBytes;    // pass-through bytes before the port goes
    std::chrono::milliseconds passThroughIdle{5000};  // 0: pass-through never times out
    bool realtime = false;
    bool once = false;
    std::string linkPath;        // symlink to the slave, if set
    std::string transcriptPath;  // transcript file, if set
    std::string publicKeyPem;    // verifies init packets; empty: the development key
};

}  // namespace qor::sim
