// Names, readers and writers of the authority enumerations; see enumerations.h.
#include "authority/enumerations.h"

#include "common/invariant.h"

namespace vok::authority {

namespace {

template <class Enum, size_t N>
std::string_view name_of(Enum value, const std::array<std::string_view, N>& names) {
    const auto index = static_cast<size_t>(value);
    VOK_INVARIANT(index < N, "authority enumeration value out of range");
    return names[index];
}

template <class Enum, size_t N>
Result<Enum, json::Error> read_enum(json::Deserializer& de,
                                    const std::array<std::string_view, N>& names) {
    VOK_ASSIGN(size_t index, json::read_unit_enum(de, names));
    return static_cast<Enum>(index);
}

} // namespace

std::string_view variant_name(SourceClass value) {
    return name_of(value, kSourceClassNames);
}
std::string_view json_name(SourceClass value) {
    return name_of(value, kSourceClassJsonNames);
}
std::string_view variant_name(FinalDecision value) {
    return name_of(value, kFinalDecisionNames);
}
std::string_view json_name(FinalDecision value) {
    return name_of(value, kFinalDecisionJsonNames);
}
std::string_view outcome_word(FinalDecision value) {
    return name_of(value, kFinalDecisionOutcomeWords);
}
std::string_view variant_name(PolicyModality value) {
    return name_of(value, kPolicyModalityNames);
}
std::string_view variant_name(ClaimLevel value) {
    return name_of(value, kClaimLevelNames);
}

Result<SourceClass, json::Error> read_source_class(json::Deserializer& de) {
    return read_enum<SourceClass>(de, kSourceClassJsonNames);
}

Result<std::vector<SourceClass>, json::Error> read_source_class_list(json::Deserializer& de) {
    std::vector<SourceClass> out;
    VOK_TRY(json::read_seq(de, "a sequence", [&](json::Deserializer& e) -> json::Status {
        VOK_ASSIGN(SourceClass c, read_source_class(e));
        out.push_back(c);
        return Ok();
    }));
    return out;
}

Result<FinalDecision, json::Error> read_final_decision(json::Deserializer& de) {
    return read_enum<FinalDecision>(de, kFinalDecisionJsonNames);
}

Result<PolicyModality, json::Error> read_policy_modality(json::Deserializer& de) {
    return read_enum<PolicyModality>(de, kPolicyModalityNames);
}

void write_source_class(json::Writer& w, SourceClass value) {
    w.string_value(json_name(value));
}

void write_source_class_list(json::Writer& w, const std::vector<SourceClass>& values) {
    w.begin_array();
    for (SourceClass value : values)
        write_source_class(w, value);
    w.end_array();
}

void write_final_decision(json::Writer& w, FinalDecision value) {
    w.string_value(json_name(value));
}

} // namespace vok::authority
