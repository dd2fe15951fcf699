// Fuzzes what is done with a pack once it is read: concept resolution, validation against a
// pack and the diff of two packs. The input's bytes choose a pack (pack_generator.h), a second
// version of it (concepts added, removed, re-defined or re-statused, the meaning version and
// fingerprint changed), a text to resolve (a name, alias, id or mapping term of the pack, as
// written or re-spaced and re-cased) and validation options. Each operation is held against a
// plain model of its rules written below; their documents must also read back.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_choices.h"
#include "pack_generator.h"
#include "semantic_pack/canonical_json.h"
#include "semantic_pack/concept_resolution.h"
#include "semantic_pack/diff.h"
#include "semantic_pack/lookup_key.h"
#include "semantic_pack/pack_validation.h"
#include "semantic_pack/validation_options.h"
#include "semantic_pack/validation_result.h"
#include "json/text_deserializer.h"

namespace {

using namespace vok;
using namespace vok::semantic_pack;
using fuzzing::broken;
using fuzzing::Choices;

// ---- The model ----

struct Finding {
    std::string code;
    std::string message;
    bool error;
};

std::vector<Finding> model_structure(const SemanticPack& p) {
    std::vector<Finding> out;
    if (p.schema_version != "0.3")
        out.push_back({"pack_schema_mismatch",
                       "Expected schema_version '0.3', got '" + p.schema_version + "'", true});
    std::set<std::string> seen;
    for (const ConceptDef& c : p.concepts)
        if (!seen.insert(c.id).second)
            out.push_back({"duplicate_concept_id", "Duplicate concept ID: '" + c.id + "'", true});
    std::map<std::string, std::string> first_by_key;
    for (const ConceptDef& c : p.concepts) {
        auto [at, added] = first_by_key.emplace(normalize_key(c.canonical_name), c.id);
        if (!added && at->second != c.id)
            out.push_back({"duplicate_canonical_name",
                           "Duplicate canonical name '" + c.canonical_name + "' targets '" +
                               at->second + "' and '" + c.id + "'",
                           true});
    }
    for (const ConceptDef& c : p.concepts) {
        if (c.status != ConceptStatus::Active && c.status != ConceptStatus::Proposed) continue;
        if (c.definition.text.empty())
            out.push_back(
                {"missing_definition", "Active concept '" + c.id + "' has no definition", false});
        if (c.owner.empty())
            out.push_back({"missing_owner", "Active concept '" + c.id + "' has no owner", false});
    }
    for (const AliasDef& a : p.aliases)
        if (!seen.count(a.target_concept_id))
            out.push_back(
                {"unknown_concept",
                 "Alias '" + a.alias + "' targets unknown concept '" + a.target_concept_id + "'",
                 true});
    for (const RelationDef& r : p.relations) {
        if (!seen.count(r.subject_id))
            out.push_back(
                {"invalid_relation",
                 "Relation '" + r.id + "' references unknown subject '" + r.subject_id + "'",
                 true});
        if (!seen.count(r.object_id))
            out.push_back(
                {"invalid_relation",
                 "Relation '" + r.id + "' references unknown object '" + r.object_id + "'", true});
    }
    std::set<std::string> dimensions, units;
    for (const DimensionDef& d : p.dimensions)
        dimensions.insert(d.id);
    for (const UnitDef& u : p.units)
        units.insert(u.id);
    for (const MetricDef& m : p.metrics) {
        if (m.dimension_id && !dimensions.count(*m.dimension_id))
            out.push_back(
                {"unknown_dimension",
                 "Metric '" + m.id + "' references unknown dimension '" + *m.dimension_id + "'",
                 false});
        if (m.unit_id && !units.count(*m.unit_id))
            out.push_back({"unknown_unit",
                           "Metric '" + m.id + "' references unknown unit '" + *m.unit_id + "'",
                           false});
    }
    return out;
}

struct Resolution {
    std::optional<std::string> code;
    std::string truth;
    std::optional<std::string> concept_id;
    std::string message;       // rows 4 and 5: the part before the ids
    std::set<std::string> ids; // rows 4 and 5
};

Resolution model_resolution(const std::string& raw, const SemanticPack& p) {
    const std::string k = normalize_key(raw);
    std::vector<const ConceptDef*> candidates;
    auto has = [&](const std::string& id) {
        return std::any_of(candidates.begin(), candidates.end(),
                           [&](const ConceptDef* c) { return c->id == id; });
    };
    auto first_with = [&](const std::string& id) -> const ConceptDef* {
        for (const ConceptDef& c : p.concepts)
            if (c.id == id) return &c;
        return nullptr;
    };
    for (const ConceptDef& c : p.concepts)
        if (c.id == k) candidates.push_back(&c);
    for (const ConceptDef& c : p.concepts)
        if (normalize_key(c.canonical_name) == k && !has(c.id)) candidates.push_back(&c);
    std::vector<const AliasDef*> aliases;
    for (const AliasDef& a : p.aliases) {
        if (a.normalized_alias != k) continue;
        aliases.push_back(&a);
        if (const ConceptDef* c = first_with(a.target_concept_id); c && !has(c->id))
            candidates.push_back(c);
    }
    for (const MappingRuleDef& m : p.mapping_rules) {
        if (normalize_key(m.source_term) != k) continue;
        if (const ConceptDef* c = first_with(m.target_concept_id); c && !has(c->id))
            candidates.push_back(c);
    }
    std::set<std::string> ids;
    for (const ConceptDef* c : candidates)
        ids.insert(c->id);
    auto alias_with = [&](AliasStatus s) {
        return std::any_of(aliases.begin(), aliases.end(),
                           [&](const AliasDef* a) { return a->status == s; });
    };
    Resolution r;
    if (candidates.empty())
        return {"unknown_concept", "Unknown", std::nullopt, "Unknown concept: '" + raw + "'", {}};
    if (std::any_of(candidates.begin(), candidates.end(),
                    [](const ConceptDef* c) { return c->status == ConceptStatus::Rejected; }))
        return {"rejected_concept", "Invalid", std::nullopt, "Rejected concept: '" + raw + "'", {}};
    if (alias_with(AliasStatus::Blocked))
        return {"alias_conflict", "Invalid", std::nullopt, "Blocked alias: '" + raw + "'", {}};
    if (ids.size() >= 2) {
        const bool all_ambiguous =
            !aliases.empty() && std::all_of(aliases.begin(), aliases.end(), [](const AliasDef* a) {
                return a->status == AliasStatus::Ambiguous;
            });
        if (all_ambiguous)
            return {"ambiguous_alias", "Unknown", std::nullopt,
                    "Ambiguous alias '" + raw + "' targets multiple concepts: ", ids};
        return {"ambiguous_concept", "Unknown", std::nullopt,
                "Ambiguous concept '" + raw + "' resolves to: ", ids};
    }
    const ConceptDef& c = *candidates.front();
    if (c.status == ConceptStatus::Proposed)
        return {"proposed_concept", "Unknown", c.id, "Proposed concept: '" + raw + "'", {}};
    if (c.status == ConceptStatus::Deprecated || alias_with(AliasStatus::Deprecated))
        return {"deprecated_concept", "Valid", c.id, "Deprecated concept: '" + raw + "'", {}};
    return {std::nullopt, "Valid", c.id, "", {}};
}

// Dot-separated unsigned 32-bit segments; nothing when a segment is not one.
std::optional<std::vector<uint64_t>> version_segments(const std::string& text) {
    std::vector<uint64_t> out;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 10 ||
            !std::all_of(part.begin(), part.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
            return std::nullopt;
        const uint64_t v = std::stoull(part);
        if (v > UINT32_MAX) return std::nullopt;
        out.push_back(v);
        if (dot == std::string::npos) return out;
        start = dot + 1;
    }
}

bool version_increased(const std::string& old_version, const std::string& new_version) {
    auto a = version_segments(old_version);
    auto b = version_segments(new_version);
    if (!a || !b) return false;
    const size_t n = std::max(a->size(), b->size());
    a->resize(n, 0);
    b->resize(n, 0);
    return *b > *a;
}

int rank_of(DiffClassification c) {
    static const int ranks[] = {4, 2, 3, 0, 1, 5};
    return ranks[static_cast<size_t>(c)];
}

std::vector<PackDiffEntry> model_diff(const SemanticPack& old_pack, const SemanticPack& new_pack) {
    std::map<std::string, const ConceptDef*> before, after;
    for (const ConceptDef& c : old_pack.concepts)
        before[c.id] = &c;
    for (const ConceptDef& c : new_pack.concepts)
        after[c.id] = &c;
    const bool fingerprint_changed = old_pack.meaning_fingerprint != new_pack.meaning_fingerprint;
    const bool unbumped = fingerprint_changed &&
                          !version_increased(old_pack.meaning_version, new_pack.meaning_version);
    auto status = [](ConceptStatus s) { return std::string(json_name(s)); };
    std::vector<PackDiffEntry> out;
    for (const auto& [id, c] : after)
        if (!before.count(id))
            out.push_back({"concept", id,
                           "Added concept '" + c->canonical_name + "' (" + status(c->status) + ")",
                           DiffClassification::Additive});
    for (const auto& [id, c] : before)
        if (!after.count(id))
            out.push_back(
                {"concept", id,
                 "Removed concept '" + c->canonical_name + "' (was " + status(c->status) + ")",
                 c->status == ConceptStatus::Active ? DiffClassification::Breaking
                                                    : DiffClassification::Deprecating});
    for (const auto& [id, o] : before) {
        auto found = after.find(id);
        if (found == after.end()) continue;
        const ConceptDef* n = found->second;
        if (o->definition.definition_hash != n->definition.definition_hash)
            out.push_back(
                {"concept", id,
                 "Definition changed for '" + id + "' (hash " + o->definition.definition_hash +
                     " -> " + n->definition.definition_hash + ")",
                 unbumped ? DiffClassification::Breaking : DiffClassification::DefinitionalChange});
        if (o->status != n->status)
            out.push_back(
                {"concept", id, "Status changed: " + status(o->status) + " -> " + status(n->status),
                 n->status == ConceptStatus::Deprecated ? DiffClassification::Deprecating
                 : n->status == ConceptStatus::Rejected ? DiffClassification::Breaking
                                                        : DiffClassification::GovernanceCritical});
    }
    if (unbumped)
        out.push_back({"pack", "meaning_fingerprint",
                       "meaning_fingerprint changed without meaning_version increase (" +
                           old_pack.meaning_version + " vs " + new_pack.meaning_version + ")",
                       DiffClassification::Breaking});
    std::stable_sort(out.begin(), out.end(), [](const PackDiffEntry& a, const PackDiffEntry& b) {
        if (rank_of(a.classification) != rank_of(b.classification))
            return rank_of(a.classification) < rank_of(b.classification);
        return a.subject_id < b.subject_id;
    });
    return out;
}

// ---- The second version and the text to resolve ----

SemanticPack next_version(Choices& c, fuzzing::PackGenerator& g, const SemanticPack& old_pack) {
    SemanticPack p = old_pack;
    for (size_t i = 0, n = c.pick(5); i < n; ++i) {
        switch (c.pick(7)) {
        case 0:
            p.concepts.push_back(g.concept_def());
            break;
        case 1:
            if (!p.concepts.empty())
                p.concepts.erase(p.concepts.begin() + long(c.pick(p.concepts.size())));
            break;
        case 2:
            if (!p.concepts.empty())
                p.concepts[c.pick(p.concepts.size())].status = g.pick_enum<ConceptStatus>(5);
            break;
        case 3:
            if (!p.concepts.empty())
                p.concepts[c.pick(p.concepts.size())].definition.definition_hash =
                    c.word({"h1", "h2", "h3"});
            break;
        case 4:
            p.meaning_fingerprint = c.word({"f1", "f2", "f3"});
            break;
        case 5:
            p.meaning_version = c.word({"1.0.0", "1.2.0", "1.3.0", "1.2", "2.0.0", "x"});
            break;
        default:
            std::reverse(p.concepts.begin(), p.concepts.end());
        }
    }
    return p;
}

std::string text_to_resolve(Choices& c, fuzzing::PackGenerator& g, const SemanticPack& p) {
    std::string text;
    switch (c.pick(5)) {
    case 0:
        if (!p.concepts.empty()) text = p.concepts[c.pick(p.concepts.size())].canonical_name;
        break;
    case 1:
        if (!p.aliases.empty()) text = p.aliases[c.pick(p.aliases.size())].alias;
        break;
    case 2:
        if (!p.concepts.empty()) text = p.concepts[c.pick(p.concepts.size())].id;
        break;
    case 3:
        if (!p.mapping_rules.empty())
            text = p.mapping_rules[c.pick(p.mapping_rules.size())].source_term;
        break;
    default:
        text = g.name();
    }
    if (c.chance(20)) text = " " + text + "\t";
    if (c.chance(20))
        for (char& ch : text)
            if (ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
    return text;
}

std::string truth_name(SemanticTruth t) {
    return t == SemanticTruth::Valid     ? "Valid"
           : t == SemanticTruth::Invalid ? "Invalid"
                                         : "Unknown";
}

std::string show(const SemanticPack& p) {
    return p.serialize();
}

void check_resolution(const std::string& text, const SemanticPack& pack) {
    const ConceptResolution got = resolve_concept(text, pack);
    const Resolution want = model_resolution(text, pack);
    const std::string detail = "text: " + text + "\ngot: " + got.serialize();
    const std::string code =
        got.diagnostic_code ? std::string(json_name(*got.diagnostic_code)) : std::string();
    if (code != want.code.value_or("") || truth_name(got.semantic_truth) != want.truth ||
        got.resolved_concept_id != want.concept_id)
        broken("resolution differs from the model's " + want.code.value_or("(resolved)"), detail,
               show(pack));
    if (want.ids.empty()) {
        if (got.message != want.message || !got.suggestions.empty())
            broken("resolution message differs from the model's: " + want.message, detail);
    } else {
        std::multiset<std::string> labels;
        for (const Suggestion& s : got.suggestions) {
            if (s.rank != 5) broken("an ambiguity suggestion without rank 5", detail);
            labels.insert(s.label);
        }
        std::multiset<std::string> named;
        if (got.message.rfind(want.message, 0) != 0)
            broken("ambiguity message differs from the model's: " + want.message, detail);
        const std::string list = got.message.substr(want.message.size()) + ", ";
        for (size_t at = 0; at < list.size();) {
            const size_t end = list.find(", ", at);
            named.insert(list.substr(at, end - at));
            at = end + 2;
        }
        const std::multiset<std::string> ids(want.ids.begin(), want.ids.end());
        if (labels != ids || named != ids)
            broken("an ambiguity names other concepts than the model's", detail);
    }
    if (!json::parse(got.serialize()).ok()) broken("resolution document is not JSON", detail);
}

void check_validation(Choices& c, const SemanticPack& pack) {
    ValidationOptions options;
    options.mode = static_cast<ValidationMode>(c.pick(3));
    options.require_signed_pack = c.chance(30);
    options.allow_unsigned_test_fixtures = c.chance(20);
    const std::string source = c.word({"file:a.vok", "", "Entity \"x\""});

    const std::vector<Finding> want = model_structure(pack);
    const std::vector<SemanticDiagnostic> unsorted = validate_pack_structure(pack);
    bool same = unsorted.size() == want.size();
    for (size_t i = 0; same && i < want.size(); ++i)
        same = json_name(unsorted[i].code) == want[i].code &&
               unsorted[i].message == want[i].message &&
               (unsorted[i].severity == DiagnosticSeverity::Error) == want[i].error;
    if (!same)
        broken("structural checks differ from the model's", diagnostics_json(unsorted), show(pack));

    const SemanticValidationResult result = validate_graph_with_pack(pack, source, options);
    const std::string written = result.serialize();
    auto again = SemanticValidationResult::deserialize(written);
    if (!again.ok() || !(*again == result)) broken("validation result does not read back", written);
    if (result.unsigned_fixture_bypass_used != (options.allow_unsigned_test_fixtures &&
                                                result.status != SemanticValidationStatus::Blocked))
        broken("fixture bypass flag is not the option's", written);

    if (options.require_signed_pack && pack.trust.signature_state != SignatureState::Signed &&
        !options.allow_unsigned_test_fixtures) {
        if (result.status != SemanticValidationStatus::Blocked || result.diagnostics.size() != 1 ||
            result.diagnostics[0].code != DiagnosticCode::PackUnsigned ||
            result.diagnostics[0].message !=
                "Pack '" + pack.pack_id + "' is unsigned but signature is required" ||
            !result.input_hash.empty())
            broken("an unsigned pack where a signature is required is not blocked", written);
        return;
    }
    std::vector<Finding> sorted = want;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.code, a.message) < std::tie(b.code, b.message);
    });
    same = result.diagnostics.size() == sorted.size();
    for (size_t i = 0; same && i < sorted.size(); ++i)
        same = json_name(result.diagnostics[i].code) == sorted[i].code &&
               result.diagnostics[i].message == sorted[i].message;
    if (!same) broken("validation diagnostics are not the sorted checks", written, show(pack));
    const bool any_error =
        std::any_of(sorted.begin(), sorted.end(), [](const Finding& f) { return f.error; });
    const bool any_unknown =
        std::any_of(sorted.begin(), sorted.end(), [](const Finding& f) { return !f.error; });
    SemanticValidationStatus status = SemanticValidationStatus::Passed;
    if (options.mode != ValidationMode::Off) {
        if (any_error)
            status = SemanticValidationStatus::Failed;
        else if (any_unknown)
            status = options.mode == ValidationMode::Strict ? SemanticValidationStatus::Failed
                                                            : SemanticValidationStatus::Unknown;
    }
    if (result.status != status) broken("validation status differs from the model's", written);
    const std::string input_hash = canonical_json_hash(json::Value(json::Object::from_entries(
        {{"pack_id", json::Value(pack.pack_id)}, {"source_uri", json::Value(source)}})));
    if (result.input_hash != input_hash)
        broken("input hash is not the hash of pack id and source", written);
    if (result.pack_set_ref.merged_pack_hash != pack.content_hash())
        broken("merged pack hash is not the pack's content hash", written);
}

