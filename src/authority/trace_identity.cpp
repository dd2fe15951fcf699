// XXH64 hashes (libxxhash) and random decision ids (the uuid library); see trace_identity.h.
#include "authority/trace_identity.h"

#include <xxhash.h>

#include "uuid/uuid.h"

namespace vok::authority {

std::string hash_hex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    const XXH64_hash_t hash = XXH64(bytes.data(), bytes.size(), 0);
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i)
        out[static_cast<size_t>(i)] = kHex[(hash >> ((15 - i) * 4)) & 0xF];
    return out;
}

std::string new_decision_id() {
    return Uuid::new_v4().to_string();
}

} // namespace vok::authority
