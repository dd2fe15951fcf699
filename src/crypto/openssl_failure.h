// What a failing libcrypto call means: the library ran out of memory (bad_alloc), or it cannot do
// the algorithm at all here (EnvironmentFailure naming it, see common/environment_failure.h).
#pragma once

namespace vok::crypto {

// Reads and clears OpenSSL's error queue of this thread and throws accordingly. `algorithm` is
// the algorithm's name ("SHA-256", "Ed25519").
[[noreturn]] void openssl_failed(const char* algorithm);

} // namespace vok::crypto
