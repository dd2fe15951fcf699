// Building a semantic pack from reviewed input; the definitions behind build_pack.h. The build
// owns its input and returns a new pack, so every check, hash and sort polls for cancellation.
#include "semantic_pack/build_pack.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/cancellation.h"
#include "crypto/sha256.h"
#include "semantic_pack/canonical_json.h"
#include "semantic_pack/lookup_key.h"
#include "semantic_pack/meaning_version.h"
#include "json/writer.h"

namespace vok::semantic_pack {

namespace {

// A JSON array of the texts in ascending byte order, as canonical JSON writes it.
void write_sorted_texts(std::string& out, std::vector<std::string_view> texts) {
    std::sort(texts.begin(), texts.end());
    out.push_back('[');
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) out.push_back(',');
        json::append_quoted(out, texts[i]);
    }
    out.push_back(']');
}

std::vector<std::string_view> views(const std::vector<std::string>& texts) {
    return {texts.begin(), texts.end()};
}

// The records in ascending byte order of one text field, equal ones in their given order; the
// records themselves stay where they are.
template <class R>
std::vector<const R*> stably_ordered(const std::vector<R>& records, std::string R::*field) {
    std::vector<const R*> ordered;
    ordered.reserve(records.size());
    for (const R& r : records) {
        poll_cancellation();
        ordered.push_back(&r);
    }
    const auto less = [field](const R* a, const R* b) {
        poll_cancellation();
        return a->*field < b->*field;
    };
    if (std::is_sorted(ordered.begin(), ordered.end(), less)) return ordered;
    std::stable_sort(ordered.begin(), ordered.end(), less);
    return ordered;
}

bool is_approving(ReviewDecision decision) {
    return decision == ReviewDecision::Approve ||
           decision == ReviewDecision::MinorAmendmentNoSemanticChange;
}

// Collects the findings of one build, each pointing at the pack as a whole.
class Findings {
public:
    explicit Findings(const std::string& pack_id)
        : source_ref_(pack_source_ref(pack_id)), pack_ref_{pack_id, "", "", 0} {}

    void add(DiagnosticCode code, DiagnosticSeverity severity, SemanticTruth truth,
             std::string message, std::string_view remedy) {
        main.push_back(make(code, severity, truth, std::move(message), remedy, pack_ref_));
    }
    void add_alias_group_warning(std::string message) {
        alias_group_warnings.push_back(make(DiagnosticCode::AmbiguousAliasGroup,
                                            DiagnosticSeverity::Warning, SemanticTruth::Unknown,
                                            std::move(message), "", pack_ref_));
    }
    // The version checks run once the pack is assembled and name it with its content hash.
    void add_final(const PackRef& final_ref, DiagnosticCode code, SemanticTruth truth,
                   std::string message, std::string_view remedy) {
        main.push_back(
            make(code, DiagnosticSeverity::Error, truth, std::move(message), remedy, final_ref));
    }
    bool has_error() const {
        return std::any_of(main.begin(), main.end(), [](const SemanticDiagnostic& d) {
            return d.severity == DiagnosticSeverity::Error;
        });
    }

    std::vector<SemanticDiagnostic> main;
    std::vector<SemanticDiagnostic> alias_group_warnings;

private:
    SemanticDiagnostic make(DiagnosticCode code, DiagnosticSeverity severity, SemanticTruth truth,
                            std::string message, std::string_view remedy,
                            const PackRef& pack_ref) const {
        SemanticDiagnostic d;
        d.code = code;
        d.severity = severity;
        d.semantic_truth = truth;
        d.message = std::move(message);
        d.source_ref = source_ref_;
        d.pack_ref = pack_ref;
        d.recoverability_hint = std::string(remedy);
        return d;
    }

    SourceRef source_ref_;
    PackRef pack_ref_;
};

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

void check_concept_ids(const std::vector<ConceptDef>& concepts, Findings& findings) {
    std::unordered_set<std::string_view> seen;
    seen.reserve(concepts.size());
    for (const ConceptDef& c : concepts) {
        poll_cancellation();
        if (!seen.insert(c.id).second) {
            findings.add(DiagnosticCode::DuplicateConceptId, DiagnosticSeverity::Error,
                         SemanticTruth::Invalid, "Duplicate concept ID: " + quoted(c.id),
                         "Rename duplicate concepts");
        }
    }
}

