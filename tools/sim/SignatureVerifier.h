// Checks the ECDSA P-256 signature of an init packet the way the bootloader does: over the
// SHA-256 of the serialised command, r and s each stored least significant byte first.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qor::sim {

class SignatureVerifier {
  public:
    // Throws std::runtime_error when the PEM holds no usable P-256 public key.
    explicit SignatureVerifier(const std::string& publicKeyPem);
    ~SignatureVerifier();
    SignatureVerifier(const SignatureVerifier&) = delete;
    SignatureVerifier& operator=(const SignatureVerifier&) = delete;

    bool verify(std::span<const std::uint8_t> message,
                std::span<const std::uint8_t> signature) const;

  private:
    struct Key;
    std::unique_ptr<Key> key_;
};

// The development public key the stand-in package is signed for (built into the program).
const std::string& developmentPublicKey();

}  // namespace qor::sim
