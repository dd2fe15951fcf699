// The identifiers and hashes that make a decision trace reproducible and checkable.
//
// Hashes are XXH64 with seed 0 written as 16 lower-case hex digits: they identify texts within
// traces (the candidate list, the request, the unknown-handling defaults), they are not a security
// measure. Decision ids are random version 4 UUIDs.
#pragma once

#include <string>
#include <string_view>

namespace vok::authority {

// XXH64 (seed 0) of `bytes` as 16 lower-case hex digits, leading zeros kept.
std::string hash_hex(std::string_view bytes);

// A fresh random UUID, version 4, in the hyphenated lower-case form.
std::string new_decision_id();

} // namespace vok::authority
