// Ed25519 signatures (RFC 8032, pure: no prehash, no context) through OpenSSL 3's libcrypto.
//
// The seed is secret: `Ed25519Seed` wipes itself when destroyed, and the OpenSSL key objects made
// from it live only inside one call. Verification refuses a signature whose S half is not below
// the group order before OpenSSL sees it, so that every refusal of a malformed signature is ours
// and does not depend on the library version.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vok::crypto {

using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Signature = std::array<uint8_t, 64>;

class Ed25519Seed {
public:
    Ed25519Seed() = default;
    explicit Ed25519Seed(std::span<const uint8_t, 32> bytes);
    Ed25519Seed(const Ed25519Seed&) = delete;
    Ed25519Seed& operator=(const Ed25519Seed&) = delete;
    ~Ed25519Seed();

    const std::array<uint8_t, 32>& bytes() const { return bytes_; }

private:
    std::array<uint8_t, 32> bytes_{};
};

Ed25519PublicKey ed25519_public_key(const Ed25519Seed& seed);

Ed25519Signature ed25519_sign(const Ed25519Seed& seed, std::string_view message);

// Whether the 32 little-endian bytes are below the order of the base point.
bool is_canonical_scalar(std::span<const uint8_t, 32> scalar);

// True only for a 64-byte signature with canonical S that verifies over `message`. Where libcrypto
// offers no Ed25519 (nor memory), making, signing and verifying throw as openssl_failed says.
bool ed25519_verify(const Ed25519PublicKey& public_key, std::string_view message,
                    std::span<const uint8_t> signature);

} // namespace vok::crypto
