// XXH64 hashes (libxxhash) and random decision ids (the uuid library); see trace_identity.h.
#include "authority/trace_identity.h"

#include <xxhash.h>

#include "common/hex.h"
#include "uuid/uuid.h"

namespace vok::authority {

std::string hash_hex(std::string_view bytes) {
    const XXH64_hash_t hash = XXH64(bytes.data(), bytes.size(), 0);
    std::string out;
    out.reserve(16);
    append_hex_fixed(out, hash, 16);
    return out;
}

std::string new_decision_id() {
    return Uuid::new_v4().to_string();
}

} // namespace vok::authority
