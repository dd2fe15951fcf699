// Concept resolution: the four candidate passes and the eight outcomes, in their order.
#include <gtest/gtest.h>

#include <string>

#include "semantic_pack/concept_resolution.h"

namespace vok::semantic_pack {
namespace {

ConceptDef concept_def(std::string id, std::string name,
                       ConceptStatus status = ConceptStatus::Active) {
    ConceptDef c;
    c.id = std::move(id);
    c.canonical_name = std::move(name);
    c.status = status;
    return c;
}

AliasDef alias(std::string key, std::string target, AliasStatus status = AliasStatus::Approved) {
    AliasDef a;
    a.alias = key;
    a.normalized_alias = std::move(key);
    a.target_concept_id = std::move(target);
    a.status = status;
    return a;
}

MappingRuleDef rule(std::string term, std::string target) {
    MappingRuleDef r;
    r.id = "m-" + term;
    r.source_term = std::move(term);
    r.target_concept_id = std::move(target);
    return r;
}

std::string resolved(const SemanticPack& pack, std::string_view text) {
    return resolve_concept(text, pack).serialize();
}

TEST(ConceptResolution, CleanResolutionHasNullCodeEmptyMessageAndValidTruth) {
    SemanticPack pack;
    pack.concepts = {concept_def("revenue", "Net Revenue")};
    EXPECT_EQ(resolved(pack, "  NET   revenue "),
              R"({"diagnostic_code":null,"message":"","resolved_concept_id":"revenue",)"
              R"("semantic_truth":"Valid","suggestions":[]})");
    EXPECT_EQ(resolved(pack, "revenue"), resolved(pack, "  NET   revenue "));
}

TEST(ConceptResolution, UnknownTextIsQuotedAsGiven) {
    SemanticPack pack;
    EXPECT_EQ(
        resolved(pack, " Gross\t\"x\" "),
        R"({"diagnostic_code":"unknown_concept","message":"Unknown concept: ' Gross\t\"x\" '",)"
        R"("resolved_concept_id":null,"semantic_truth":"Unknown","suggestions":[]})");
}

TEST(ConceptResolution, IdsAreComparedAsStoredNotNormalized) {
    SemanticPack pack;
    pack.concepts = {concept_def("Revenue", "Sales Income")};
    EXPECT_EQ(resolve_concept("Revenue", pack).diagnostic_code, DiagnosticCode::UnknownConcept);
    EXPECT_EQ(resolve_concept("sales income", pack).resolved_concept_id, "Revenue");
}

TEST(ConceptResolution, NameAndAliasOfOneConceptAreOneCandidate) {
    SemanticPack pack;
    pack.concepts = {concept_def("rev", "Revenue")};
    pack.aliases = {alias("revenue", "rev")};
    pack.mapping_rules = {rule("REVENUE", "rev")};
    const ConceptResolution r = resolve_concept("revenue", pack);
    EXPECT_EQ(r.diagnostic_code, std::nullopt);
    EXPECT_EQ(r.resolved_concept_id, "rev");
}

TEST(ConceptResolution, NameOfOneAndAliasOfAnotherIsAmbiguousConcept) {
    SemanticPack pack;
    pack.concepts = {concept_def("a", "Turnover"), concept_def("b", "Sales")};
    pack.aliases = {alias("turnover", "b")};
    EXPECT_EQ(resolved(pack, "Turnover"),
              R"({"diagnostic_code":"ambiguous_concept","message":"Ambiguous concept 'Turnover')"
              R"( resolves to: a, b","resolved_concept_id":null,"semantic_truth":"Unknown",)"
              R"("suggestions":[{"label":"a","rank":5},{"label":"b","rank":5}]})");
}

TEST(ConceptResolution, OnlyAmbiguousAliasesGiveAmbiguousAlias) {
    SemanticPack pack;
    pack.concepts = {concept_def("a", "A"), concept_def("b", "B")};
    pack.aliases = {alias("t", "b", AliasStatus::Ambiguous),
                    alias("t", "a", AliasStatus::Ambiguous)};
    const ConceptResolution r = resolve_concept("T", pack);
    EXPECT_EQ(r.diagnostic_code, DiagnosticCode::AmbiguousAlias);
    EXPECT_EQ(r.message, "Ambiguous alias 'T' targets multiple concepts: b, a");
    ASSERT_EQ(r.suggestions.size(), 2u);
    EXPECT_EQ(r.suggestions[0], (Suggestion{"b", 5}));

    pack.aliases.push_back(alias("t", "a", AliasStatus::Approved));
    EXPECT_EQ(resolve_concept("T", pack).diagnostic_code, DiagnosticCode::AmbiguousConcept);
}