void check_canonical_names(const std::vector<ConceptDef>& concepts, Findings& findings) {
    std::unordered_map<std::string, std::string_view> first_id_by_key;
    first_id_by_key.reserve(concepts.size());
    for (const ConceptDef& c : concepts) {
        poll_cancellation();
        auto [it, inserted] = first_id_by_key.try_emplace(normalize_key(c.canonical_name), c.id);
        if (!inserted && it->second != c.id) {
            findings.add(DiagnosticCode::DuplicateCanonicalName, DiagnosticSeverity::Error,
                         SemanticTruth::Invalid,
                         "Duplicate canonical name " + quoted(c.canonical_name) + " for concepts " +
                             quoted(it->second) + " and " + quoted(c.id),
                         "Ensure canonical names are unique");
        }
    }
}

void check_definitions_and_owners(const std::vector<ConceptDef>& concepts, Findings& findings) {
    for (const ConceptDef& c : concepts) {
        poll_cancellation();
        if (c.status == ConceptStatus::Active && c.definition.text.empty()) {
            findings.add(DiagnosticCode::MissingDefinition, DiagnosticSeverity::Warning,
                         SemanticTruth::Unknown,
                         "Active concept " + quoted(c.id) + " missing definition",
                         "Add definition text");
        }
    }
    for (const ConceptDef& c : concepts) {
        poll_cancellation();
        if (c.status == ConceptStatus::Active && c.owner.empty()) {
            findings.add(DiagnosticCode::MissingOwner, DiagnosticSeverity::Warning,
                         SemanticTruth::Unknown,
                         "Active concept " + quoted(c.id) + " missing owner", "Assign an owner");
        }
    }
}

void check_alias_targets(const std::vector<ConceptDef>& concepts,
                         const std::vector<AliasDef>& aliases, Findings& findings) {
    std::unordered_set<std::string_view> ids;
    ids.reserve(concepts.size());
    for (const ConceptDef& c : concepts) {
        poll_cancellation();
        ids.insert(c.id);
    }
    for (const AliasDef& a : aliases) {
        poll_cancellation();
        if (!ids.contains(a.target_concept_id)) {
            findings.add(DiagnosticCode::UnknownConcept, DiagnosticSeverity::Error,
                         SemanticTruth::Invalid,
                         "Alias " + quoted(a.alias) + " targets missing concept " +
                             quoted(a.target_concept_id),
                         "Add the target concept");
        }
    }
}

// Groups by the key the input supplies, visited in the input order of each group's first alias.
void check_alias_groups(const std::vector<AliasDef>& aliases, Findings& findings) {
    std::unordered_map<std::string_view, size_t> group_of_key;
    std::vector<std::vector<const AliasDef*>> groups;
    group_of_key.reserve(aliases.size());
    for (const AliasDef& a : aliases) {
        poll_cancellation();
        auto [it, inserted] = group_of_key.try_emplace(a.normalized_alias, groups.size());
        if (inserted) groups.emplace_back();
        groups[it->second].push_back(&a);
    }
    for (const auto& group : groups) {
        poll_cancellation();
        const AliasDef* first = nullptr;
        bool several_targets = false;
        bool binding = false; // some member is approved or deprecated
        for (const AliasDef* a : group) {
            if (a->status == AliasStatus::Blocked) continue;
            if (first == nullptr)
                first = a;
            else if (a->target_concept_id != first->target_concept_id)
                several_targets = true;
            if (a->status == AliasStatus::Approved || a->status == AliasStatus::Deprecated)
                binding = true;
        }
        if (!several_targets) continue;
        const std::string& key = group.front()->normalized_alias;
        if (binding) {
            findings.add(DiagnosticCode::AliasConflict, DiagnosticSeverity::Error,
                         SemanticTruth::Invalid,
                         "Alias conflict for key " + quoted(key) +
                             ": multiple targets through approved/deprecated entries",
                         "Resolve conflicting aliases");
        } else {
            findings.add_alias_group_warning("Ambiguous-only alias group for key " + quoted(key));
        }
    }
}

void check_review_approval(const std::vector<ConceptDef>& concepts,
                           const std::vector<ReviewRecord>& records, Findings& findings) {
    std::unordered_set<std::string_view> approved;
    for (const ReviewRecord& r : records) {
        poll_cancellation();
        if (is_approving(r.decision)) approved.insert(r.subject_id);
    }
    for (const ConceptDef& c : concepts) {
        poll_cancellation();
        if (c.status == ConceptStatus::Active && !approved.contains(c.id)) {
            findings.add(DiagnosticCode::UnreviewedConcept, DiagnosticSeverity::Error,
                         SemanticTruth::Unknown,
                         "Concept " + quoted(c.id) + " lacks review approval",
                         "Add review decision for this concept");
        }
    }
}

