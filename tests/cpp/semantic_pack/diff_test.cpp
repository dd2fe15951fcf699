#include "semantic_pack/diff.h"

#include <gtest/gtest.h>

#include "pack_test_util.h"

namespace vok::semantic_pack {
namespace {

using testing::pack_text;
using testing::read_pack;

ConceptDef concept_of(std::string id, ConceptStatus status, std::string hash = "h") {
    ConceptDef c;
    c.id = id;
    c.canonical_name = "Name " + id;
    c.status = status;
    c.definition.definition_hash = std::move(hash);
    return c;
}

SemanticPack pack_of(std::vector<ConceptDef> concepts, std::string fingerprint = "f",
                     std::string version = "1.0.0") {
    SemanticPack pack = read_pack(pack_text());
    pack.concepts = std::move(concepts);
    pack.meaning_fingerprint = std::move(fingerprint);
    pack.meaning_version = std::move(version);
    return pack;
}

using Entry = std::pair<DiffClassification, std::string>; // class, detail

std::vector<Entry> entries_of(const PackDiff& diff) {
    std::vector<Entry> entries;
    for (const PackDiffEntry& e : diff.entries)
        entries.emplace_back(e.classification, e.detail);
    return entries;
}

constexpr auto kActive = ConceptStatus::Active;
constexpr auto kProposed = ConceptStatus::Proposed;
constexpr auto kDeprecated = ConceptStatus::Deprecated;
constexpr auto kRejected = ConceptStatus::Rejected;
constexpr auto kExternal = ConceptStatus::ExternalOnly;

TEST(DiffPacks, IdenticalPacksGiveAnEmptyReport) {
    const SemanticPack pack = pack_of({concept_of("a", kActive)});
    EXPECT_EQ(write_pack_diff(diff_packs(pack, pack)),
              R"({"old_pack_id":"p","new_pack_id":"p","entries":[],"summary":{"additive_count":0,)"
              R"("definitional_change_count":0,"deprecating_count":0,"breaking_count":0,)"
              R"("governance_critical_count":0,"signature_only_count":0}})");
}

TEST(DiffPacks, AddedAndRemovedConcepts) {
    const auto diff =
        diff_packs(pack_of({concept_of("gone", kActive), concept_of("old", kDeprecated)}),
                   pack_of({concept_of("new", kProposed)}));
    EXPECT_EQ(entries_of(diff),
              (std::vector<Entry>{
                  {DiffClassification::Breaking, "Removed concept 'Name gone' (was active)"},
                  {DiffClassification::Deprecating, "Removed concept 'Name old' (was deprecated)"},
                  {DiffClassification::Additive, "Added concept 'Name new' (proposed)"},
              }));
}

TEST(DiffPacks, StatusChangesAreClassifiedByTheNewStatus) {
    struct Case {
        ConceptStatus from, to;
        DiffClassification expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {kActive, kDeprecated, DiffClassification::Deprecating},
             {kProposed, kRejected, DiffClassification::Breaking},
             {kDeprecated, kActive, DiffClassification::GovernanceCritical},
             {kActive, kExternal, DiffClassification::GovernanceCritical},
             {kActive, kProposed, DiffClassification::GovernanceCritical},
         }) {
        const auto diff =
            diff_packs(pack_of({concept_of("a", c.from)}), pack_of({concept_of("a", c.to)}));
        ASSERT_EQ(diff.entries.size(), 1u);
        EXPECT_EQ(diff.entries[0].classification, c.expected);
        EXPECT_EQ(diff.entries[0].detail, "Status changed: " + std::string(json_name(c.from)) +
                                              " -> " + std::string(json_name(c.to)));
    }
}

TEST(DiffPacks, DefinitionChangesDependOnTheMeaningVersion) {
    struct Case {
        const char* new_fingerprint;
        const char* old_version;
        const char* new_version;
        bool unbumped;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"f", "2.0", "1.0", false}, // fingerprint unchanged: versions do not matter
             {"g", "1.2.0", "1.3.0", false},
             {"g", "1.2.0", "1.2.0", true},
             {"g", "1.2.0", "1.1.9", true},
             {"g", "1.2", "1.2.0", true},
             {"g", "1.x", "2.0.0", true},
         }) {
        const auto diff =
            diff_packs(pack_of({concept_of("a", kActive, "h1")}, "f", c.old_version),
                       pack_of({concept_of("a", kActive, "h2")}, c.new_fingerprint, c.new_version));
        std::vector<Entry> expected;
        if (c.unbumped) {
            expected = {
                {DiffClassification::Breaking, "Definition changed for 'a' (hash h1 -> h2)"},
                {DiffClassification::Breaking,
                 "meaning_fingerprint changed without meaning_version increase (" +
                     std::string(c.old_version) + " vs " + c.new_version + ")"}};
        } else {
            expected = {{DiffClassification::DefinitionalChange,
                         "Definition changed for 'a' (hash h1 -> h2)"}};
        }
        EXPECT_EQ(entries_of(diff), expected) << c.old_version << " -> " << c.new_version;
    }
}

