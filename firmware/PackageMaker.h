// Makes the stand-in DFU package that the program carries: a deterministic application image,
// its manifest and a signed init packet, in a stored ZIP.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qor::firmware {

inline constexpr std::size_t kImageSize = 72092;
inline constexpr const char* kImageName = "qor-ble.bin";
inline constexpr const char* kManifestName = "manifest.json";
inline constexpr const char* kInitPacketName = "qor-ble.dat";

// A vector table, a readable marker, then pseudo-random filler (it holds every byte value, the
// SLIP END and ESC bytes included, so a transfer that drops or shifts bytes shows up).
std::vector<std::uint8_t> makeStandInImage();

// The manifest naming one application image: JSON, 4-space indentation, no final newline.
std::string makeManifest();

// The serialised Command message (op code INIT and the init command for the image); this is
// what the signature covers.
std::vector<std::uint8_t> makeInitCommand(std::span<const std::uint8_t> image);

// ECDSA P-256 over SHA-256 of the message, as the bootloader wants it: r then s, each 32 bytes
// least significant byte first. Throws std::runtime_error on a bad key or an OpenSSL failure.
std::array<std::uint8_t, 64> signMessage(std::span<const std::uint8_t> message,
                                         const std::string& privateKeyPem);

// Checks a signature in that layout against a PEM public key.
bool verifySignature(std::span<const std::uint8_t> message,
                     std::span<const std::uint8_t, 64> signature, const std::string& publicKeyPem);

// The Packet message: the signed command with its signature.
std::vector<std::uint8_t> makeInitPacket(std::span<const std::uint8_t> image,
                                         const std::string& privateKeyPem);

// The whole package: image, manifest, init packet in this order, all stamped
// 2019-08-19 15:36:40.
std::vector<std::uint8_t> makePackage(const std::string& privateKeyPem);

}  // namespace qor::firmware
