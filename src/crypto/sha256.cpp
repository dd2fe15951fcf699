// SHA-256 over bytes, in one go or streamed; the definitions behind sha256.h.
#include "crypto/sha256.h"

#include <openssl/evp.h>

#include "common/hex.h"
#include "common/invariant.h"

namespace vok::crypto {

namespace {

const EVP_MD* sha256_algorithm() {
    // Fetched once: an implicit fetch on every digest would cost a provider lookup per hash.
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    VOK_INVARIANT(algorithm != nullptr, "SHA-256 is not available from libcrypto");
    return algorithm;
}

} // namespace

struct Sha256::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    context_->md = EVP_MD_CTX_new();
    VOK_INVARIANT(context_->md != nullptr &&
                      EVP_DigestInit_ex(context_->md, sha256_algorithm(), nullptr) == 1,
                  "SHA-256 digest could not be started");
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    if (bytes.empty()) return;
    VOK_INVARIANT(EVP_DigestUpdate(context_->md, bytes.data(), bytes.size()) == 1,
                  "SHA-256 digest failed");
}

std::string Sha256::finish_hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    VOK_INVARIANT(EVP_DigestFinal_ex(context_->md, digest, &length) == 1 && length == 32,
                  "SHA-256 digest failed");
    std::string text = "sha256:";
    text.reserve(7 + 64);
    append_hex_bytes(text, digest, length);
    return text;
}

std::string sha256_hex(std::string_view bytes) {
    Sha256 sha;
    sha.update(bytes);
    return sha.finish_hex();
}

std::string sha256_hex_digits(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    VOK_INVARIANT(
        EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha256_algorithm(), nullptr) == 1 &&
            length == 32,
        "SHA-256 digest failed");
    std::string text;
    text.reserve(64);
    append_hex_bytes(text, digest, length);
    return text;
}

} // namespace vok::crypto
