// openssl_failed; see openssl_failure.h.
#include "crypto/openssl_failure.h"

#include <openssl/err.h>

#include <new>
#include <string>

#include "common/environment_failure.h"

namespace vok::crypto {

void openssl_failed(const char* algorithm) {
    bool out_of_memory = false;
    while (const unsigned long error = ERR_get_error()) {
        if (ERR_GET_REASON(error) == ERR_R_MALLOC_FAILURE) out_of_memory = true;
    }
    if (out_of_memory) throw std::bad_alloc();
    environment_failed(std::string(algorithm) + " is not available from libcrypto");
}

} // namespace vok::crypto