// `hashes[i]` is the definition hash concept i will carry: the supplied one, or the computed one
// when none was supplied, so an empty supplied hash cannot slip past the review.
void check_reviewed_definitions(const std::vector<ConceptDef>& concepts,
                                const std::vector<std::string>& hashes,
                                const std::vector<ReviewRecord>& records, Findings& findings) {
    // The latest record of each subject: the greatest decision_id, the last of equal ones.
    std::unordered_map<std::string_view, const ReviewRecord*> latest;
    latest.reserve(records.size());
    for (const ReviewRecord& r : records) {
        poll_cancellation();
        auto [it, inserted] = latest.try_emplace(r.subject_id, &r);
        if (!inserted && it->second->decision_id <= r.decision_id) it->second = &r;
    }
    for (size_t i = 0; i < concepts.size(); ++i) {
        poll_cancellation();
        const ConceptDef& c = concepts[i];
        auto it = latest.find(c.id);
        if (it == latest.end()) continue;
        const ReviewRecord& r = *it->second;
        const std::string& current = hashes[i];
        if (r.definition_hash == current) continue;
        const bool amended = r.decision == ReviewDecision::MinorAmendmentNoSemanticChange &&
                             r.previous_definition_hash && r.new_definition_hash &&
                             *r.previous_definition_hash == r.definition_hash &&
                             *r.new_definition_hash == current;
        if (amended) continue;
        findings.add(DiagnosticCode::UnreviewedConcept, DiagnosticSeverity::Error,
                     SemanticTruth::Unknown,
                     "Definition hash mismatch for " + quoted(c.id) +
                         ": reviewed=" + quoted(r.definition_hash) + ", current=" + quoted(current),
                     "Re-review or record minor_amendment_no_semantic_change");
    }
}

void check_meaning_version(const PackBuildInput& input, const SemanticPack& pack,
                           const PackRef& final_ref, Findings& findings) {
    if (input.previous_pack) {
        const SemanticPack& previous = *input.previous_pack;
        if (previous.meaning_fingerprint == pack.meaning_fingerprint) return;
        const int comparison =
            compare_meaning_versions(previous.meaning_version, pack.meaning_version);
        if (comparison == kVersionInvalid) {
            findings.add_final(
                final_ref, DiagnosticCode::MeaningVersionNotBumped, SemanticTruth::Invalid,
                "Invalid version format: meaning_version " + quoted(pack.meaning_version) +
                    " or previous meaning_version " + quoted(previous.meaning_version) +
                    " contains non-numeric segments",
                "Use numeric-only version format (e.g., MAJOR.MINOR.PATCH)");
        } else if (comparison == kVersionNotIncreased) {
            findings.add_final(
                final_ref, DiagnosticCode::MeaningVersionNotBumped, SemanticTruth::Invalid,
                "meaning_fingerprint changed but meaning_version " + quoted(pack.meaning_version) +
                    " did not increase from " + quoted(previous.meaning_version),
                "Bump meaning_version (MAJOR.MINOR.PATCH)");
        }
    } else if (input.approval == ApprovalState::Approved && !input.allow_first_approved_version) {
        findings.add_final(final_ref, DiagnosticCode::MeaningVersionBaselineMissing,
                           SemanticTruth::Unknown,
                           "No previous pack provided for approved build; use "
                           "--allow-first-approved-version for initial pack",
                           "Provide --previous-pack or --allow-first-approved-version");
    }
}

} // namespace

std::string definition_hash(const ConceptDef& concept_def) {
    std::string text = "{\"counterexamples\":";
    write_sorted_texts(text, views(concept_def.counterexamples));
    text += ",\"examples\":";
    write_sorted_texts(text, views(concept_def.examples));
    text += ",\"status\":";
    json::append_quoted(text, json_name(concept_def.status));
    text += ",\"text\":";
    json::append_quoted(text, concept_def.definition.text);
    text.push_back('}');
    return crypto::sha256_hex(text);
}

std::string meaning_fingerprint(const std::vector<ConceptDef>& concepts) {
    const auto ordered = stably_ordered(concepts, &ConceptDef::id);
    crypto::Sha256 sha;
    std::string text = "[";
    for (size_t i = 0; i < ordered.size(); ++i) {
        poll_cancellation();
        const ConceptDef& c = *ordered[i];
        if (i > 0) text.push_back(',');
        text += "{\"decision_ref\":";
        json::append_quoted(text, c.definition.decision_ref);
        text += ",\"definition_hash\":";
        json::append_quoted(text, c.definition.definition_hash);
        text += ",\"status\":";
        json::append_quoted(text, json_name(c.status));
        text += ",\"subject_id\":";
        json::append_quoted(text, c.id);
        text += ",\"subject_type\":\"concept\"}";
        if (text.size() >= 64 * 1024) {
            sha.update(text);
            text.clear();
        }
    }
    text.push_back(']');
    sha.update(text);
    return sha.finish_hex();
}

