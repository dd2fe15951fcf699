// Concept resolution; the definitions behind concept_resolution.h. The pack is only read, so each
// walk over its records polls for cancellation.
#include "semantic_pack/concept_resolution.h"

#include <unordered_map>
#include <unordered_set>

#include "common/cancellation.h"
#include "semantic_pack/lookup_key.h"
#include "json/writer.h"

namespace vok::semantic_pack {

namespace {

struct Candidate {
    std::string_view id;
    ConceptStatus status;
};

// The candidates in the order found; a concept found through a name, an alias or a mapping rule
// is added only when no candidate has its id yet.
class Candidates {
public:
    void add_always(const ConceptDef& concept_def) {
        list_.push_back({concept_def.id, concept_def.status});
        ids_.insert(concept_def.id);
    }
    void add_once(const ConceptDef& concept_def) {
        if (ids_.insert(concept_def.id).second)
            list_.push_back({concept_def.id, concept_def.status});
    }
    const std::vector<Candidate>& list() const { return list_; }
    bool empty() const { return list_.empty(); }

    // The distinct ids, each once, in the order found.
    std::vector<std::string_view> distinct_ids() const {
        std::vector<std::string_view> ids;
        std::unordered_set<std::string_view> seen;
        for (const Candidate& c : list_)
            if (seen.insert(c.id).second) ids.push_back(c.id);
        return ids;
    }

private:
    std::vector<Candidate> list_;
    std::unordered_set<std::string_view> ids_;
};

// The first concept of each id, built only when an alias or a mapping rule matched.
class ConceptsById {
public:
    explicit ConceptsById(const std::vector<ConceptDef>& concepts) : concepts_(concepts) {}

    const ConceptDef* find(std::string_view id) {
        if (!built_) {
            index_.reserve(concepts_.size());
            for (const ConceptDef& c : concepts_) {
                poll_cancellation();
                index_.emplace(c.id, &c);
            }
            built_ = true;
        }
        auto it = index_.find(id);
        return it == index_.end() ? nullptr : it->second;
    }

private:
    const std::vector<ConceptDef>& concepts_;
    std::unordered_map<std::string_view, const ConceptDef*> index_;
    bool built_ = false;
};

std::string quoted(std::string_view prefix, std::string_view raw_text) {
    std::string message(prefix);
    message += '\'';
    message.append(raw_text);
    message += '\'';
    return message;
}

ConceptResolution outcome(DiagnosticCode code, SemanticTruth truth, std::string message,
                          std::optional<std::string> id = std::nullopt) {
    return ConceptResolution{code, std::move(message), std::move(id), truth, {}};
}

ConceptResolution ambiguous(DiagnosticCode code, std::string message,
                            const std::vector<std::string_view>& ids) {
    ConceptResolution result = outcome(code, SemanticTruth::Unknown, std::move(message));
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) result.message += ", ";
        result.message.append(ids[i]);
        result.suggestions.push_back({std::string(ids[i]), 5});
    }
    return result;
}

std::string_view truth_variant_name(SemanticTruth truth) {
    switch (truth) {
    case SemanticTruth::Valid:
        return "Valid";
    case SemanticTruth::Invalid:
        return "Invalid";
    case SemanticTruth::Unknown:
        break;
    }
    return "Unknown";
}

} // namespace

ConceptResolution resolve_concept(std::string_view raw_text, const SemanticPack& pack) {
    const std::string key = normalize_key(raw_text);

    Candidates candidates;
    for (const ConceptDef& c : pack.concepts) {
        poll_cancellation();
        if (c.id == key) candidates.add_always(c);
    }
    for (const ConceptDef& c : pack.concepts) {
        poll_cancellation();
        if (normalize_key(c.canonical_name) == key) candidates.add_once(c);
    }

    ConceptsById by_id(pack.concepts);
    bool any_alias = false;
    bool all_ambiguous = true;
    bool any_blocked = false;
    bool any_deprecated_alias = false;
    for (const AliasDef& alias : pack.aliases) {
        poll_cancellation();
        if (alias.normalized_alias != key) continue;
        any_alias = true;
        all_ambiguous &= alias.status == AliasStatus::Ambiguous;
        any_blocked |= alias.status == AliasStatus::Blocked;
        any_deprecated_alias |= alias.status == AliasStatus::Deprecated;
        if (const ConceptDef* target = by_id.find(alias.target_concept_id))
            candidates.add_once(*target);
    }
    for (const MappingRuleDef& rule : pack.mapping_rules) {
        poll_cancellation();
        if (normalize_key(rule.source_term) != key) continue;
        if (const ConceptDef* target = by_id.find(rule.target_concept_id))
            candidates.add_once(*target);
    }

    if (candidates.empty()) {
        return outcome(DiagnosticCode::UnknownConcept, SemanticTruth::Unknown,
                       quoted("Unknown concept: ", raw_text));
    }
    for (const Candidate& c : candidates.list()) {
        if (c.status == ConceptStatus::Rejected) {
            return outcome(DiagnosticCode::RejectedConcept, SemanticTruth::Invalid,
                           quoted("Rejected concept: ", raw_text));
        }
    }
    if (any_blocked) {
        return outcome(DiagnosticCode::AliasConflict, SemanticTruth::Invalid,
                       quoted("Blocked alias: ", raw_text));
    }
    const std::vector<std::string_view> ids = candidates.distinct_ids();
    if (ids.size() >= 2) {
        if (any_alias && all_ambiguous) {
            return ambiguous(
                DiagnosticCode::AmbiguousAlias,
                quoted("Ambiguous alias ", raw_text) + " targets multiple concepts: ", ids);
        }
        return ambiguous(DiagnosticCode::AmbiguousConcept,
                         quoted("Ambiguous concept ", raw_text) + " resolves to: ", ids);
    }
    const Candidate& first = candidates.list().front();
    std::string id(first.id);
    if (first.status == ConceptStatus::Proposed) {
        return outcome(DiagnosticCode::ProposedConcept, SemanticTruth::Unknown,
                       quoted("Proposed concept: ", raw_text), std::move(id));
    }
    if (first.status == ConceptStatus::Deprecated || any_deprecated_alias) {
        return outcome(DiagnosticCode::DeprecatedConcept, SemanticTruth::Valid,
                       quoted("Deprecated concept: ", raw_text), std::move(id));
    }
    return ConceptResolution{std::nullopt, "", std::move(id), SemanticTruth::Valid, {}};
}

std::string ConceptResolution::serialize() const {
    std::string out = "{\"diagnostic_code\":";
    if (diagnostic_code) {
        json::append_quoted(out, json_name(*diagnostic_code));
    } else {
        out += "null";
    }
    out += ",\"message\":";
    json::append_quoted(out, message);
    out += ",\"resolved_concept_id\":";
    if (resolved_concept_id) {
        json::append_quoted(out, *resolved_concept_id);
    } else {
        out += "null";
    }
    out += ",\"semantic_truth\":";
    json::append_quoted(out, truth_variant_name(semantic_truth));
    out += ",\"suggestions\":";
    RecordWriter w(out, RecordWriter::KeyOrder::Document);
    record_detail::write_value(w, suggestions);
    out += '}';
    return out;
}

} // namespace vok::semantic_pack
