// The enumerations of the semantic-pack documents and their JSON names.
//
// Every enumeration is stored as its position and written as its snake_case JSON name; reading
// accepts the bare name or a one-key object whose value is null, compares names byte for byte and
// refuses any other name with the reader's unknown-variant message listing the names in order.
// `EnumNames<E>::names` is the one table per enumeration that both directions use, so a name can
// never be written that could not be read back.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

#include "common/invariant.h"
#include "common/result.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::semantic_pack {

enum class ApprovalState : uint8_t { Candidate, Approved, Rejected };
enum class SignatureState : uint8_t { Unsigned, Signed, InvalidSignature };
enum class ConceptStatus : uint8_t { Active, Proposed, Deprecated, Rejected, ExternalOnly };
enum class ConceptKind : uint8_t {
    Entity,
    Resource,
    Role,
    Flow,
    Policy,
    Metric,
    Dimension,
    Unit,
    External
};
// The position is also the alias's rank in the canonical order of a pack.
enum class AliasStatus : uint8_t { Approved, Deprecated, Ambiguous, Blocked };
enum class ReviewDecision : uint8_t {
    Approve,
    Reject,
    Deprecate,
    MergeInto,
    SplitRequired,
    NeedsDefinition,
    NeedsOwner,
    MinorAmendmentNoSemanticChange
};
enum class ValidationMode : uint8_t { Off, Warn, Strict };
enum class UnknownConceptPolicy : uint8_t { Ignore, Warning, Error };
enum class DeprecatedConceptPolicy : uint8_t { Allow, Warn, ErrorInStrict, ErrorAlways };
enum class SemanticValidationStatus : uint8_t { Passed, Failed, Unknown, Blocked };
enum class DiagnosticSeverity : uint8_t { Error, Warning, Info, Hint };
enum class SemanticTruth : uint8_t { Valid, Invalid, Unknown };
enum class DiagnosticCode : uint8_t {
    UnknownConcept,
    DeprecatedConcept,
    AmbiguousConcept,
    AmbiguousAlias,
    AliasConflict,
    RejectedConcept,
    ProposedConcept,
    InvalidRelation,
    InvalidPredicate,
    UnknownMetric,
    UnknownDimension,
    UnknownUnit,
    UnitMismatch,
    DimensionMismatch,
    MissingDefinition,
    MissingOwner,
    DuplicateCanonicalName,
    DuplicateConceptId,
    UnreviewedConcept,
    PackUnavailable,
    PackSchemaMismatch,
    PackVersionMismatch,
    PackHashMismatch,
    PackUnsigned,
    PackSignatureInvalid,
    PackSetConflict,
    MappingRequired,
    MeaningVersionNotBumped,
    MeaningVersionBaselineMissing,
    AmbiguousAliasGroup
};
// The classes of a pack diff, in value order (their sort rank is a separate table).
enum class DiffClassification : uint8_t {
    Additive,
    DefinitionalChange,
    Deprecating,
    Breaking,
    GovernanceCritical,
    SignatureOnly
};

// JSON names of each enumeration, indexed by position.
template <class E> struct EnumNames;

#define VOK_PACK_ENUM_NAMES(E, ...)                                                                \
    template <> struct EnumNames<E> { static constexpr std::string_view names[] = {__VA_ARGS__}; }

VOK_PACK_ENUM_NAMES(ApprovalState, "candidate", "approved", "rejected");
VOK_PACK_ENUM_NAMES(SignatureState, "unsigned", "signed", "invalid_signature");
VOK_PACK_ENUM_NAMES(ConceptStatus, "active", "proposed", "deprecated", "rejected", "external_only");
VOK_PACK_ENUM_NAMES(ConceptKind, "entity", "resource", "role", "flow", "policy", "metric",
                    "dimension", "unit", "external");
VOK_PACK_ENUM_NAMES(AliasStatus, "approved", "deprecated", "ambiguous", "blocked");
VOK_PACK_ENUM_NAMES(ReviewDecision, "approve", "reject", "deprecate", "merge_into",
                    "split_required", "needs_definition", "needs_owner",
                    "minor_amendment_no_semantic_change");
VOK_PACK_ENUM_NAMES(ValidationMode, "off", "warn", "strict");
VOK_PACK_ENUM_NAMES(UnknownConceptPolicy, "ignore", "warning", "error");
VOK_PACK_ENUM_NAMES(DeprecatedConceptPolicy, "allow", "warn", "error_in_strict", "error_always");
VOK_PACK_ENUM_NAMES(SemanticValidationStatus, "passed", "failed", "unknown", "blocked");
VOK_PACK_ENUM_NAMES(DiagnosticSeverity, "error", "warning", "info", "hint");
VOK_PACK_ENUM_NAMES(SemanticTruth, "valid", "invalid", "unknown");
VOK_PACK_ENUM_NAMES(DiagnosticCode, "unknown_concept", "deprecated_concept", "ambiguous_concept",
                    "ambiguous_alias", "alias_conflict", "rejected_concept", "proposed_concept",
                    "invalid_relation", "invalid_predicate", "unknown_metric", "unknown_dimension",
                    "unknown_unit", "unit_mismatch", "dimension_mismatch", "missing_definition",
                    "missing_owner", "duplicate_canonical_name", "duplicate_concept_id",
                    "unreviewed_concept", "pack_unavailable", "pack_schema_mismatch",
                    "pack_version_mismatch", "pack_hash_mismatch", "pack_unsigned",
                    "pack_signature_invalid", "pack_set_conflict", "mapping_required",
                    "meaning_version_not_bumped", "meaning_version_baseline_missing",
                    "ambiguous_alias_group");
VOK_PACK_ENUM_NAMES(DiffClassification, "additive", "definitional_change", "deprecating",
                    "breaking", "governance_critical", "signature_only");

#undef VOK_PACK_ENUM_NAMES

template <class E> constexpr size_t enum_count() {
    return std::size(EnumNames<E>::names);
}

// The JSON name of a value. A value outside the table is a broken invariant.
template <class E> std::string_view json_name(E value) {
    const auto index = static_cast<size_t>(value);
    VOK_INVARIANT(index < enum_count<E>(), "enumeration value out of range");
    return EnumNames<E>::names[index];
}

// Reads one value by its JSON name.
template <class E> Result<E, json::Error> read_enum(json::Deserializer& de) {
    VOK_ASSIGN(size_t index, json::read_unit_enum(de, EnumNames<E>::names));
    return static_cast<E>(index);
}

// The JSON value of a concept status: its name as a string.
json::Value as_json(ConceptStatus status);

} // namespace vok::semantic_pack
