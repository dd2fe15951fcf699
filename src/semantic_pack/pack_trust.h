// A pack's trust block: its approval state, its signature state and the signature itself.
//
// The two states are required; `signed_by`, `signature_alg` and `signature` are optional texts
// (missing or null reads as absent, and an absent one is left out when written).
#pragma once

#include <optional>
#include <string>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct PackTrust {
    ApprovalState approval_state = ApprovalState::Candidate;
    SignatureState signature_state = SignatureState::Unsigned;
    std::optional<std::string> signed_by;
    std::optional<std::string> signature_alg;
    std::optional<std::string> signature;

    static Result<PackTrust, json::Error> read(json::Deserializer& de);

    friend bool operator==(const PackTrust&, const PackTrust&) = default;
};

json::Status read_into(json::Deserializer& de, PackTrust& record);
void write_json(RecordWriter& w, const PackTrust& record);

} // namespace vok::semantic_pack
