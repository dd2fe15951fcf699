// Canonical JSON and the content hashes computed over it; the definitions behind canonical_json.h.
#include "semantic_pack/canonical_json.h"

#include <algorithm>
#include <tuple>

#include "common/cancellation.h"
#include "json/writer.h"

namespace vok::semantic_pack {

namespace {

// Sorts stably by `less`, leaving a list that is already in order untouched (the usual case: built
// packs are stored in canonical order).
template <class T, class Less> void stable_sort_by(std::vector<T>& items, Less less) {
    if (std::is_sorted(items.begin(), items.end(), less)) return;
    std::stable_sort(items.begin(), items.end(), less);
}

// A copy of a key given as a tuple of references.
template <class... Fields>
std::tuple<std::decay_t<Fields>...> owned(const std::tuple<Fields...>& key) {
    return key;
}

// The order `stable_sort_by` would give with a `less` that compares `key_of(a) < key_of(b)`, for
// large records (`key_of` gives a tuple of references to the record's fields). The keys are copied
// into one compact list and positions are sorted by them, so a comparison reads neighbouring memory
// rather than two records far apart; each record is then moved once into place, where sorting the
// records would move each of them many times.
template <class T, class KeyOf> void stable_sort_records_by(std::vector<T>& items, KeyOf key_of) {
    const auto less = [&key_of](const T& a, const T& b) { return key_of(a) < key_of(b); };
    if (std::is_sorted(items.begin(), items.end(), less)) return;
    std::vector<decltype(owned(key_of(items.front())))> keys;
    keys.reserve(items.size());
    for (const T& item : items) {
        poll_cancellation();
        keys.push_back(owned(key_of(item)));
    }
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&keys](size_t a, size_t b) {
        poll_cancellation();
        return keys[a] < keys[b];
    });
    // The sorted list is fresh memory as large as the list: polled as it fills. A stop leaves
    // the records partly moved out, in a pack that the stop drops (every caller sorts a pack of
    // its own).
    std::vector<T> sorted;
    sorted.reserve(items.size());
    for (size_t i : order) {
        poll_cancellation();
        sorted.push_back(std::move(items[i]));
    }
    items = std::move(sorted);
}

// A copy of `records` made a record at a time, with polls.
template <class T> std::vector<T> copied_in_steps(const std::vector<T>& records) {
    std::vector<T> copy;
    copy.reserve(records.size());
    for (const T& record : records) {
        poll_cancellation();
        copy.push_back(record);
    }
    return copy;
}

template <class T> std::tuple<const std::string&> id_of(const T& record) {
    return std::tie(record.id);
}

void sort_texts(std::vector<std::string>& texts) {
    stable_sort_by(texts, std::less<std::string>());
}

void sort_source_refs(std::vector<SourceRef>& refs) {
    stable_sort_by(refs, source_ref_less);
}

} // namespace

std::string canonical_json_hash(const json::Value& value) {
    return crypto::sha256_hex(json::to_compact_string(value));
}

void sort_pack_collections(SemanticPack& pack) {
    stable_sort_records_by(pack.concepts, id_of<ConceptDef>);
    stable_sort_records_by(pack.relations,
                           [](const RelationDef& r) { return std::tie(r.id, r.predicate); });
    stable_sort_records_by(pack.metrics, id_of<MetricDef>);
    stable_sort_records_by(pack.dimensions, id_of<DimensionDef>);
    stable_sort_records_by(pack.units, [](const UnitDef& u) { return std::tie(u.id, u.symbol); });
    stable_sort_records_by(pack.aliases, [](const AliasDef& a) {
        return std::tie(a.normalized_alias, a.target_concept_id, a.status);
    });
    stable_sort_records_by(pack.mapping_rules, id_of<MappingRuleDef>);

    for (ConceptDef& c : pack.concepts) {
        poll_cancellation();
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
    crypto::Sha256 sha;
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

SemanticPack copy_in_steps(const SemanticPack& pack) {
    // The record lists are copied apart, with polls: copied whole, a large pack's lists are tens
    // of megabytes written with no poll between them.
    SemanticPack copy;
    copy.concepts = copied_in_steps(pack.concepts);
    copy.relations = copied_in_steps(pack.relations);
    copy.metrics = copied_in_steps(pack.metrics);
    copy.dimensions = copied_in_steps(pack.dimensions);
    copy.units = copied_in_steps(pack.units);
    copy.aliases = copied_in_steps(pack.aliases);
    copy.mapping_rules = copied_in_steps(pack.mapping_rules);
    copy.schema_version = pack.schema_version;
    copy.pack_id = pack.pack_id;
    copy.org_id = pack.org_id;
    copy.domain_id = pack.domain_id;
    copy.pack_version = pack.pack_version;
    copy.meaning_version = pack.meaning_version;
    copy.meaning_fingerprint = pack.meaning_fingerprint;
    copy.source_graph_hash = pack.source_graph_hash;
    copy.build_config_hash = pack.build_config_hash;
    copy.review_manifest_hash = pack.review_manifest_hash;
    copy.created_at = pack.created_at;
    copy.generator = pack.generator;
    copy.trust = pack.trust;
    copy.compatibility = pack.compatibility;
    return copy;
}

std::string SemanticPack::content_hash() const {
    return content_hash_of(copy_in_steps(*this));
}

} // namespace vok::semantic_pack
