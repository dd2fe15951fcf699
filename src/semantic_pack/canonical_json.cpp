#include "semantic_pack/canonical_json.h"

#include <algorithm>
#include <tuple>

#include "json/writer.h"

namespace vok::semantic_pack {

namespace {

// Sorts stably by `less`, leaving a list that is already in order untouched (the usual case: built
// packs are stored in canonical order).
template <class T, class Less> void stable_sort_by(std::vector<T>& items, Less less) {
    if (std::is_sorted(items.begin(), items.end(), less)) return;
    std::stable_sort(items.begin(), items.end(), less);
}

// The same order as `stable_sort_by`, for large records: their positions are sorted instead and
// each record is then moved once into place, where sorting the records would move each of them
// many times.
template <class T, class Less> void stable_sort_records_by(std::vector<T>& items, Less less) {
    if (std::is_sorted(items.begin(), items.end(), less)) return;
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&items, &less](size_t a, size_t b) { return less(items[a], items[b]); });
    std::vector<T> sorted;
    sorted.reserve(items.size());
    for (size_t i : order)
        sorted.push_back(std::move(items[i]));
    items = std::move(sorted);
}

template <class T> bool id_less(const T& a, const T& b) {
    return a.id < b.id;
}

void sort_texts(std::vector<std::string>& texts) {
    stable_sort_by(texts, std::less<std::string>());
}

void sort_source_refs(std::vector<SourceRef>& refs) {
    stable_sort_by(refs, source_ref_less);
}

} // namespace

json::Value canonicalize_json(const json::Value& value) {
    // Objects hold their keys in ascending byte order already, so a copy is canonical.
    return value;
}

std::string canonical_json_hash(const json::Value& value) {
    return sha256_hex(json::to_compact_string(value));
}

void sort_pack_collections(SemanticPack& pack) {
    stable_sort_records_by(pack.concepts, id_less<ConceptDef>);
    stable_sort_records_by(pack.relations, [](const RelationDef& a, const RelationDef& b) {
        return std::tie(a.id, a.predicate) < std::tie(b.id, b.predicate);
    });
    stable_sort_records_by(pack.metrics, id_less<MetricDef>);
    stable_sort_records_by(pack.dimensions, id_less<DimensionDef>);
    stable_sort_records_by(pack.units, [](const UnitDef& a, const UnitDef& b) {
        return std::tie(a.id, a.symbol) < std::tie(b.id, b.symbol);
    });
    stable_sort_records_by(pack.aliases, [](const AliasDef& a, const AliasDef& b) {
        return std::tie(a.normalized_alias, a.target_concept_id, a.status) <
               std::tie(b.normalized_alias, b.target_concept_id, b.status);
    });
    stable_sort_records_by(pack.mapping_rules, id_less<MappingRuleDef>);

    for (ConceptDef& c : pack.concepts) {
        sort_texts(c.examples);
        sort_texts(c.counterexamples);
        sort_texts(c.allowed_predicates);
        sort_texts(c.valid_contexts);
        sort_source_refs(c.source_refs);
    }
    for (RelationDef& r : pack.relations)
        sort_source_refs(r.source_refs);
    for (MetricDef& m : pack.metrics)
        sort_source_refs(m.source_refs);
    for (DimensionDef& d : pack.dimensions)
        sort_source_refs(d.source_refs);
    for (UnitDef& u : pack.units)
        sort_source_refs(u.source_refs);
}

void make_hashed_form(SemanticPack& pack) {
    pack.created_at.clear();
    pack.review_manifest_hash.clear();
    pack.trust.signed_by.reset();
    pack.trust.signature_alg.reset();
    pack.trust.signature.reset();
    pack.trust.signature_state = SignatureState::Unsigned;
    sort_pack_collections(pack);
}

std::string hashed_form_digest(const SemanticPack& hashed) {
    Sha256 sha;
    std::string buffer;
    RecordWriter w(buffer, RecordWriter::KeyOrder::Canonical, &sha);
    write_json(w, hashed);
    w.flush();
    return sha.finish_hex();
}

std::string content_hash_of(SemanticPack&& pack) {
    make_hashed_form(pack);
    return hashed_form_digest(pack);
}

std::string SemanticPack::content_hash() const {
    return content_hash_of(SemanticPack(*this));
}

} // namespace vok::semantic_pack
