// AuthorityPack: one policy pack of an authority environment, read from the raw JSON value that
// the configuration kept for it.
//
// The pack's hash and signature are carried as given, not checked against its content; the trace
// of every decision lists the packs' hash texts. The reader checks form and types; an empty id or
// version, a policy without id, an override without its spec and a pack for other semantics are
// refused when the environment is built.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "authority/authority_policy.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::authority {

struct AuthorityPack {
    std::string id;
    std::string version;
    std::string semantics_version;
    std::string required_specificity_profile;
    std::vector<AuthorityPolicy> policies;
    std::string hash;
    std::optional<std::string> signature;
    std::optional<std::string> owner;
    // Kept as the text given, not parsed.
    std::optional<std::string> created_at;
    std::optional<std::string> approved_by;
    std::optional<std::string> evidence_ref;

    // An object by key, or an array of exactly the eleven values in field order.
    static Result<AuthorityPack, json::Error> read(json::Deserializer& de);
    // Reads a raw pack value; the error is the reader's message (without a position).
    static Result<AuthorityPack, std::string> from_value(const json::Value& value);
};

} // namespace vok::authority
