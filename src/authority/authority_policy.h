// AuthorityPolicy: one policy of a policy pack, with the records it is made of.
//
// A policy says to which requests it applies (`applies_to`, structural predicates: request part
// to expected JSON value), under which conditions on facts it holds (`when`: fact path to expected
// value), which facts it needs (`requires_fact`), its modality and priority, and optionally what
// it overrides or obliges.
//
// Policies are read from the pack's already parsed JSON value, so their errors carry no position;
// an object there holds each key once and is walked in byte order of its keys, so of two bad
// values the one whose key sorts first is reported. The reader checks form and types only: an
// empty policy id and an override without `override_spec` are refused when the environment is
// built.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "authority/enumerations.h"
#include "authority/fact_requirement.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::authority {

// Every key of the `applies_to` object with its expected value (any JSON value, null included).
struct StructuralPredicates {
    json::Object predicates;

    // An object only.
    static Result<StructuralPredicates, json::Error> read(json::Deserializer& de);
};

// Every key of the `when` object: a fact path with its expected value.
struct ConditionPredicates {
    json::Object predicates;

    // An object only.
    static Result<ConditionPredicates, json::Error> read(json::Deserializer& de);
};

struct ObligationSpec {
    std::string action;
    // Kept as the text given.
    std::optional<std::string> deadline;

    static Result<ObligationSpec, json::Error> read(json::Deserializer& de);
};

struct OverrideSpec {
    std::string permits;

    static Result<OverrideSpec, json::Error> read(json::Deserializer& de);
};

struct AuthorityPolicy {
    std::string policy_id;
    PolicyModality modality = PolicyModality::Permission;
    int32_t priority = 0;
    StructuralPredicates applies_to;
    // None when absent or null; an empty object gives an empty map.
    std::optional<ConditionPredicates> when;
    std::vector<FactRequirement> requires_fact;
    std::string semantics_version;
    std::optional<OverrideSpec> override_spec;
    std::optional<ObligationSpec> obligation_spec;
    std::optional<std::string> description;
    std::optional<std::string> evidence_ref;

    static Result<AuthorityPolicy, json::Error> read(json::Deserializer& de);

    // Reads the value of a pack's `policies` key, a JSON array, in array order; the error is the
    // reader's message (without a position).
    static Result<std::vector<AuthorityPolicy>, std::string> from_value_list(const json::Value& v);
    // The same, at the current position of a reader that is reading the pack.
    static Result<std::vector<AuthorityPolicy>, json::Error> read_list(json::Deserializer& de);
};

} // namespace vok::authority
