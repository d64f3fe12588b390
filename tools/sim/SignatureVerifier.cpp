#include "tools/sim/SignatureVerifier.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "tools/sim/DevPublicKey.h"

namespace qor::sim {

struct SignatureVerifier::Key {
    EVP_PKEY* pkey = nullptr;
    ~Key() { EVP_PKEY_free(pkey); }
};

SignatureVerifier::SignatureVerifier(const std::string& publicKeyPem)
    : key_(std::make_unique<Key>()) {
    BIO* bio = BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size()));
    if (bio == nullptr) {
        throw std::runtime_error("out of memory reading the public key");
    }
    key_->pkey = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (key_->pkey == nullptr || EVP_PKEY_base_id(key_->pkey) != EVP_PKEY_EC ||
        EVP_PKEY_bits(key_->pkey) != 256) {
        throw std::runtime_error("the public key is not an ECDSA P-256 key in PEM form");
    }
}

SignatureVerifier::~SignatureVerifier() = default;

bool SignatureVerifier::verify(std::span<const std::uint8_t> message,
                               std::span<const std::uint8_t> signature) const {
    if (signature.size() != 64) {
        return false;
    }
    // r and s arrive least significant byte first; OpenSSL wants big-endian numbers.
    std::vector<std::uint8_t> r(signature.begin(), signature.begin() + 32);
    std::vector<std::uint8_t> s(signature.begin() + 32, signature.end());
    std::reverse(r.begin(), r.end());
    std::reverse(s.begin(), s.end());

    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* bnR = BN_bin2bn(r.data(), 32, nullptr);
    BIGNUM* bnS = BN_bin2bn(s.data(), 32, nullptr);
    if (sig == nullptr || bnR == nullptr || bnS == nullptr || ECDSA_SIG_set0(sig, bnR, bnS) != 1) {
        BN_free(bnR);
        BN_free(bnS);
        ECDSA_SIG_free(sig);
        return false;
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (derLength <= 0) {
        return false;
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = ctx != nullptr &&
                    EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key_->pkey) == 1 &&
                    EVP_DigestVerify(ctx, der, static_cast<std::size_t>(derLength), message.data(),
                                     message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    OPENSSL_free(der);
    return ok;
}

const std::string& developmentPublicKey() {
    static const std::string key(kDevPublicKeyPem);
    return key;
}

}  // namespace qor::sim
