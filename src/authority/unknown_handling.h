// The unknown-handling defaults: for each policy modality, the decision a policy gives when the
// facts it needs are unknown.
//
// The configuration states all four, each as {"default": decision}. The key of the fourth is
// "override_" with its trailing underscore; "override" is an unknown key and skipped. The same
// four defaults have a fixed compact text, which the trace hashes so that a decision can be tied
// to the defaults it was made under.
#pragma once

#include <string>

#include "authority/enumerations.h"
#include "json/deserializer.h"

namespace vok::authority {

struct UnknownHandlingDefault {
    FinalDecision default_ = FinalDecision::Deny;

    static Result<UnknownHandlingDefault, json::Error> read(json::Deserializer& de);
};

struct UnknownHandlingConfig {
    UnknownHandlingDefault permission;
    UnknownHandlingDefault prohibition;
    UnknownHandlingDefault obligation;
    UnknownHandlingDefault override_;

    // The default for policies of `modality`.
    FinalDecision default_for(PolicyModality modality) const;

    static Result<UnknownHandlingConfig, json::Error> read(json::Deserializer& de);
};

// {"permission":{"default":"deny"},"prohibition":{...},"obligation":{...},"override_":{...}},
// compact, keys in that order, decisions under their JSON names.
std::string unknown_handling_defaults_text(const UnknownHandlingConfig& config);

} // namespace vok::authority