TEST(ConceptResolution, DuplicateIdsFoundByIdAreOneConcept) {
    SemanticPack pack;
    pack.concepts = {concept_def("x", "One", ConceptStatus::Proposed), concept_def("x", "Two")};
    const ConceptResolution r = resolve_concept("x", pack);
    EXPECT_EQ(r.diagnostic_code, DiagnosticCode::ProposedConcept);
    EXPECT_EQ(r.resolved_concept_id, "x");
    EXPECT_EQ(r.semantic_truth, SemanticTruth::Unknown);
}

TEST(ConceptResolution, BlockedAliasConflictsOnlyWhenItsTargetExists) {
    SemanticPack pack;
    pack.concepts = {concept_def("a", "A")};
    pack.aliases = {alias("bad", "a", AliasStatus::Blocked)};
    const ConceptResolution r = resolve_concept("bad", pack);
    EXPECT_EQ(r.diagnostic_code, DiagnosticCode::AliasConflict);
    EXPECT_EQ(r.message, "Blocked alias: 'bad'");
    EXPECT_EQ(r.semantic_truth, SemanticTruth::Invalid);
    EXPECT_EQ(r.resolved_concept_id, std::nullopt);

    pack.aliases = {alias("bad", "missing", AliasStatus::Blocked)};
    EXPECT_EQ(resolve_concept("bad", pack).diagnostic_code, DiagnosticCode::UnknownConcept);
}

TEST(ConceptResolution, RejectedWinsOverAmbiguityAndBlockedAlias) {
    SemanticPack pack;
    pack.concepts = {concept_def("a", "Term"), concept_def("b", "Other", ConceptStatus::Rejected)};
    pack.aliases = {alias("term", "b", AliasStatus::Blocked)};
    const ConceptResolution r = resolve_concept("term", pack);
    EXPECT_EQ(r.diagnostic_code, DiagnosticCode::RejectedConcept);
    EXPECT_EQ(r.message, "Rejected concept: 'term'");
    EXPECT_EQ(r.resolved_concept_id, std::nullopt);
}

TEST(ConceptResolution, DeprecatedConceptOrAliasIsValidButFlagged) {
    SemanticPack pack;
    pack.concepts = {concept_def("a", "Old", ConceptStatus::Deprecated), concept_def("b", "New")};
    pack.aliases = {alias("newer", "b", AliasStatus::Deprecated)};
    for (const char* text : {"old", "newer"}) {
        const ConceptResolution r = resolve_concept(text, pack);
        EXPECT_EQ(r.diagnostic_code, DiagnosticCode::DeprecatedConcept) << text;
        EXPECT_EQ(r.semantic_truth, SemanticTruth::Valid) << text;
        EXPECT_EQ(r.message, std::string("Deprecated concept: '") + text + "'");
    }
}

TEST(ConceptResolution, ExternalOnlyResolvesAndMappingRulesAreNormalized) {
    SemanticPack pack;
    pack.concepts = {concept_def("ext", "Ext", ConceptStatus::ExternalOnly)};
    pack.mapping_rules = {rule("  Outside\u00A0Term ", "ext"), rule("outside term", "missing")};
    const ConceptResolution r = resolve_concept("outside term", pack);
    EXPECT_EQ(r.diagnostic_code, std::nullopt);
    EXPECT_EQ(r.resolved_concept_id, "ext");
}

TEST(ConceptResolution, StoredNormalizedAliasIsNotRecomputed) {
    SemanticPack pack;
    pack.concepts = {concept_def("a", "A")};
    pack.aliases = {alias("Upper", "a")};
    EXPECT_EQ(resolve_concept("upper", pack).diagnostic_code, DiagnosticCode::UnknownConcept);
}

} // namespace
} // namespace vok::semantic_pack
