// The result of validating a graph or source against semantic packs; the definitions behind
// validation_result.h.
#include "semantic_pack/validation_result.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<ExpectedHashCheck> kCheckMembers[] = {
    member<&ExpectedHashCheck::path>("path"),
    member<&ExpectedHashCheck::expected_hash>("expected_hash"),
    member<&ExpectedHashCheck::actual_hash>("actual_hash"),
    member<&ExpectedHashCheck::matched>("matched"),
};
constexpr auto kCheckLayout = record_layout("struct ExpectedHashCheck", kCheckMembers);

using ResultRecord = SemanticValidationResult;
constexpr Member<ResultRecord> kResultMembers[] = {
    member<&ResultRecord::status>("status"),
    member<&ResultRecord::diagnostics>("diagnostics"),
    member<&ResultRecord::pack_set_ref>("pack_set_ref"),
    member<&ResultRecord::input_hash>("input_hash"),
    member<&ResultRecord::validation_mode>("validation_mode"),
    member<&ResultRecord::expected_hashes>("expected_hashes"),
    member<&ResultRecord::unsigned_fixture_bypass_used>("unsigned_fixture_bypass_used"),
    member<&ResultRecord::first_approved_version_bypass_used>("first_approved_version_bypass_used"),
    member<&ResultRecord::evidence_ref>("evidence_ref"),
};
constexpr auto kResultLayout = record_layout("struct SemanticValidationResult", kResultMembers);

} // namespace

VOK_RECORD_JSON(ExpectedHashCheck, kCheckLayout)

VOK_RECORD_JSON(SemanticValidationResult, kResultLayout)

SemanticValidationResult SemanticValidationResult::fresh(const PackRef& ref, ValidationMode mode) {
    SemanticValidationResult result;
    result.pack_set_ref = PackSetRef{ref.pack_content_hash, {ref}};
    result.validation_mode = mode;
    return result;
}

Result<SemanticValidationResult, json::Error>
SemanticValidationResult::deserialize(std::string_view text) {
    return read_text<SemanticValidationResult>(text);
}

std::string SemanticValidationResult::serialize() const {
    return record_text(*this, kResultLayout);
}

} // namespace vok::semantic_pack
