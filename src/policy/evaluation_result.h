// The records a policy evaluation produces: at most one violation and the truth of the policy.
//
// `is_satisfied` is true exactly when `is_satisfied_tristate` holds true; an unknown outcome is
// "not satisfied" for callers that only understand booleans, and the tri-state keeps it apart
// from a plain false. The violation's context is always an empty object.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expression/policy.h"
#include "json/value.h"

namespace vok {

// Rows in policy_enums.def.
enum class Severity : uint8_t {
#define VOK_SEVERITY(Name) Name,
#include "policy/policy_enums.def"
};

inline constexpr std::array kSeverityNames = {
#define VOK_SEVERITY(Name) std::string_view(#Name),
#include "policy/policy_enums.def"
};

inline std::string_view name_of(Severity s) {
    return kSeverityNames[static_cast<size_t>(s)];
}

// Permissions that do not hold are informational; broken obligations and prohibitions are errors.
Severity severity_for(DeonticModality modality);

struct Violation {
    std::string name;
    std::string message;
    json::Value context;
    Severity severity = Severity::Error;

    static Violation make(std::string_view name, std::string message, Severity severity);
};

struct EvaluationResult {
    std::vector<Violation> violations;
    bool is_satisfied = false;
    std::optional<bool> is_satisfied_tristate;
};

} // namespace vok
