// Pack validation: the structural checks in their order, and a source validated against a pack.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "semantic_pack/pack_validation.h"

namespace vok::semantic_pack {
namespace {

ConceptDef concept_def(std::string id, std::string name,
                       ConceptStatus status = ConceptStatus::Active) {
    ConceptDef c;
    c.id = std::move(id);
    c.canonical_name = std::move(name);
    c.status = status;
    c.definition.text = "defined";
    c.owner = "owner";
    return c;
}

AliasDef alias(std::string text, std::string target) {
    AliasDef a;
    a.alias = std::move(text);
    a.normalized_alias = a.alias;
    a.target_concept_id = std::move(target);
    return a;
}

RelationDef relation(std::string id, std::string subject, std::string object) {
    RelationDef r;
    r.id = std::move(id);
    r.predicate = "owns";
    r.subject_id = std::move(subject);
    r.object_id = std::move(object);
    return r;
}

MetricDef metric(std::string id, std::optional<std::string> dimension = std::nullopt,
                 std::optional<std::string> unit = std::nullopt) {
    MetricDef m;
    m.id = std::move(id);
    m.name = m.id;
    m.dimension_id = std::move(dimension);
    m.unit_id = std::move(unit);
    return m;
}

SemanticPack sound_pack() {
    SemanticPack pack;
    pack.schema_version = "0.3";
    pack.pack_id = "p";
    pack.concepts = {concept_def("a", "A"), concept_def("b", "B")};
    return pack;
}

std::vector<std::string> messages(const std::vector<SemanticDiagnostic>& diagnostics) {
    std::vector<std::string> out;
    for (const auto& d : diagnostics)
        out.push_back(d.message);
    return out;
}

using Messages = std::vector<std::string>;

TEST(PackStructure, SoundPackHasNoFindings) {
    EXPECT_TRUE(validate_pack_structure(sound_pack()).empty());
}

TEST(PackStructure, EveryFindingPointsAtThePackWithItsReference) {
    SemanticPack pack = sound_pack();
    pack.schema_version = "0.3 ";
    const auto found = validate_pack_structure(pack);
    ASSERT_EQ(found.size(), 1u);
    const SemanticDiagnostic& d = found[0];
    EXPECT_EQ(d.code, DiagnosticCode::PackSchemaMismatch);
    EXPECT_EQ(d.message, "Expected schema_version '0.3', got '0.3 '");
    EXPECT_EQ(d.recoverability_hint, "Update schema_version to 0.3");
    EXPECT_EQ(d.severity, DiagnosticSeverity::Error);
    EXPECT_EQ(d.semantic_truth, SemanticTruth::Invalid);
    EXPECT_EQ(d.source_ref, pack_source_ref("p"));
    EXPECT_EQ(d.pack_ref, PackRef::for_pack(pack));
    EXPECT_EQ(d.pack_ref.path_or_uri, "pack://p");
    EXPECT_EQ(d.pack_ref.pack_content_hash, pack.content_hash());
    EXPECT_TRUE(d.suggestions.empty());
}

TEST(PackStructure, RepeatedIdsAreReportedOnceEachAndNotAsNames) {
    SemanticPack pack = sound_pack();
    pack.concepts = {concept_def("x", "Same"), concept_def("x", "Same"), concept_def("x", "Same")};
    EXPECT_EQ(messages(validate_pack_structure(pack)),
              (Messages{"Duplicate concept ID: 'x'", "Duplicate concept ID: 'x'"}));
}

TEST(PackStructure, NamesClashByLookupKeyAndNameTheFirstIdFirst) {
    SemanticPack pack = sound_pack();
    pack.concepts = {concept_def("one", "Net  Revenue"), concept_def("two", "net revenue"),
                     concept_def("three", "NET\tREVENUE")};
    EXPECT_EQ(messages(validate_pack_structure(pack)),
              (Messages{"Duplicate canonical name 'net revenue' targets 'one' and 'two'",
                        "Duplicate canonical name 'NET\tREVENUE' targets 'one' and 'three'"}));
}

TEST(PackStructure, DefinitionAndOwnerAreCheckedForActiveAndProposedOnly) {
    SemanticPack pack = sound_pack();
    pack.concepts.clear();
    for (auto status : {ConceptStatus::Proposed, ConceptStatus::Deprecated, ConceptStatus::Rejected,
                        ConceptStatus::ExternalOnly, ConceptStatus::Active}) {
        ConceptDef c =
            concept_def(std::string(json_name(status)), std::string(json_name(status)), status);
        c.definition.text.clear();
        c.owner.clear();
        pack.concepts.push_back(c);
    }
    pack.concepts.back().definition.text = " ";
    const auto found = validate_pack_structure(pack);
    EXPECT_EQ(messages(found), (Messages{"Active concept 'proposed' has no definition",
                                         "Active concept 'proposed' has no owner",
                                         "Active concept 'active' has no owner"}));
    EXPECT_EQ(found[0].severity, DiagnosticSeverity::Warning);
    EXPECT_EQ(found[0].semantic_truth, SemanticTruth::Unknown);
    EXPECT_EQ(found[1].recoverability_hint, "Assign an owner");
}

TEST(PackStructure, ReferencesMustLandOnRecordsOfThePack) {
    SemanticPack pack = sound_pack();
    pack.concepts.push_back(concept_def("gone", "Gone", ConceptStatus::Rejected));
    pack.aliases = {alias("G", "gone"), alias("Lost", "nowhere")};
    pack.relations = {relation("r", "s?", "o?"), relation("ok", "a", "b")};
    pack.dimensions.emplace_back().id = "mass";
    pack.units.emplace_back().id = "kg";
    pack.metrics = {metric("bare"), metric("m", "length", "lb"), metric("fine", "mass", "kg")};
    const auto found = validate_pack_structure(pack);
    EXPECT_EQ(messages(found), (Messages{"Alias 'Lost' targets unknown concept 'nowhere'",
                                         "Relation 'r' references unknown subject 's?'",
                                         "Relation 'r' references unknown object 'o?'",
                                         "Metric 'm' references unknown dimension 'length'",
                                         "Metric 'm' references unknown unit 'lb'"}));
    EXPECT_EQ(found[3].code, DiagnosticCode::UnknownDimension);
    EXPECT_EQ(found[4].severity, DiagnosticSeverity::Warning);
}

ValidationOptions options(ValidationMode mode, bool require_signed = false,
                          bool allow_fixtures = false) {
    ValidationOptions o;
    o.mode = mode;
    o.require_signed_pack = require_signed;
    o.allow_unsigned_test_fixtures = allow_fixtures;
    return o;
}

TEST(GraphValidation, FindingsAreSortedByCodeNameThenMessage) {
    SemanticPack pack = sound_pack();
    pack.relations = {relation("r", "s?", "o?")};
    pack.aliases = {alias("Lost", "nowhere")};
    pack.concepts[0].owner.clear();
    const auto result = validate_graph_with_pack(pack, "src", options(ValidationMode::Warn));
    EXPECT_EQ(
        messages(result.diagnostics),
        (Messages{"Relation 'r' references unknown object 'o?'",
                  "Relation 'r' references unknown subject 's?'", "Active concept 'a' has no owner",
                  "Alias 'Lost' targets unknown concept 'nowhere'"}));
    EXPECT_EQ(result.status, SemanticValidationStatus::Failed);
}

TEST(GraphValidation, StatusFollowsModeSeverityAndTruth) {
    SemanticPack errors = sound_pack();
    errors.schema_version = "0.3.0";
    SemanticPack warnings = sound_pack();
    warnings.concepts[0].owner.clear();
    using S = SemanticValidationStatus;
    using M = ValidationMode;
    EXPECT_EQ(validate_graph_with_pack(errors, "", options(M::Off)).status, S::Passed);
    EXPECT_EQ(validate_graph_with_pack(errors, "", options(M::Off)).diagnostics.size(), 1u);
    EXPECT_EQ(validate_graph_with_pack(errors, "", options(M::Warn)).status, S::Failed);
    EXPECT_EQ(validate_graph_with_pack(warnings, "", options(M::Warn)).status, S::Unknown);
    EXPECT_EQ(validate_graph_with_pack(warnings, "", options(M::Strict)).status, S::Failed);
    EXPECT_EQ(validate_graph_with_pack(sound_pack(), "", options(M::Strict)).status, S::Passed);
}

TEST(GraphValidation, UnsignedPackIsBlockedWithoutStructuralChecks) {
    SemanticPack pack = sound_pack();
    pack.schema_version = "broken";
    for (auto state : {SignatureState::Unsigned, SignatureState::InvalidSignature}) {
        pack.trust.signature_state = state;
        const auto result = validate_graph_with_pack(pack, "s", options(ValidationMode::Off, true));
        EXPECT_EQ(result.status, SemanticValidationStatus::Blocked);
        ASSERT_EQ(result.diagnostics.size(), 1u);
        EXPECT_EQ(result.diagnostics[0].code, DiagnosticCode::PackUnsigned);
        EXPECT_EQ(result.diagnostics[0].message, "Pack 'p' is unsigned but signature is required");
        EXPECT_EQ(result.diagnostics[0].recoverability_hint,
                  "Sign the pack or use --allow-unsigned-for-test-fixtures");
        EXPECT_EQ(result.input_hash, "");
        EXPECT_FALSE(result.unsigned_fixture_bypass_used);
    }
    pack.trust.signature_state = SignatureState::Signed;
    EXPECT_EQ(validate_graph_with_pack(pack, "s", options(ValidationMode::Warn, true)).status,
              SemanticValidationStatus::Failed);
}

TEST(GraphValidation, FixtureAllowanceRunsTheChecksAndIsCopiedIntoTheFlag) {
    SemanticPack pack = sound_pack();
    auto bypassed = validate_graph_with_pack(pack, "s", options(ValidationMode::Warn, true, true));
    EXPECT_EQ(bypassed.status, SemanticValidationStatus::Passed);
    EXPECT_TRUE(bypassed.unsigned_fixture_bypass_used);
    auto unrequired =
        validate_graph_with_pack(pack, "s", options(ValidationMode::Warn, false, true));
    EXPECT_TRUE(unrequired.unsigned_fixture_bypass_used);
}

TEST(GraphValidation, WrittenResultHasEightKeysAndHashesSourceWithPackId) {
    const SemanticPack pack = sound_pack();
    const auto result = validate_graph_with_pack(pack, "source", options(ValidationMode::Warn));
    const std::string hash = pack.content_hash();
    EXPECT_EQ(
        result.serialize(),
        R"({"status":"passed","diagnostics":[],"pack_set_ref":{"merged_pack_hash":")" + hash +
            R"(","pack_refs":[{"pack_id":"p","pack_content_hash":")" + hash +
            R"(","path_or_uri":"pack://p","priority":0}]},"input_hash":")" +
            crypto::sha256_hex(R"({"pack_id":"p","source_uri":"source"})") +
            R"(","validation_mode":"warn","expected_hashes":[],)"
            R"("unsigned_fixture_bypass_used":false,"first_approved_version_bypass_used":false})");
    EXPECT_NE(validate_graph_with_pack(pack, "other", {}).input_hash, result.input_hash);
}

