#include "firmware/PackageMaker.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "firmware/ProtobufWriter.h"
#include "firmware/StoredZip.h"

namespace qor::firmware {

namespace {

// Init command values: application 2.05 for hardware 52 on SoftDevice 0xB6.
constexpr std::uint32_t kFwVersion = 20500;
constexpr std::uint32_t kHwVersion = 52;
constexpr std::uint32_t kSoftDeviceId = 0xB6;
constexpr std::uint32_t kOpCodeInit = 1;
constexpr std::uint32_t kFwTypeApplication = 0;
constexpr std::uint32_t kHashSha256 = 3;
constexpr std::uint32_t kNoValidation = 0;
constexpr std::uint32_t kSignatureEcdsaP256Sha256 = 0;

// Where the image runs on the radio module (above the SoftDevice) and its stack top.
constexpr std::uint32_t kAppStart = 0x26000;
constexpr std::uint32_t kStackTop = 0x20040000;
constexpr std::size_t kVectorCount = 64;
constexpr std::size_t kMarkerOffset = 0x110;
constexpr const char* kMarker = "QOR BLE-Z40 radio module stand-in application V2.05";

struct OpenSslDeleter {
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
};
template <class T>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter>;

[[noreturn]] void fail(const std::string& what) {
    std::string detail;
    if (const unsigned long code = ERR_get_error(); code != 0) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        detail = std::string(": ") + text;
    }
    ERR_clear_error();
    throw std::runtime_error(what + detail);
}

OpenSslPtr<EVP_PKEY> readKey(const std::string& pem, bool isPrivate) {
    OpenSslPtr<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        fail("cannot read the key");
    }
    OpenSslPtr<EVP_PKEY> key(isPrivate
                                 ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                                 : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        fail(isPrivate ? "not a PEM private key" : "not a PEM public key");
    }
    char curve[64] = {};
    if (!EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_group_name(key.get(), curve, sizeof curve, nullptr) != 1 ||
        std::string(curve) != "prime256v1") {
        fail("the key is not an ECDSA P-256 key");
    }
    return key;
}

void putU32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// 32 big-endian bytes of a number, reversed into least significant byte first.
void putReversed(const BIGNUM* number, std::uint8_t* out) {
    if (BN_bn2binpad(number, out, 32) != 32) {
        fail("signature number does not fit 32 bytes");
    }
    std::reverse(out, out + 32);
}

OpenSslPtr<BIGNUM> numberFromReversed(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, 32> bigEndian{};
    std::reverse_copy(bytes.begin(), bytes.end(), bigEndian.begin());
    OpenSslPtr<BIGNUM> number(BN_bin2bn(bigEndian.data(), 32, nullptr));
    if (!number) {
        fail("cannot convert a signature number");
    }
    return number;
}

}  // namespace

std::vector<std::uint8_t> makeStandInImage() {
    std::vector<std::uint8_t> image(kImageSize);
    // Filler: a 32-bit xorshift sequence with a fixed seed.
    std::uint32_t state = 0x5EB1E240;
    for (std::size_t i = 0; i < image.size(); i += 4) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        putU32(image, i, state);
    }
    // Vector table: stack top, reset handler, every other handler on a default one. Both
    // handlers are a Thumb branch to themselves: the stand-in never does anything.
    const std::uint32_t resetHandler = kAppStart + kVectorCount * 4;
    const std::uint32_t defaultHandler = resetHandler + 2;
    putU32(image, 0, kStackTop);
    putU32(image, 4, resetHandler | 1);
    for (std::size_t v = 2; v < kVectorCount; ++v) {
        putU32(image, v * 4, defaultHandler | 1);
    }
    const std::size_t code = kVectorCount * 4;
    image[code] = 0xFE;  // b .
    image[code + 1] = 0xE7;
    image[code + 2] = 0xFE;  // b .
    image[code + 3] = 0xE7;
    std::memcpy(image.data() + kMarkerOffset, kMarker, std::strlen(kMarker) + 1);
    return image;
}

std::string makeManifest() {
    return "{\n"
           "    \"manifest\": {\n"
           "        \"application\": {\n"
           "            \"bin_file\": \"qor-ble.bin\",\n"
           "            \"dat_file\": \"qor-ble.dat\"\n"
           "        }\n"
           "    }\n"
           "}";
}

