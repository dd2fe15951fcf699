// SHA-256 over bytes, in one go or streamed; the definitions behind sha256.h.
#include "crypto/sha256.h"

#include <openssl/evp.h>

#include <atomic>
#include <new>

#include "common/hex.h"
#include "crypto/openssl_failure.h"

namespace vok::crypto {

namespace {

constexpr const char* kAlgorithm = "SHA-256";

std::atomic<EVP_MD*> g_algorithm{nullptr};

const EVP_MD* sha256_algorithm() {
    // Fetched once, by whichever thread gets there first: an implicit fetch on every digest would
    // cost a provider lookup per hash. A failed fetch (no provider offers it, or no memory) is
    // not kept, so the next call tries again.
    if (EVP_MD* fetched = g_algorithm.load(std::memory_order_acquire)) return fetched;
    EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (fetched == nullptr) openssl_failed(kAlgorithm);
    EVP_MD* expected = nullptr;
    if (!g_algorithm.compare_exchange_strong(expected, fetched, std::memory_order_acq_rel)) {
        EVP_MD_free(fetched);
        return expected;
    }
    return fetched;
}

} // namespace

struct Sha256::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    const EVP_MD* algorithm = sha256_algorithm();
    context_->md = EVP_MD_CTX_new();
    if (context_->md == nullptr) throw std::bad_alloc();
    if (EVP_DigestInit_ex(context_->md, algorithm, nullptr) != 1) openssl_failed(kAlgorithm);
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    if (bytes.empty()) return;
    if (EVP_DigestUpdate(context_->md, bytes.data(), bytes.size()) != 1) openssl_failed(kAlgorithm);
}

std::string Sha256::finish_hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->md, digest, &length) != 1 || length != 32)
        openssl_failed(kAlgorithm);
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
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha256_algorithm(), nullptr) != 1 ||
        length != 32) {
        openssl_failed(kAlgorithm);
    }
    std::string text;
    text.reserve(64);
    append_hex_bytes(text, digest, length);
    return text;
}

} // namespace vok::crypto