std::string review_manifest_hash(const std::vector<ReviewRecord>& records) {
    const auto ordered = stably_ordered(records, &ReviewRecord::decision_id);
    crypto::Sha256 sha;
    std::string text = "[";
    RecordWriter w(text, RecordWriter::KeyOrder::Document, &sha);
    for (size_t i = 0; i < ordered.size(); ++i) {
        poll_cancellation();
        if (i > 0) w.raw(',');
        write_json(w, *ordered[i]);
        w.flush_if_large();
    }
    w.raw(']');
    w.flush();
    return sha.finish_hex();
}

std::string build_config_hash() {
    return crypto::sha256_hex("{}");
}

PackBuildResult build_pack(PackBuildInput input, BuildClock clock) {
    const bool approved = input.approval == ApprovalState::Approved;
    const std::string pack_id = input.org_id + "/" + input.domain_id + "/" + input.pack_version;
    Findings findings(pack_id);

    check_concept_ids(input.concepts, findings);
    check_canonical_names(input.concepts, findings);
    check_definitions_and_owners(input.concepts, findings);
    check_alias_targets(input.concepts, input.aliases, findings);
    check_alias_groups(input.aliases, findings);

    // The hash each concept ends up with; computed once, before the review checks compare it.
    std::vector<std::string> hashes;
    hashes.reserve(input.concepts.size());
    for (const ConceptDef& c : input.concepts) {
        poll_cancellation();
        hashes.push_back(c.definition.definition_hash.empty() ? definition_hash(c)
                                                              : c.definition.definition_hash);
    }
    if (approved) {
        check_review_approval(input.concepts, input.review_records, findings);
        check_reviewed_definitions(input.concepts, hashes, input.review_records, findings);
    }

    SemanticPack pack;
    pack.review_manifest_hash = review_manifest_hash(input.review_records);
    for (size_t i = 0; i < input.concepts.size(); ++i)
        input.concepts[i].definition.definition_hash = std::move(hashes[i]);
    for (AliasDef& a : input.aliases) {
        poll_cancellation();
        a.normalized_alias = normalize_key(a.alias);
    }

    pack.schema_version = "0.3";
    pack.pack_id = pack_id;
    pack.org_id = std::move(input.org_id);
    pack.domain_id = std::move(input.domain_id);
    pack.pack_version = std::move(input.pack_version);
    pack.meaning_version = input.meaning_version;
    pack.source_graph_hash = std::move(input.source_graph_hash);
    pack.build_config_hash = build_config_hash();
    pack.generator = {"vok-core", "0.3"};
    pack.trust.approval_state = input.approval;
    pack.trust.signature_state = SignatureState::Unsigned;
    pack.concepts = std::move(input.concepts);
    pack.relations = std::move(input.relations);
    pack.metrics = std::move(input.metrics);
    pack.dimensions = std::move(input.dimensions);
    pack.units = std::move(input.units);
    pack.aliases = std::move(input.aliases);
    pack.mapping_rules = std::move(input.mapping_rules);
    pack.compatibility.brisvandole_min_version = "0.3";
    sort_pack_collections(pack);
    // Taken on the sorted concepts: the fingerprint orders them by id the same way, and walking
    // them in place is cheaper than visiting scattered records.
    pack.meaning_fingerprint = meaning_fingerprint(pack.concepts);

    // The content hash leaves out the stamp and the manifest hash, so it is taken with both
    // cleared (the pack is unsigned and sorted already) rather than on a copy of a large pack.
    std::string manifest_hash = std::move(pack.review_manifest_hash);
    pack.review_manifest_hash.clear();
    const PackRef final_ref{pack_id, hashed_form_digest(pack), "pack://" + pack_id, 0};
    pack.review_manifest_hash = std::move(manifest_hash);
    pack.created_at = format_rfc3339(clock());

    check_meaning_version(input, pack, final_ref, findings);

    const bool refused = approved && findings.has_error();
    PackBuildResult result;
    result.diagnostics = std::move(findings.main);
    if (refused) return result;
    result.pack = std::move(pack);
    result.alias_group_warnings = std::move(findings.alias_group_warnings);
    return result;
}

} // namespace vok::semantic_pack
