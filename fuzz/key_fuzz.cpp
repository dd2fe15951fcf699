// Fuzzes the key decoders: PEM, DER, base64, PKCS#8 and SubjectPublicKeyInfo. Whatever the input,
// decoding ends in a key or a message; the base64 decoder must also round-trip what it accepts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/ed25519_keys.h"
#include "encoding/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)vok::crypto::decode_ed25519_private_key_pem(text);
    (void)vok::crypto::decode_ed25519_public_key_pem(text);
    if (auto bytes = vok::encoding::base64_decode(text)) {
        if (vok::encoding::base64_encode(*bytes) != text) __builtin_trap();
    }
    return 0;
}
