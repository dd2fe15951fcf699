// Pack validation; the definitions behind pack_validation.h. The pack is only read and the
// findings are built apart, so every check polls for cancellation per record.
#include "semantic_pack/pack_validation.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "common/cancellation.h"
#include "semantic_pack/canonical_json.h"
#include "semantic_pack/lookup_key.h"

namespace vok::semantic_pack {

namespace {

// Every diagnostic of the checks points at the pack as a whole and names it by one reference.
class Findings {
public:
    Findings(const SemanticPack& pack, PackRef ref)
        : source_ref_(pack_source_ref(pack.pack_id)), ref_(std::move(ref)) {}

    void raise(DiagnosticCode code, DiagnosticSeverity severity, SemanticTruth truth,
               std::string message, std::string_view remedy) {
        list_.push_back(SemanticDiagnostic{
            code, severity, truth, std::move(message), source_ref_, ref_, {}, std::string(remedy)});
    }
    void error(DiagnosticCode code, std::string message, std::string_view remedy) {
        raise(code, DiagnosticSeverity::Error, SemanticTruth::Invalid, std::move(message), remedy);
    }
    void warning(DiagnosticCode code, std::string message, std::string_view remedy) {
        raise(code, DiagnosticSeverity::Warning, SemanticTruth::Unknown, std::move(message),
              remedy);
    }

