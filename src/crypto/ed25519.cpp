// Ed25519 through OpenSSL's raw-key EVP interface; see ed25519.h.
#include "crypto/ed25519.h"

#include <memory>
#include <new>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/openssl_failure.h"

namespace vok::crypto {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using ContextPtr = std::unique_ptr<EVP_MD_CTX, ContextFree>;

constexpr const char* kAlgorithm = "Ed25519";

// The group order L = 2^252 + 27742317777372353535851937790883648493, little-endian.
constexpr std::array<uint8_t, 32> kGroupOrder = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

KeyPtr private_key(const Ed25519Seed& seed) {
    KeyPtr key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.bytes().data(),
                                            seed.bytes().size()));
    // Any 32 bytes are a valid seed: a failure here is the library failing, not the input.
    if (!key) openssl_failed(kAlgorithm);
    return key;
}

} // namespace

Ed25519Seed::Ed25519Seed(std::span<const uint8_t, 32> bytes) {
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
}

Ed25519Seed::~Ed25519Seed() {
    OPENSSL_cleanse(bytes_.data(), bytes_.size());
}

Ed25519PublicKey ed25519_public_key(const Ed25519Seed& seed) {
    const KeyPtr key = private_key(seed);
    Ed25519PublicKey public_key{};
    size_t length = public_key.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), public_key.data(), &length) != 1 ||
        length != public_key.size()) {
        openssl_failed(kAlgorithm);
    }
    return public_key;
}

Ed25519Signature ed25519_sign(const Ed25519Seed& seed, std::string_view message) {
    const KeyPtr key = private_key(seed);
    const ContextPtr context(EVP_MD_CTX_new());
    Ed25519Signature signature{};
    size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        length != signature.size()) {
        openssl_failed(kAlgorithm);
    }
    return signature;
}

bool is_canonical_scalar(std::span<const uint8_t, 32> scalar) {
    for (size_t i = scalar.size(); i-- > 0;) {
        if (scalar[i] != kGroupOrder[i]) return scalar[i] < kGroupOrder[i];
    }
    return false; // equal to the order
}

bool ed25519_verify(const Ed25519PublicKey& public_key, std::string_view message,
                    std::span<const uint8_t> signature) {
    if (signature.size() != 64) return false;
    if (!is_canonical_scalar(signature.subspan<32, 32>())) return false;
    // Any 32 bytes make a key (the point is decoded when verifying): a failure here is the
    // library failing, not the input.
    const KeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(),
                                                 public_key.size()));
    if (!key) openssl_failed(kAlgorithm);
    const ContextPtr context(EVP_MD_CTX_new());
    if (!context) throw std::bad_alloc();
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        openssl_failed(kAlgorithm);
    const bool verified = EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                                           reinterpret_cast<const unsigned char*>(message.data()),
                                           message.size()) == 1;
    // A refusal leaves entries on OpenSSL's thread-local error queue; later callers must not
    // see them.
    ERR_clear_error();
    return verified;
}

} // namespace vok::crypto
