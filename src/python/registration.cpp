// The entries of the registration table; see registration.h.
#include "python/registration.h"

#include "python/authority/authority_environment_class.h"
#include "python/enumerations.h"
#include "python/expression/expression_class.h"
#include "python/expression/normalized_expression_class.h"
#include "python/expression/window_spec_class.h"
#include "python/formatter_functions.h"
#include "python/graph_class.h"
#include "python/namespace_registry_class.h"
#include "python/policy/evaluation_classes.h"
#include "python/record_classes.h"
#include "python/semantic_pack/build_function.h"
#include "python/semantic_pack/diff_function.h"
#include "python/semantic_pack/pack_class.h"
#include "python/semantic_pack/signature_functions.h"
#include "python/semantic_pack/resolution_functions.h"
#include "python/semantic_pack/signing_functions.h"
#include "python/semantic_pack/validation_functions.h"
#include "python/semantic_pack/validation_result_class.h"
#include "python/unit_classes.h"

namespace vok::python {

namespace {

constexpr Registration class_entry(const char* name, const ClassSpec* spec = nullptr) {
    return {Registration::Kind::Class, name, spec, nullptr};
}

constexpr Registration function_entry(const char* name, const FunctionRow* row = nullptr) {
    return {Registration::Kind::Function, name, nullptr, row};
}

const Registration kRegistrations[] = {
    /*  1 */ class_entry("Entity", &kEntityClass),
    /*  2 */ class_entry("Resource", &kResourceClass),
    /*  3 */ class_entry("Flow", &kFlowClass),
    /*  4 */ class_entry("ResourceInstance", &kResourceInstanceClass),
    /*  5 */ class_entry("Instance", &kInstanceClass),
    /*  6 */ class_entry("Mapping", &kMappingClass),
    /*  7 */ class_entry("Projection", &kProjectionClass),
    /*  8 */ class_entry("Graph", &kGraphClass),
    /*  9 */ class_entry("Role", &kRoleClass),
    /* 10 */ class_entry("Relation", &kRelationClass),
    /* 11 */ class_entry("NamespaceRegistry", &kNamespaceRegistryClass),
    /* 12 */ class_entry("NamespaceBinding", &kNamespaceBindingClass),
    /* 13 */ class_entry("Severity", &enums::kSeverity),
    /* 14 */ class_entry("Violation", &kViolationClass),
    /* 15 */ class_entry("EvaluationResult", &kEvaluationResultClass),
    /* 16 */ class_entry("UnaryOp", &enums::kUnaryOp),
    /* 17 */ class_entry("Quantifier", &enums::kQuantifier),
    /* 18 */ class_entry("BinaryOp", &enums::kBinaryOp),
    /* 19 */ class_entry("AggregateFunction", &enums::kAggregateFunction),
    /* 20 */ class_entry("WindowSpec", &kWindowSpecClass),
    /* 21 */ class_entry("Expression", &kExpressionClass),
    /* 22 */ class_entry("NormalizedExpression", &kNormalizedExpressionClass),
    /* 23 */ class_entry("FinalDecision", &enums::kFinalDecision),
    /* 24 */ class_entry("PolicyModality", &enums::kPolicyModality),
    /* 25 */ class_entry("SourceClass", &enums::kSourceClass),
    /* 26 */ class_entry("ClaimLevel", &enums::kClaimLevel),
    /* 27 */ class_entry("AuthorityEnvironment", &kAuthorityEnvironmentClass),
    /* 28 */ function_entry("evaluate_authority", &kEvaluateAuthority),
    /* 29 */ class_entry("Dimension", &kDimensionClass),
    /* 30 */ class_entry("Unit", &kUnitClass),
    /* 31 */ function_entry("format_source", &kFormatSource),
    /* 32 */ function_entry("check_format", &kCheckFormat),
    /* 33 */ class_entry("SemanticTruth", &enums::kSemanticTruth),
    /* 34 */ class_entry("DiagnosticSeverity", &enums::kDiagnosticSeverity),
    /* 35 */ class_entry("ValidationMode", &enums::kValidationMode),
    /* 36 */ class_entry("ApprovalState", &enums::kApprovalState),
    /* 37 */ class_entry("SignatureState", &enums::kSignatureState),
    /* 38 */ class_entry("ConceptStatus", &enums::kConceptStatus),
    /* 39 */ class_entry("ConceptKind", &enums::kConceptKind),
    /* 40 */ class_entry("AliasStatus", &enums::kAliasStatus),
    /* 41 */ class_entry("SemanticValidationStatus", &enums::kSemanticValidationStatus),
    /* 42 */ class_entry("SemanticPack", &kSemanticPackClass),
    /* 43 */ class_entry("SemanticValidationResult", &kSemanticValidationResultClass),
    /* 44 */ function_entry("build_semantic_pack", &kBuildSemanticPack),
    /* 45 */ function_entry("validate_semantic_pack", &kValidateSemanticPack),
    /* 46 */ function_entry("validate_graph_with_pack", &kValidateGraphWithPack),
    /* 47 */ function_entry("sign_pack", &kSignPack),
    /* 48 */ function_entry("verify_pack_signature", &kVerifyPackSignature),
    /* 49 */ function_entry("diff_packs", &kDiffPacks),
    /* 50 */ function_entry("compute_pack_hash", &kComputePackHash),
    /* 51 */ function_entry("normalize_lookup_key", &kNormalizeLookupKey),
    /* 52 */ function_entry("resolve_concept", &kResolveConcept),
};

static_assert(std::size(kRegistrations) == 52);

} // namespace

std::span<const Registration> registrations() {
    return kRegistrations;
}

} // namespace vok::python