void check_diff(const SemanticPack& old_pack, const SemanticPack& new_pack) {
    const PackDiff diff = diff_packs(old_pack, new_pack);
    const std::string written = write_pack_diff(diff);
    const std::vector<PackDiffEntry> want = model_diff(old_pack, new_pack);
    bool same = diff.entries.size() == want.size();
    for (size_t i = 0; same && i < want.size(); ++i)
        same = diff.entries[i].subject_type == want[i].subject_type &&
               diff.entries[i].subject_id == want[i].subject_id &&
               diff.entries[i].detail == want[i].detail &&
               diff.entries[i].classification == want[i].classification;
    if (!same)
        broken("diff differs from the model's", written, show(old_pack) + "\n" + show(new_pack));
    std::array<uint64_t, enum_count<DiffClassification>()> counts{};
    for (const PackDiffEntry& e : want)
        ++counts[static_cast<size_t>(e.classification)];
    if (diff.counts != counts) broken("diff counts differ from its entries", written);
    auto from_documents = diff_pack_documents(old_pack.serialize(), new_pack.serialize());
    if (!from_documents.ok() || *from_documents != written)
        broken("the diff of the documents differs from the diff of the packs", written);
    if (!json::parse(written).ok()) broken("diff report is not JSON", written);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Choices c(data, size);
    fuzzing::PackGenerator g(c);
    const SemanticPack pack = g.pack();
    const SemanticPack next = next_version(c, g, pack);
    check_resolution(text_to_resolve(c, g, pack), pack);
    check_validation(c, pack);
    check_diff(pack, next);
    if (!diff_packs(pack, pack).entries.empty()) broken("a pack differs from itself", show(pack));
    return 0;
}