TEST(GraphValidation, DiagnosticsArrayIsWrittenAsInTheResult) {
    SemanticPack pack = sound_pack();
    pack.schema_version = "x\"\n";
    const auto result = validate_graph_with_pack(pack, "", {});
    const std::string text = result.serialize();
    const std::string array = diagnostics_json(result.diagnostics);
    EXPECT_NE(text.find("\"diagnostics\":" + array + ",\"pack_set_ref\""), std::string::npos);
    EXPECT_EQ(diagnostics_json({}), "[]");
}

// A pack given up by its caller is hashed in place; the results are those of a kept pack.
TEST(GraphValidation, PackGivenUpGivesTheSameResults) {
    SemanticPack pack = sound_pack();
    pack.concepts.push_back(concept_def("0", "a"));
    pack.concepts[0].owner.clear();
    for (const ValidationOptions& o :
         {options(ValidationMode::Strict), options(ValidationMode::Warn, true)}) {
        const auto kept = validate_graph_with_pack(pack, "s", o);
        EXPECT_EQ(validate_graph_with_pack(SemanticPack(pack), "s", o), kept);
    }
    const auto kept = validate_pack_structure(pack);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(validate_pack_structure(SemanticPack(pack)), kept);
}

} // namespace
} // namespace vok::semantic_pack
