// The DFU init packet (.dat): a protocol buffers (proto2) message that describes one image.
// The decoder is strict: it rejects truncated or inconsistent input and never reads outside
// the buffer it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qor::dfu {

enum class FwType : std::uint32_t {
    Application = 0,
    Softdevice = 1,
    Bootloader = 2,
    SoftdeviceBootloader = 3,
    ExternalApplication = 4,
};

enum class HashType : std::uint32_t { NoHash = 0, Crc = 1, Sha128 = 2, Sha256 = 3, Sha512 = 4 };

enum class ValidationType : std::uint32_t {
    NoValidation = 0,
    ValidateGeneratedCrc = 1,
    ValidateSha256 = 2,
    ValidateEcdsaP256Sha256 = 3,
};

enum class SignatureType : std::uint32_t { EcdsaP256Sha256 = 0, Ed25519 = 1 };

struct BootValidation {
    ValidationType type = ValidationType::NoValidation;
    std::vector<std::uint8_t> bytes;
};

// Optional fields that were absent stay empty; is_debug has the message's default (false).
struct InitCommand {
    std::optional<std::uint32_t> fw_version;
    std::optional<std::uint32_t> hw_version;
    std::vector<std::uint32_t> sd_req;
    std::optional<FwType> type;
    std::optional<std::uint32_t> sd_size;
    std::optional<std::uint32_t> bl_size;
    std::optional<std::uint32_t> app_size;
    std::optional<HashType> hash_type;  // set when the hash field is present
    std::vector<std::uint8_t> hash;     // as stored: a SHA-256 is least significant byte first
    bool is_debug = false;
    std::vector<BootValidation> boot_validation;
};

struct InitPacket {
    InitCommand init;
    bool isSigned = false;
    std::optional<SignatureType> signature_type;  // set when signed
    std::vector<std::uint8_t> signature;          // r then s, each byte-reversed, for ECDSA
    // The serialised Command message exactly as it stands in the packet: what the signature
    // covers.
    std::vector<std::uint8_t> commandBytes;
};

// Decodes a Packet holding a Command (plain or inside a SignedCommand) whose op code is INIT
// and which carries an InitCommand. On failure returns nothing and says why in error.
std::optional<InitPacket> decodeInitPacket(std::span<const std::uint8_t> bytes, std::string& error);

}  // namespace qor::dfu
