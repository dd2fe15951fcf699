// The pack diff and its report; see diff.h. Both packs are only read and the diff is built apart,
// so every loop over concepts or entries polls for cancellation.
#include "semantic_pack/diff.h"

#include <algorithm>
#include <unordered_map>

#include "common/cancellation.h"
#include "semantic_pack/meaning_version.h"
#include "json/writer.h"

namespace vok::semantic_pack {

namespace {

using ConceptIndex = std::unordered_map<std::string_view, const ConceptDef*>;

// A later record with an id already seen stands for that id.
ConceptIndex index_concepts(const SemanticPack& pack) {
    ConceptIndex index;
    index.reserve(pack.concepts.size());
    for (const ConceptDef& concept_def : pack.concepts) {
        poll_cancellation();
        index.insert_or_assign(std::string_view(concept_def.id), &concept_def);
    }
    return index;
}

// The ids of an index in the order their records appear in the pack, each once; the final sort
// fixes the order of the entries, this only keeps the run reproducible before it.
std::vector<std::string_view> ids_in_order(const SemanticPack& pack, const ConceptIndex& index) {
    std::vector<std::string_view> ids;
    ids.reserve(index.size());
    for (const ConceptDef& concept_def : pack.concepts) {
        poll_cancellation();
        if (index.at(concept_def.id) == &concept_def) ids.push_back(concept_def.id);
    }
    return ids;
}

std::string status_name(ConceptStatus status) {
    return std::string(json_name(status));
}

DiffClassification status_change_class(ConceptStatus new_status) {
    switch (new_status) {
    case ConceptStatus::Deprecated:
        return DiffClassification::Deprecating;
    case ConceptStatus::Rejected:
        return DiffClassification::Breaking;
    default:
        return DiffClassification::GovernanceCritical;
    }
}

} // namespace

PackDiff diff_packs(const SemanticPack& old_pack, const SemanticPack& new_pack) {
    PackDiff diff{old_pack.pack_id, new_pack.pack_id, {}, {}};
    const ConceptIndex old_index = index_concepts(old_pack);
    const ConceptIndex new_index = index_concepts(new_pack);

    const bool fingerprint_changed = old_pack.meaning_fingerprint != new_pack.meaning_fingerprint;
    const bool version_increased =
        compare_meaning_versions(old_pack.meaning_version, new_pack.meaning_version) ==
        kVersionIncreased;
    const bool unbumped_change = fingerprint_changed && !version_increased;

    auto add = [&](std::string subject_type, std::string_view id, std::string detail,
                   DiffClassification classification) {
        diff.entries.push_back(
            {std::move(subject_type), std::string(id), std::move(detail), classification});
    };

    for (std::string_view id : ids_in_order(new_pack, new_index)) {
        poll_cancellation();
        if (old_index.contains(id)) continue;
        const ConceptDef& added = *new_index.at(id);
        add("concept", id,
            "Added concept '" + added.canonical_name + "' (" + status_name(added.status) + ")",
            DiffClassification::Additive);
    }
    for (std::string_view id : ids_in_order(old_pack, old_index)) {
        poll_cancellation();
        const ConceptDef& before = *old_index.at(id);
        const auto found = new_index.find(id);
        if (found == new_index.end()) {
            add("concept", id,
                "Removed concept '" + before.canonical_name + "' (was " +
                    status_name(before.status) + ")",
                before.status == ConceptStatus::Active ? DiffClassification::Breaking
                                                       : DiffClassification::Deprecating);
            continue;
        }
        const ConceptDef& after = *found->second;
        if (before.definition.definition_hash != after.definition.definition_hash) {
            add("concept", id,
                "Definition changed for '" + std::string(id) + "' (hash " +
                    before.definition.definition_hash + " -> " + after.definition.definition_hash +
                    ")",
                unbumped_change ? DiffClassification::Breaking
                                : DiffClassification::DefinitionalChange);
        }
        if (before.status != after.status) {
            add("concept", id,
                "Status changed: " + status_name(before.status) + " -> " +
                    status_name(after.status),
                status_change_class(after.status));
        }
    }
    if (unbumped_change) {
        add("pack", "meaning_fingerprint",
            "meaning_fingerprint changed without meaning_version increase (" +
                old_pack.meaning_version + " vs " + new_pack.meaning_version + ")",
            DiffClassification::Breaking);
    }

    std::stable_sort(diff.entries.begin(), diff.entries.end(),
                     [](const PackDiffEntry& a, const PackDiffEntry& b) {
                         poll_cancellation();
                         return diff_entry_less(a, b);
                     });
    for (const PackDiffEntry& entry : diff.entries)
        ++diff.counts[static_cast<size_t>(entry.classification)];
    return diff;
}

std::string write_pack_diff(const PackDiff& diff) {
    std::string out;
    json::Writer w(out);
    w.begin_object();
    w.string_member("old_pack_id", diff.old_pack_id);
    w.string_member("new_pack_id", diff.new_pack_id);
    w.key("entries");
    w.begin_array();
    for (const PackDiffEntry& entry : diff.entries) {
        w.begin_object();
        w.string_member("classification", json_name(entry.classification));
        w.string_member("subject_type", entry.subject_type);
        w.string_member("subject_id", entry.subject_id);
        w.string_member("detail", entry.detail);
        w.end_object();
    }
    w.end_array();
    w.key("summary");
    w.begin_object();
    for (size_t i = 0; i < diff.counts.size(); ++i) {
        const auto classification = static_cast<DiffClassification>(i);
        w.u64_member(std::string(json_name(classification)) + "_count", diff.counts[i]);
    }
    w.end_object();
    w.end_object();
    return out;
}

const json::Error& DiffError::reader_error() const {
    return is<OldPack>() ? as<OldPack>().error : as<NewPack>().error;
}

std::string DiffError::to_string() const {
    return (is<OldPack>() ? "old pack: " : "new pack: ") + reader_error().to_string();
}

Result<std::string, DiffError> diff_pack_documents(std::string_view old_json,
                                                   std::string_view new_json) {
    auto old_pack = parse_semantic_pack(old_json);
    if (!old_pack.ok()) return Err(DiffError(DiffError::OldPack{std::move(old_pack).error()}));
    auto new_pack = parse_semantic_pack(new_json);
    if (!new_pack.ok()) return Err(DiffError(DiffError::NewPack{std::move(new_pack).error()}));
    return write_pack_diff(diff_packs(*old_pack, *new_pack));
}

} // namespace vok::semantic_pack