std::vector<std::uint8_t> makeInitCommand(std::span<const std::uint8_t> image) {
    std::array<std::uint8_t, 32> hash{};
    if (EVP_Digest(image.data(), image.size(), hash.data(), nullptr, EVP_sha256(), nullptr) != 1) {
        fail("SHA-256 of the image failed");
    }
    // The bootloader compares the hash least significant byte first.
    std::reverse(hash.begin(), hash.end());

    ProtobufWriter hashMessage;
    hashMessage.varintField(1, kHashSha256);
    hashMessage.bytesField(2, hash);

    ProtobufWriter bootValidation;
    bootValidation.varintField(1, kNoValidation);
    bootValidation.bytesField(2, {});

    const std::array<std::uint32_t, 1> softDevices{kSoftDeviceId};
    ProtobufWriter init;
    init.varintField(1, kFwVersion);
    init.varintField(2, kHwVersion);
    init.packedVarintField(3, softDevices);
    init.varintField(4, kFwTypeApplication);
    init.varintField(5, 0);  // sd_size
    init.varintField(6, 0);  // bl_size
    init.varintField(7, image.size());
    init.messageField(8, hashMessage);
    init.varintField(9, 0);  // is_debug
    init.messageField(10, bootValidation);

    ProtobufWriter command;
    command.varintField(1, kOpCodeInit);
    command.messageField(2, init);
    return command.bytes();
}

std::array<std::uint8_t, 64> signMessage(std::span<const std::uint8_t> message,
                                         const std::string& privateKeyPem) {
    const OpenSslPtr<EVP_PKEY> key = readKey(privateKeyPem, true);
    const OpenSslPtr<EVP_MD_CTX> context(EVP_MD_CTX_new());
    std::size_t derSize = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &derSize, message.data(), message.size()) != 1) {
        fail("ECDSA signing failed");
    }
    std::vector<std::uint8_t> der(derSize);
    if (EVP_DigestSign(context.get(), der.data(), &derSize, message.data(), message.size()) != 1) {
        fail("ECDSA signing failed");
    }
    const std::uint8_t* cursor = der.data();
    const OpenSslPtr<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derSize)));
    if (!sig) {
        fail("cannot decode the ECDSA signature");
    }
    std::array<std::uint8_t, 64> signature{};
    putReversed(ECDSA_SIG_get0_r(sig.get()), signature.data());
    putReversed(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32);
    return signature;
}

bool verifySignature(std::span<const std::uint8_t> message,
                     std::span<const std::uint8_t, 64> signature, const std::string& publicKeyPem) {
    const OpenSslPtr<EVP_PKEY> key = readKey(publicKeyPem, false);
    OpenSslPtr<BIGNUM> r = numberFromReversed(signature.first<32>());
    OpenSslPtr<BIGNUM> s = numberFromReversed(signature.last<32>());
    const OpenSslPtr<ECDSA_SIG> sig(ECDSA_SIG_new());
    if (!sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) {
        fail("cannot build the ECDSA signature");
    }
    r.release();  // now owned by sig
    s.release();
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
    if (derSize <= 0) {
        fail("cannot encode the ECDSA signature");
    }
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* p) { OPENSSL_free(p); });
    const OpenSslPtr<EVP_MD_CTX> context(EVP_MD_CTX_new());
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        fail("ECDSA verification could not start");
    }
    const int result = EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derSize),
                                        message.data(), message.size());
    ERR_clear_error();
    return result == 1;
}

std::vector<std::uint8_t> makeInitPacket(std::span<const std::uint8_t> image,
                                         const std::string& privateKeyPem) {
    const std::vector<std::uint8_t> command = makeInitCommand(image);
    const std::array<std::uint8_t, 64> signature = signMessage(command, privateKeyPem);

    ProtobufWriter signedCommand;
    signedCommand.bytesField(1, command);
    signedCommand.varintField(2, kSignatureEcdsaP256Sha256);
    signedCommand.bytesField(3, signature);

    ProtobufWriter packet;
    packet.messageField(2, signedCommand);
    return packet.bytes();
}

std::vector<std::uint8_t> makePackage(const std::string& privateKeyPem) {
    std::vector<std::uint8_t> image = makeStandInImage();
    std::vector<std::uint8_t> initPacket = makeInitPacket(image, privateKeyPem);
    const std::string manifest = makeManifest();
    const std::array<ZipMember, 3> members{
        ZipMember{kImageName, std::move(image)},
        ZipMember{kManifestName, std::vector<std::uint8_t>(manifest.begin(), manifest.end())},
        ZipMember{kInitPacketName, std::move(initPacket)},
    };
    return writeStoredZip(members, dosDateTime(2019, 8, 19, 15, 36, 40));
}

}  // namespace qor::firmware
