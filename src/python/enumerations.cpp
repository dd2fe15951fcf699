// Member tables of the enumeration classes, in value order; see enumerations.h.
//
// The classes that mirror a core enumeration expand their members from the core's definition
// list, so a member's position is the core value by construction. The others have no core
// enumeration yet; when one arrives, its table here becomes an expansion of its list.
#include "python/enumerations.h"

#include "python/binding/enumeration.h"

namespace vok::python::enums {

namespace {

const char* const kSeverityMembers[] = {"Error", "Warning", "Info"};
const char* const kUnaryOpMembers[] = {
#define VOK_UNARY_OP(Name, ...) #Name,
#include "expression/expression_enums.def"
};
const char* const kQuantifierMembers[] = {
#define VOK_QUANTIFIER(Name, ...) #Name,
#include "expression/expression_enums.def"
};
const char* const kBinaryOpMembers[] = {
#define VOK_BINARY_OP(Name, ...) #Name,
#include "expression/expression_enums.def"
};
const char* const kAggregateFunctionMembers[] = {
#define VOK_AGGREGATE_FUNCTION(Name, ...) #Name,
#include "expression/expression_enums.def"
};

const char* const kFinalDecisionMembers[] = {
#define VOK_FINAL_DECISION(Name, ...) #Name,
#include "authority/authority_enums.def"
};
const char* const kPolicyModalityMembers[] = {
#define VOK_POLICY_MODALITY(Name) #Name,
#include "authority/authority_enums.def"
};
const char* const kSourceClassMembers[] = {
#define VOK_SOURCE_CLASS(Name, ...) #Name,
#include "authority/authority_enums.def"
};
const char* const kClaimLevelMembers[] = {
#define VOK_CLAIM_LEVEL(Name) #Name,
#include "authority/authority_enums.def"
};

const char* const kSemanticTruthMembers[] = {"Valid", "Invalid", "Unknown"};
const char* const kDiagnosticSeverityMembers[] = {"Error", "Warning", "Info", "Hint"};
const char* const kValidationModeMembers[] = {"Off", "Warn", "Strict"};
const char* const kApprovalStateMembers[] = {"Candidate", "Approved", "Rejected"};
const char* const kSignatureStateMembers[] = {"Unsigned", "Signed", "InvalidSignature"};
const char* const kConceptStatusMembers[] = {"Active", "Proposed", "Deprecated", "Rejected",
                                             "ExternalOnly"};
const char* const kConceptKindMembers[] = {"Entity", "Resource",  "Role", "Flow",    "Policy",
                                           "Metric", "Dimension", "Unit", "External"};
const char* const kAliasStatusMembers[] = {"Approved", "Deprecated", "Ambiguous", "Blocked"};
const char* const kSemanticValidationStatusMembers[] = {"Passed", "Failed", "Unknown", "Blocked"};

} // namespace

const ClassSpec kSeverity =
    enumeration("Severity", kSeverityMembers, "Severity level for policy violations");
const ClassSpec kUnaryOp = enumeration("UnaryOp", kUnaryOpMembers);
const ClassSpec kQuantifier = enumeration("Quantifier", kQuantifierMembers);
const ClassSpec kBinaryOp = enumeration("BinaryOp", kBinaryOpMembers);
const ClassSpec kAggregateFunction = enumeration("AggregateFunction", kAggregateFunctionMembers);

const ClassSpec kFinalDecision = enumeration("FinalDecision", kFinalDecisionMembers);
const ClassSpec kPolicyModality = enumeration("PolicyModality", kPolicyModalityMembers);
const ClassSpec kSourceClass = enumeration("SourceClass", kSourceClassMembers);
const ClassSpec kClaimLevel = enumeration("ClaimLevel", kClaimLevelMembers);

const ClassSpec kSemanticTruth = enumeration("SemanticTruth", kSemanticTruthMembers);
const ClassSpec kDiagnosticSeverity = enumeration("DiagnosticSeverity", kDiagnosticSeverityMembers);
const ClassSpec kValidationMode = enumeration("ValidationMode", kValidationModeMembers);
const ClassSpec kApprovalState = enumeration("ApprovalState", kApprovalStateMembers);
const ClassSpec kSignatureState = enumeration("SignatureState", kSignatureStateMembers);
const ClassSpec kConceptStatus = enumeration("ConceptStatus", kConceptStatusMembers);
const ClassSpec kConceptKind = enumeration("ConceptKind", kConceptKindMembers);
const ClassSpec kAliasStatus = enumeration("AliasStatus", kAliasStatusMembers);
const ClassSpec kSemanticValidationStatus =
    enumeration("SemanticValidationStatus", kSemanticValidationStatusMembers);

} // namespace vok::python::enums
