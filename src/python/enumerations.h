// The module's eighteen enumeration classes.
//
// Each is a table of member names in value order, read by the one enumeration implementation of
// the binding layer (binding/enumeration.h). Wrappers make a member result with
// `member(enums::kSeverity, core_value)` and read a member argument with
// `args.member<CoreEnum>(i, enums::kSeverity)`; both rely on the core enumeration's values being
// the member positions.
#pragma once

#include "python/binding/class_spec.h"

namespace vok::python::enums {

// Policy vocabulary.
extern const ClassSpec kSeverity;
extern const ClassSpec kUnaryOp;
extern const ClassSpec kQuantifier;
extern const ClassSpec kBinaryOp;
extern const ClassSpec kAggregateFunction;

// Authority engine.
extern const ClassSpec kFinalDecision;
extern const ClassSpec kPolicyModality;
extern const ClassSpec kSourceClass;
extern const ClassSpec kClaimLevel;

// Semantic packs.
extern const ClassSpec kSemanticTruth;
extern const ClassSpec kDiagnosticSeverity;
extern const ClassSpec kValidationMode;
extern const ClassSpec kApprovalState;
extern const ClassSpec kSignatureState;
extern const ClassSpec kConceptStatus;
extern const ClassSpec kConceptKind;
extern const ClassSpec kAliasStatus;
extern const ClassSpec kSemanticValidationStatus;

} // namespace vok::python::enums
