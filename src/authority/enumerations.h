// The four enumerations the authority engine shares: where a fact comes from (SourceClass), what
// an evaluation decides (FinalDecision), what a policy does (PolicyModality) and how far a
// decision's trace can be relied on (ClaimLevel).
//
// Each has two spellings. The variant name ("ManualApproval") is what Python shows and what the
// documents write for modalities and claim levels; source classes and decisions are written and
// read in JSON under snake_case names ("manual_approval"). The tables below are the only place
// either spelling lives; readers accept a bare name or {"name": null}, as every unit enumeration
// of the system does.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "json/deserializer.h"
#include "json/writer.h"

namespace vok::authority {

// The order is the enumeration's integer value, not the trust ranking.
enum class SourceClass : uint8_t {
    CallerSupplied,
    RuntimeObserved,
    SystemOfRecord,
    Attested,
    ManualApproval,
    Derived,
    UnknownSource,
};

enum class FinalDecision : uint8_t { Allow, Deny, Escalate, NotApplicable, Reject };

// The authority engine's own modality; not the deontic modality of graph policies. The order is
// the value, not the precedence conflict resolution gives them.
enum class PolicyModality : uint8_t { Permission, Prohibition, Obligation, Override };

enum class ClaimLevel : uint8_t { AuditBacked, Validated, FormallyProven };

inline constexpr std::array<std::string_view, 7> kSourceClassNames = {
    "CallerSupplied", "RuntimeObserved", "SystemOfRecord", "Attested",
    "ManualApproval", "Derived",         "UnknownSource"};
inline constexpr std::array<std::string_view, 7> kSourceClassJsonNames = {
    "caller_supplied", "runtime_observed", "system_of_record", "attested",
    "manual_approval", "derived",          "unknown_source"};

inline constexpr std::array<std::string_view, 5> kFinalDecisionNames = {"Allow", "Deny", "Escalate",
                                                                        "NotApplicable", "Reject"};
inline constexpr std::array<std::string_view, 5> kFinalDecisionJsonNames = {
    "allow", "deny", "escalate", "not_applicable", "reject"};

// Modalities and claim levels are written under their variant names.
inline constexpr std::array<std::string_view, 4> kPolicyModalityNames = {
    "Permission", "Prohibition", "Obligation", "Override"};
inline constexpr std::array<std::string_view, 3> kClaimLevelNames = {"AuditBacked", "Validated",
                                                                     "FormallyProven"};

std::string_view variant_name(SourceClass value);
std::string_view json_name(SourceClass value);
std::string_view variant_name(FinalDecision value);
std::string_view json_name(FinalDecision value);
std::string_view variant_name(PolicyModality value);
std::string_view variant_name(ClaimLevel value);

// Readers of the JSON names; an unknown name fails with the unknown-variant message listing the
// accepted names in value order.
Result<SourceClass, json::Error> read_source_class(json::Deserializer& de);
// A JSON array of source classes ("a sequence").
Result<std::vector<SourceClass>, json::Error> read_source_class_list(json::Deserializer& de);
Result<FinalDecision, json::Error> read_final_decision(json::Deserializer& de);
Result<PolicyModality, json::Error> read_policy_modality(json::Deserializer& de);

// Writers of one value as a JSON string in the documents' spelling.
void write_source_class(json::Writer& w, SourceClass value);
void write_source_class_list(json::Writer& w, const std::vector<SourceClass>& values);
void write_final_decision(json::Writer& w, FinalDecision value);

} // namespace vok::authority
