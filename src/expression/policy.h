// Policy: a named obligation, prohibition or permission whose condition is an expression.
//
// Policies come from DSL source (the lowering builds them with `Policy::make` and then sets what
// the declaration says) and from policy JSON (`read_policy`), which keeps the id the document
// gives: only `make` derives the id from namespace and name.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expression/expression.h"
#include "semantic_version/semantic_version.h"
#include "uuid/uuid.h"
#include "json/deserializer.h"

namespace vok {

// Rows in expression_enums.def; the names are the JSON forms.
enum class PolicyKind : uint8_t {
#define VOK_POLICY_KIND(Name) Name,
#include "expression/expression_enums.def"
};
enum class DeonticModality : uint8_t {
#define VOK_DEONTIC_MODALITY(Name) Name,
#include "expression/expression_enums.def"
};

inline constexpr std::array kPolicyKindNames = {
#define VOK_POLICY_KIND(Name) std::string_view(#Name),
#include "expression/expression_enums.def"
};
inline constexpr std::array kDeonticModalityNames = {
#define VOK_DEONTIC_MODALITY(Name) std::string_view(#Name),
#include "expression/expression_enums.def"
};

struct Policy {
    Uuid id;
    std::string name;
    std::string namespace_;
    SemanticVersion version{1, 0, 0};
    Expression expression;
    DeonticModality modality = DeonticModality::Obligation;
    PolicyKind kind = PolicyKind::Constraint;
    int32_t priority = 0;
    std::optional<std::string> rationale;
    std::vector<std::string> tags;

    // The defaults of a new policy: version 1.0.0, Obligation, Constraint, priority 0, no
    // rationale, no tags; the id is the concept id of namespace and name.
    static Policy make(std::string name, std::string namespace_name, Expression expression);

    // Reads policy JSON text; the error's text is the reader's message with its position.
    static Result<Policy, json::Error> deserialize(std::string_view json_text);
};

Result<Policy, json::Error> read_policy(json::Deserializer& de);
// The id member: a UUID text; a bad one fails with "UUID parsing failed: " and the parser's text.
Result<Uuid, json::Error> read_uuid(json::Deserializer& de);

} // namespace vok
