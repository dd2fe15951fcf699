// The module's eighteen enumeration classes.
//
// Each class stands for one core enumeration and is typed by it (EnumerationSpec<E>), and its
// member names are expanded from the same row list as the core enumeration (the .def file of its
// folder), so a member's position is the core value by construction. Wrappers make a member
// result with `member(enums::kSeverity, core_value)` and read a member argument with
// `args.member(i, enums::kBinaryOp)`; handing a class a value of another enumeration does not
// compile.
#pragma once

#include "authority/enumerations.h"
#include "expression/expression.h"
#include "policy/evaluation_result.h"
#include "python/binding/enumeration.h"
#include "semantic_pack/enumerations.h"

namespace vok::python::enums {

// Policy vocabulary.
extern const EnumerationSpec<Severity> kSeverity;
extern const EnumerationSpec<UnaryOp> kUnaryOp;
extern const EnumerationSpec<Quantifier> kQuantifier;
extern const EnumerationSpec<BinaryOp> kBinaryOp;
extern const EnumerationSpec<AggregateFunction> kAggregateFunction;

// Authority engine.
extern const EnumerationSpec<authority::FinalDecision> kFinalDecision;
extern const EnumerationSpec<authority::PolicyModality> kPolicyModality;
extern const EnumerationSpec<authority::SourceClass> kSourceClass;
extern const EnumerationSpec<authority::ClaimLevel> kClaimLevel;

// Semantic packs.
extern const EnumerationSpec<semantic_pack::SemanticTruth> kSemanticTruth;
extern const EnumerationSpec<semantic_pack::DiagnosticSeverity> kDiagnosticSeverity;
extern const EnumerationSpec<semantic_pack::ValidationMode> kValidationMode;
extern const EnumerationSpec<semantic_pack::ApprovalState> kApprovalState;
extern const EnumerationSpec<semantic_pack::SignatureState> kSignatureState;
extern const EnumerationSpec<semantic_pack::ConceptStatus> kConceptStatus;
extern const EnumerationSpec<semantic_pack::ConceptKind> kConceptKind;
extern const EnumerationSpec<semantic_pack::AliasStatus> kAliasStatus;
extern const EnumerationSpec<semantic_pack::SemanticValidationStatus> kSemanticValidationStatus;

} // namespace vok::python::enums