    std::vector<SemanticDiagnostic> take() { return std::move(list_); }

private:
    SourceRef source_ref_;
    PackRef ref_;
    std::vector<SemanticDiagnostic> list_;
};

// Joins the pieces of a message; the quoted values are inserted as the pack gives them.
template <class... Pieces> std::string text(const Pieces&... pieces) {
    std::string out;
    (out.append(std::string_view(pieces)), ...);
    return out;
}

void check_concepts(const SemanticPack& pack, Findings& findings) {
    std::unordered_set<std::string_view> seen;
    seen.reserve(pack.concepts.size());
    for (const ConceptDef& c : pack.concepts) {
        poll_cancellation();
        if (!seen.insert(c.id).second) {
            findings.error(DiagnosticCode::DuplicateConceptId,
                           text("Duplicate concept ID: '", c.id, "'"),
                           "Rename one of the duplicate concepts");
        }
    }

    std::unordered_map<std::string, std::string_view> first_by_key;
    first_by_key.reserve(pack.concepts.size());
    for (const ConceptDef& c : pack.concepts) {
        poll_cancellation();
        auto [it, added] = first_by_key.try_emplace(normalize_key(c.canonical_name), c.id);
        if (!added && it->second != c.id) {
            findings.error(DiagnosticCode::DuplicateCanonicalName,
                           text("Duplicate canonical name '", c.canonical_name, "' targets '",
                                it->second, "' and '", c.id, "'"),
                           "Ensure canonical names are unique");
        }
    }

    // Proposed concepts are held to the same standard and share the wording.
    for (const ConceptDef& c : pack.concepts) {
        poll_cancellation();
        if (c.status != ConceptStatus::Active && c.status != ConceptStatus::Proposed) continue;
        if (c.definition.text.empty()) {
            findings.warning(DiagnosticCode::MissingDefinition,
                             text("Active concept '", c.id, "' has no definition"),
                             "Add a definition text");
        }
        if (c.owner.empty()) {
            findings.warning(DiagnosticCode::MissingOwner,
                             text("Active concept '", c.id, "' has no owner"), "Assign an owner");
        }
    }
}

void check_references(const SemanticPack& pack, Findings& findings) {
    std::unordered_set<std::string_view> concept_ids;
    concept_ids.reserve(pack.concepts.size());
    for (const ConceptDef& c : pack.concepts) {
        poll_cancellation();
        concept_ids.insert(c.id);
    }

    for (const AliasDef& alias : pack.aliases) {
        poll_cancellation();
        if (!concept_ids.contains(alias.target_concept_id)) {
            findings.error(DiagnosticCode::UnknownConcept,
                           text("Alias '", alias.alias, "' targets unknown concept '",
                                alias.target_concept_id, "'"),
                           "Add the target concept or fix the alias");
        }
    }
    for (const RelationDef& relation : pack.relations) {
        poll_cancellation();
        if (!concept_ids.contains(relation.subject_id)) {
            findings.error(DiagnosticCode::InvalidRelation,
                           text("Relation '", relation.id, "' references unknown subject '",
                                relation.subject_id, "'"),
                           "Add the missing concept or fix the relation");
        }
        if (!concept_ids.contains(relation.object_id)) {
            findings.error(DiagnosticCode::InvalidRelation,
                           text("Relation '", relation.id, "' references unknown object '",
                                relation.object_id, "'"),
                           "Add the missing concept or fix the relation");
        }
    }

    std::unordered_set<std::string_view> dimension_ids;
    dimension_ids.reserve(pack.dimensions.size());
    for (const DimensionDef& d : pack.dimensions)
        dimension_ids.insert(d.id);
    std::unordered_set<std::string_view> unit_ids;
    unit_ids.reserve(pack.units.size());
    for (const UnitDef& u : pack.units)
        unit_ids.insert(u.id);

    for (const MetricDef& metric : pack.metrics) {
        poll_cancellation();
        if (metric.dimension_id && !dimension_ids.contains(*metric.dimension_id)) {
            findings.warning(DiagnosticCode::UnknownDimension,
                             text("Metric '", metric.id, "' references unknown dimension '",
                                  *metric.dimension_id, "'"),
                             "Add the missing dimension");
        }
        if (metric.unit_id && !unit_ids.contains(*metric.unit_id)) {
            findings.warning(
                DiagnosticCode::UnknownUnit,
                text("Metric '", metric.id, "' references unknown unit '", *metric.unit_id, "'"),
                "Add the missing unit");
        }
    }
}

std::vector<SemanticDiagnostic> structure_findings(const SemanticPack& pack, const PackRef& ref) {
    Findings findings(pack, ref);
    if (pack.schema_version != kPackSchemaVersion) {
        findings.error(DiagnosticCode::PackSchemaMismatch,
                       text("Expected schema_version '", kPackSchemaVersion, "', got '",
                            pack.schema_version, "'"),
                       text("Update schema_version to ", kPackSchemaVersion));
    }
    check_concepts(pack, findings);
    check_references(pack, findings);
    return findings.take();
}

SemanticValidationStatus status_of(const std::vector<SemanticDiagnostic>& diagnostics,
                                   ValidationMode mode) {
    if (mode == ValidationMode::Off) return SemanticValidationStatus::Passed;
    const auto has = [&](auto predicate) {
        return std::any_of(diagnostics.begin(), diagnostics.end(), predicate);
    };
    if (has([](const SemanticDiagnostic& d) { return d.severity == DiagnosticSeverity::Error; }))
        return SemanticValidationStatus::Failed;
    if (has([](const SemanticDiagnostic& d) {
            return d.semantic_truth == SemanticTruth::Unknown;
        })) {
        return mode == ValidationMode::Strict ? SemanticValidationStatus::Failed
                                              : SemanticValidationStatus::Unknown;
    }
    return SemanticValidationStatus::Passed;
}

std::string input_hash(std::string_view pack_id, std::string_view source) {
    std::vector<json::Object::Entry> entries;
    entries.emplace_back("pack_id", json::Value(pack_id));
    entries.emplace_back("source_uri", json::Value(source));
    return canonical_json_hash(
        json::Value(json::Object::from_sorted_unique_entries(std::move(entries))));
}

SemanticValidationResult validate_with_ref(const SemanticPack& pack, std::string_view source,
                                           const ValidationOptions& options, const PackRef& ref) {
    SemanticValidationResult result = SemanticValidationResult::fresh(ref, options.mode);

    // The declared state is trusted as written: without a key nothing can be verified here.
    if (options.require_signed_pack && pack.trust.signature_state != SignatureState::Signed &&
        !options.allow_unsigned_test_fixtures) {
        result.status = SemanticValidationStatus::Blocked;
        Findings findings(pack, ref);
        findings.error(DiagnosticCode::PackUnsigned,
                       text("Pack '", pack.pack_id, "' is unsigned but signature is required"),
                       "Sign the pack or use --allow-unsigned-for-test-fixtures");
        result.diagnostics = findings.take();
        return result;
    }

    result.diagnostics = structure_findings(pack, ref);
    std::stable_sort(result.diagnostics.begin(), result.diagnostics.end(),
                     [](const SemanticDiagnostic& a, const SemanticDiagnostic& b) {
                         poll_cancellation();
                         return diagnostic_less(a, b);
                     });
    for (SemanticDiagnostic& d : result.diagnostics)
        std::stable_sort(d.suggestions.begin(), d.suggestions.end(), suggestion_less);
    result.status = status_of(result.diagnostics, options.mode);
    result.input_hash = input_hash(pack.pack_id, source);
    result.unsigned_fixture_bypass_used = options.allow_unsigned_test_fixtures;
    return result;
}

// The reference of a pack whose content hash is filled in later, once the pack has been used in
// document order and may be put into its hashed form in place.
PackRef ref_awaiting_hash(const SemanticPack& pack) {
    return PackRef{pack.pack_id, "", "pack://" + pack.pack_id, 0};
}

void fill_in_hash(std::vector<SemanticDiagnostic>& diagnostics, const std::string& hash) {
    for (SemanticDiagnostic& d : diagnostics)
        d.pack_ref.pack_content_hash = hash;
}

} // namespace

std::vector<SemanticDiagnostic> validate_pack_structure(const SemanticPack& pack) {
    return structure_findings(pack, PackRef::for_pack(pack));
}

std::vector<SemanticDiagnostic> validate_pack_structure(SemanticPack&& pack) {
    std::vector<SemanticDiagnostic> diagnostics = structure_findings(pack, ref_awaiting_hash(pack));
    fill_in_hash(diagnostics, content_hash_of(std::move(pack)));
    return diagnostics;
}

SemanticValidationResult validate_graph_with_pack(const SemanticPack& pack, std::string_view source,
                                                  const ValidationOptions& options) {
    return validate_with_ref(pack, source, options, PackRef::for_pack(pack));
}

SemanticValidationResult validate_graph_with_pack(SemanticPack&& pack, std::string_view source,
                                                  const ValidationOptions& options) {
    SemanticValidationResult result =
        validate_with_ref(pack, source, options, ref_awaiting_hash(pack));
    const std::string hash = content_hash_of(std::move(pack));
    fill_in_hash(result.diagnostics, hash);
    result.pack_set_ref.merged_pack_hash = hash;
    result.pack_set_ref.pack_refs.front().pack_content_hash = hash;
    return result;
}

std::string diagnostics_json(const std::vector<SemanticDiagnostic>& diagnostics) {
    std::string out;
    RecordWriter w(out, RecordWriter::KeyOrder::Document);
    record_detail::write_value(w, diagnostics);
    return out;
}

} // namespace vok::semantic_pack