TEST(DiffPacks, DefinitionEntryPrecedesTheStatusEntryOfOneConcept) {
    const auto diff = diff_packs(pack_of({concept_of("a", kActive, "h1")}, "f", "1"),
                                 pack_of({concept_of("a", kRejected, "h2")}, "g", "1"));
    ASSERT_EQ(diff.entries.size(), 3u);
    EXPECT_EQ(diff.entries[0].detail, "Definition changed for 'a' (hash h1 -> h2)");
    EXPECT_EQ(diff.entries[1].detail, "Status changed: active -> rejected");
    EXPECT_EQ(diff.entries[2].subject_id, "meaning_fingerprint");
    EXPECT_EQ(diff.entries[2].subject_type, "pack");
    EXPECT_EQ(diff.counts[size_t(DiffClassification::Breaking)], 3u);
}

TEST(DiffPacks, EntriesSortByRankThenSubjectId) {
    const auto diff = diff_packs(pack_of({concept_of("z", kActive), concept_of("m", kDeprecated),
                                          concept_of("b", kActive), concept_of("q", kActive)}),
                                 pack_of({concept_of("m", kActive), concept_of("c", kActive),
                                          concept_of("a", kActive), concept_of("q", kDeprecated)}));
    std::vector<std::pair<DiffClassification, std::string>> order;
    for (const auto& e : diff.entries)
        order.emplace_back(e.classification, e.subject_id);
    EXPECT_EQ(order, (std::vector<std::pair<DiffClassification, std::string>>{
                         {DiffClassification::Breaking, "b"},
                         {DiffClassification::Breaking, "z"},
                         {DiffClassification::GovernanceCritical, "m"},
                         {DiffClassification::Deprecating, "q"},
                         {DiffClassification::Additive, "a"},
                         {DiffClassification::Additive, "c"},
                     }));
}

TEST(DiffPacks, OnlyPresenceHashAndStatusAreCompared) {
    ConceptDef renamed = concept_of("a", kActive);
    renamed.canonical_name = "Other";
    renamed.owner = "someone else";
    EXPECT_TRUE(
        diff_packs(pack_of({concept_of("a", kActive)}), pack_of({renamed})).entries.empty());
    // A fingerprint change with an increased version and no concept change gives nothing.
    EXPECT_TRUE(diff_packs(pack_of({}, "f", "1"), pack_of({}, "g", "2")).entries.empty());
}

TEST(DiffPacks, ALaterDuplicateIdStandsForTheId) {
    const auto diff =
        diff_packs(pack_of({concept_of("a", kActive)}),
                   pack_of({concept_of("a", kRejected), concept_of("a", kDeprecated)}));
    ASSERT_EQ(diff.entries.size(), 1u);
    EXPECT_EQ(diff.entries[0].detail, "Status changed: active -> deprecated");
}

TEST(DiffPackDocuments, TheOldDocumentIsReadFirst) {
    auto both_bad = diff_pack_documents("[", "{}");
    ASSERT_FALSE(both_bad.ok());
    EXPECT_EQ(both_bad.error().kind(), DiffError::Kind::OldPack);
    EXPECT_TRUE(both_bad.error().to_string().starts_with("old pack: "));
    auto new_bad = diff_pack_documents(pack_text(), "{}");
    ASSERT_FALSE(new_bad.ok());
    EXPECT_EQ(new_bad.error().kind(), DiffError::Kind::NewPack);
    EXPECT_EQ(new_bad.error().to_string(),
              "new pack: missing field `schema_version` at line 1 column 2");
    auto escaped = diff_pack_documents(
        pack_text(), pack_text(R"([{"id":"q\"\n","canonical_name":"N","kind":"entity",)"
                               R"("status":"active","definition":{"text":"t",)"
                               R"("definition_hash":"h","decision_ref":"d"},"owner":"o"}])"));
    ASSERT_TRUE(escaped.ok());
    EXPECT_NE(escaped->find(R"x("subject_id":"q\"\n","detail":"Added concept 'N' (active)")x"),
              std::string::npos)
        << *escaped;
}

} // namespace
} // namespace vok::semantic_pack
