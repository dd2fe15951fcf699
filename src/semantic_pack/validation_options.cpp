// Validation options; the definitions behind validation_options.h.
#include "semantic_pack/validation_options.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<ValidationOptions> kMembers[] = {
    defaulted_member<&ValidationOptions::mode>("mode"),
    defaulted_member<&ValidationOptions::unknown_concept_policy>("unknown_concept_policy"),
    defaulted_member<&ValidationOptions::deprecated_policy>("deprecated_policy"),
    defaulted_member<&ValidationOptions::require_signed_pack>("require_signed_pack"),
    defaulted_member<&ValidationOptions::allow_unsigned_test_fixtures>(
        "allow_unsigned_test_fixtures"),
};
constexpr auto kLayout = record_layout("struct ValidationOptions", kMembers);

} // namespace

VOK_RECORD_JSON(ValidationOptions, kLayout)

Result<ValidationOptions, json::Error> ValidationOptions::deserialize(std::string_view text) {
    return read_text<ValidationOptions>(text);
}

} // namespace vok::semantic_pack
