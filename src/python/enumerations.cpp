// The enumeration classes; see enumerations.h.
//
// Every class's member names are expanded here from the row list its core enumeration is made
// from, into a table keyed by that enumeration's type; a class is then made from the table of its
// own type only. Reordering, adding or dropping a row changes the core enumeration and the Python
// members together.
#include "python/enumerations.h"

namespace vok::python::enums {

namespace {

// Python member names of the core enumeration E, in value order.
template <class E> struct MemberNames;

template <> struct MemberNames<Severity> {
    static constexpr const char* const names[] = {
#define VOK_SEVERITY(Name) #Name,
#include "policy/policy_enums.def"
    };
};
template <> struct MemberNames<UnaryOp> {
    static constexpr const char* const names[] = {
#define VOK_UNARY_OP(Name, ...) #Name,
#include "expression/expression_enums.def"
    };
};
template <> struct MemberNames<Quantifier> {
    static constexpr const char* const names[] = {
#define VOK_QUANTIFIER(Name, ...) #Name,
#include "expression/expression_enums.def"
    };
};
template <> struct MemberNames<BinaryOp> {
    static constexpr const char* const names[] = {
#define VOK_BINARY_OP(Name, ...) #Name,
#include "expression/expression_enums.def"
    };
};
template <> struct MemberNames<AggregateFunction> {
    static constexpr const char* const names[] = {
#define VOK_AGGREGATE_FUNCTION(Name, ...) #Name,
#include "expression/expression_enums.def"
    };
};
template <> struct MemberNames<authority::FinalDecision> {
    static constexpr const char* const names[] = {
#define VOK_FINAL_DECISION(Name, ...) #Name,
#include "authority/authority_enums.def"
    };
};
template <> struct MemberNames<authority::PolicyModality> {
    static constexpr const char* const names[] = {
#define VOK_POLICY_MODALITY(Name) #Name,
#include "authority/authority_enums.def"
    };
};
template <> struct MemberNames<authority::SourceClass> {
    static constexpr const char* const names[] = {
#define VOK_SOURCE_CLASS(Name, ...) #Name,
#include "authority/authority_enums.def"
    };
};
template <> struct MemberNames<authority::ClaimLevel> {
    static constexpr const char* const names[] = {
#define VOK_CLAIM_LEVEL(Name) #Name,
#include "authority/authority_enums.def"
    };
};
// clang-format off
#define VOK_PACK_ENUM_BEGIN(Type)                                                                  \
    template <> struct MemberNames<semantic_pack::Type> {                                          \
        static constexpr const char* const names[] = {
#define VOK_PACK_ENUM(Type, Name, json_name) #Name,
#define VOK_PACK_ENUM_END(Type) }; };
#include "semantic_pack/pack_enums.def"
// clang-format on

// The class of the core enumeration E, its members from E's own table.
template <class E>
constexpr EnumerationSpec<E> class_of(const char* name, const char* doc = nullptr) {
    return typed_enumeration<E>(name, MemberNames<E>::names, doc);
}

} // namespace

const EnumerationSpec<Severity> kSeverity =
    class_of<Severity>("Severity", "Severity level for policy violations");
const EnumerationSpec<UnaryOp> kUnaryOp = class_of<UnaryOp>("UnaryOp");
const EnumerationSpec<Quantifier> kQuantifier = class_of<Quantifier>("Quantifier");
const EnumerationSpec<BinaryOp> kBinaryOp = class_of<BinaryOp>("BinaryOp");
const EnumerationSpec<AggregateFunction> kAggregateFunction =
    class_of<AggregateFunction>("AggregateFunction");

const EnumerationSpec<authority::FinalDecision> kFinalDecision =
    class_of<authority::FinalDecision>("FinalDecision");
const EnumerationSpec<authority::PolicyModality> kPolicyModality =
    class_of<authority::PolicyModality>("PolicyModality");
const EnumerationSpec<authority::SourceClass> kSourceClass =
    class_of<authority::SourceClass>("SourceClass");
const EnumerationSpec<authority::ClaimLevel> kClaimLevel =
    class_of<authority::ClaimLevel>("ClaimLevel");

const EnumerationSpec<semantic_pack::SemanticTruth> kSemanticTruth =
    class_of<semantic_pack::SemanticTruth>("SemanticTruth");
const EnumerationSpec<semantic_pack::DiagnosticSeverity> kDiagnosticSeverity =
    class_of<semantic_pack::DiagnosticSeverity>("DiagnosticSeverity");
const EnumerationSpec<semantic_pack::ValidationMode> kValidationMode =
    class_of<semantic_pack::ValidationMode>("ValidationMode");
const EnumerationSpec<semantic_pack::ApprovalState> kApprovalState =
    class_of<semantic_pack::ApprovalState>("ApprovalState");
const EnumerationSpec<semantic_pack::SignatureState> kSignatureState =
    class_of<semantic_pack::SignatureState>("SignatureState");
const EnumerationSpec<semantic_pack::ConceptStatus> kConceptStatus =
    class_of<semantic_pack::ConceptStatus>("ConceptStatus");
const EnumerationSpec<semantic_pack::ConceptKind> kConceptKind =
    class_of<semantic_pack::ConceptKind>("ConceptKind");
const EnumerationSpec<semantic_pack::AliasStatus> kAliasStatus =
    class_of<semantic_pack::AliasStatus>("AliasStatus");
const EnumerationSpec<semantic_pack::SemanticValidationStatus> kSemanticValidationStatus =
    class_of<semantic_pack::SemanticValidationStatus>("SemanticValidationStatus");

} // namespace vok::python::enums
