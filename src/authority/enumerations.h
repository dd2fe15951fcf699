// The four enumerations the authority engine shares: where a fact comes from (SourceClass), what
// an evaluation decides (FinalDecision), what a policy does (PolicyModality) and how far a
// decision's trace can be relied on (ClaimLevel).
//
// Each has two spellings. The variant name ("ManualApproval") is what Python shows and what the
// documents write for modalities and claim levels; source classes and decisions are written and
// read in JSON under snake_case names ("manual_approval"). Both spellings live in one row of
// authority_enums.def; readers accept a bare name or {"name": null}, as every unit enumeration
// of the system does.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "json/deserializer.h"
#include "json/writer.h"

namespace vok::authority {

// Rows in authority_enums.def. The order is the enumeration's integer value, not the trust
// ranking. PolicyModality is the authority engine's own modality, not the deontic modality of
// graph policies, and its order is not the precedence conflict resolution gives them.
enum class SourceClass : uint8_t {
#define VOK_SOURCE_CLASS(Name, json_name) Name,
#include "authority/authority_enums.def"
};
enum class FinalDecision : uint8_t {
#define VOK_FINAL_DECISION(Name, json_name, outcome_word) Name,
#include "authority/authority_enums.def"
};
enum class PolicyModality : uint8_t {
#define VOK_POLICY_MODALITY(Name) Name,
#include "authority/authority_enums.def"
};
enum class ClaimLevel : uint8_t {
#define VOK_CLAIM_LEVEL(Name) Name,
#include "authority/authority_enums.def"
};

inline constexpr std::array kSourceClassNames = {
#define VOK_SOURCE_CLASS(Name, json_name) std::string_view(#Name),
#include "authority/authority_enums.def"
};
inline constexpr std::array kSourceClassJsonNames = {
#define VOK_SOURCE_CLASS(Name, json_name) std::string_view(json_name),
#include "authority/authority_enums.def"
};
inline constexpr std::array kFinalDecisionNames = {
#define VOK_FINAL_DECISION(Name, json_name, outcome_word) std::string_view(#Name),
#include "authority/authority_enums.def"
};
inline constexpr std::array kFinalDecisionJsonNames = {
#define VOK_FINAL_DECISION(Name, json_name, outcome_word) std::string_view(json_name),
#include "authority/authority_enums.def"
};
inline constexpr std::array kFinalDecisionOutcomeWords = {
#define VOK_FINAL_DECISION(Name, json_name, outcome_word) std::string_view(outcome_word),
#include "authority/authority_enums.def"
};
// Modalities and claim levels are written under their variant names.
inline constexpr std::array kPolicyModalityNames = {
#define VOK_POLICY_MODALITY(Name) std::string_view(#Name),
#include "authority/authority_enums.def"
};
inline constexpr std::array kClaimLevelNames = {
#define VOK_CLAIM_LEVEL(Name) std::string_view(#Name),
#include "authority/authority_enums.def"
};

std::string_view variant_name(SourceClass value);
std::string_view json_name(SourceClass value);
std::string_view variant_name(FinalDecision value);
std::string_view json_name(FinalDecision value);
// "allowed", "denied", ...: the reason code of a resolution that settles on the decision.
std::string_view outcome_word(FinalDecision value);
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
