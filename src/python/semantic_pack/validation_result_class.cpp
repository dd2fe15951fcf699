// The Python class SemanticValidationResult; the definitions behind validation_result_class.h.
#include "python/semantic_pack/validation_result_class.h"

#include <string>
#include <string_view>

#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "python/enumerations.h"
#include "semantic_pack/pack_validation.h"

namespace vok::python {

namespace {

using semantic_pack::SemanticValidationResult;

constexpr Signature kFromJson{"SemanticValidationResult.from_json", {{"json"}}};
constexpr Signature kStatus{"SemanticValidationResult.status"};
constexpr Signature kDiagnosticsJson{"SemanticValidationResult.diagnostics_json"};
constexpr Signature kUnsignedBypass{"SemanticValidationResult.unsigned_fixture_bypass_used"};
constexpr Signature kFirstApprovedBypass{
    "SemanticValidationResult.first_approved_version_bypass_used"};

PyResult<SemanticValidationResult> from_json(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    return core_result(SemanticValidationResult::deserialize(text),
                       messages::prefix::kInvalidResultJson);
}

PyResult<Member> status(const SemanticValidationResult& self) {
    return member(enums::kSemanticValidationStatus, self.status);
}

PyResult<std::string> diagnostics_json(const SemanticValidationResult& self) {
    return semantic_pack::diagnostics_json(self.diagnostics);
}

PyResult<bool> unsigned_fixture_bypass_used(const SemanticValidationResult& self) {
    return self.unsigned_fixture_bypass_used;
}

PyResult<bool> first_approved_version_bypass_used(const SemanticValidationResult& self) {
    return self.first_approved_version_bypass_used;
}

PyResult<std::string> result_repr(const SemanticValidationResult& self) {
    const char* const name =
        enums::kSemanticValidationStatus.members[static_cast<std::size_t>(self.status)];
    return std::string("<SemanticValidationResult(status=") + name + ")>";
}

const MethodRow kMethods[] = {
    static_method<kFromJson, from_json>(),
    method<kStatus, status>(),
    method<kDiagnosticsJson, diagnostics_json>(),
    method<kUnsignedBypass, unsigned_fixture_bypass_used>(),
    method<kFirstApprovedBypass, first_approved_version_bypass_used>(),
};

} // namespace

const ClassSpec kSemanticValidationResultClass{.name = "SemanticValidationResult",
                                               .layout = layout_of<SemanticValidationResult>(),
                                               .methods = kMethods,
                                               .slots = {.repr = unary_slot<result_repr>}};

} // namespace vok::python
