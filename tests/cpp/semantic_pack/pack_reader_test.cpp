// Reading pack documents: the record conventions, defaults, and the first error in text order.
#include <gtest/gtest.h>

#include "pack_test_util.h"
#include "semantic_pack/semantic_pack.h"

namespace vok::semantic_pack {
namespace {

using testing::pack_text;
using testing::read_pack;

std::string read_error(const std::string& text) {
    auto pack = parse_semantic_pack(text);
    EXPECT_FALSE(pack.ok());
    return pack.ok() ? "" : pack.error().message();
}

std::string concept_text(const std::string& extra) {
    return R"([{"id":"c","canonical_name":"C","kind":"entity","status":"active",)"
           R"("definition":{"text":"t","definition_hash":"h","decision_ref":"d"},"owner":"o")" +
           extra + "}]";
}

TEST(PackReader, DefaultsOfAMinimalConceptAndCompatibility) {
    SemanticPack pack = read_pack(pack_text(concept_text("")));
    ASSERT_EQ(pack.concepts.size(), 1u);
    const ConceptDef& c = pack.concepts[0];
    EXPECT_TRUE(c.source_refs.empty() && c.examples.empty() && c.counterexamples.empty() &&
                c.allowed_predicates.empty() && c.valid_contexts.empty());
    EXPECT_EQ(pack.compatibility, CompatibilityInfo{});
    EXPECT_EQ(pack.trust.approval_state, ApprovalState::Approved);
    EXPECT_FALSE(pack.trust.signature.has_value());
}

TEST(PackReader, GoldenInputsReadAndNothingIsJudged) {
    SemanticPack minimal = read_pack(testing::slurp(testing::golden_dir() / "minimal.input.json"));
    EXPECT_EQ(minimal.schema_version, "9");
    ASSERT_EQ(minimal.concepts.size(), 2u);
    EXPECT_EQ(minimal.concepts[0].id, minimal.concepts[1].id);
    ASSERT_EQ(minimal.metrics.size(), 1u);
    EXPECT_TRUE(minimal.metrics[0].source_refs.empty());

    SemanticPack full = read_pack(testing::slurp(testing::golden_dir() / "full.input.json"));
    EXPECT_EQ(full.concepts[1].source_refs.size(), 0u);
    EXPECT_EQ(full.concepts[0].source_refs[1].end_byte, 18446744073709551615u);
    EXPECT_EQ(full.concepts[0].source_refs[1].start_line, 4294967295u);
    EXPECT_FALSE(full.relations[0].cardinality.has_value());
    EXPECT_FALSE(full.trust.signature.has_value());
    EXPECT_EQ(full.compatibility.replaces_pack_ids, (std::vector<std::string>{"old-b", "old-a"}));
}

TEST(PackReader, ArrayFormAndShuffledKeysReadToTheSamePack) {
    SemanticPack pack = read_pack(pack_text(concept_text("")));
    // The document as written, keys reversed by reading its values back as an array.
    std::string text = pack.serialize();
    EXPECT_EQ(read_pack(text), pack);
    SemanticPack from_array =
        read_pack(testing::slurp(testing::golden_dir() / "minimal.input.json"));
    EXPECT_EQ(read_pack(from_array.serialize()), from_array);
}

struct RefusedCase {
    const char* name;
    std::string text;
    std::string message;
};

class PackReaderRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(PackReaderRefuses, WithTheMessageOfTheFirstProblem) {
    EXPECT_EQ(read_error(GetParam().text), GetParam().message);
}

std::string replaced(std::string text, const std::string& piece, const std::string& by) {
    return text.replace(text.find(piece), piece.size(), by);
}

std::string without(const std::string& text, const std::string& piece) {
    return replaced(text, piece, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackReaderRefuses,
    ::testing::Values(
        RefusedCase{
            "missing_trust",
            without(pack_text(),
                    R"("trust":{"approval_state":"approved","signature_state":"unsigned"},)"),
            "missing field `trust`"},
        RefusedCase{"missing_compatibility", without(pack_text(), R"(,"compatibility":{})"),
                    "missing field `compatibility`"},
        RefusedCase{
            "first_missing_in_declared_order",
            without(without(pack_text(), R"("pack_id":"p",)"),
                    R"("trust":{"approval_state":"approved","signature_state":"unsigned"},)"),
            "missing field `pack_id`"},
        RefusedCase{"duplicate_key", R"({"pack_id":"p","pack_id":"p"})",
                    "duplicate field `pack_id`"},
        RefusedCase{
            "short_array",
            R"(["","","","","","","","","","","",["g","1"],["approved","unsigned",null,null,null],[],[],[],[],[],[],[]])",
            "invalid length 20, expected struct SemanticPack with 21 elements"},
        RefusedCase{"not_an_object", "3",
                    "invalid type: integer `3`, expected struct SemanticPack"},
        RefusedCase{"source_refs_null", pack_text(concept_text(R"(,"source_refs":null)")),
                    "invalid type: null, expected a sequence"},
        RefusedCase{"examples_null", pack_text(concept_text(R"(,"examples":null)")),
                    "invalid type: null, expected a sequence"},
        RefusedCase{
            "capital_status",
            pack_text(R"([{"id":"c","canonical_name":"C","kind":"entity","status":"Active"}])"),
            "unknown variant `Active`, expected one of `active`, `proposed`, `deprecated`, "
            "`rejected`, `external_only`"},
        RefusedCase{
            "approval_state_capital",
            replaced(pack_text(), R"("approval_state":"approved")",
                     R"("approval_state":"Approved")"),
            "unknown variant `Approved`, expected one of `candidate`, `approved`, `rejected`"},
        RefusedCase{
            "negative_line",
            pack_text(concept_text(
                R"(,"source_refs":[{"uri":"u","start_byte":0,"end_byte":0,"start_line":-1,"start_col":0,"end_line":0,"end_col":0}])")),
            "invalid value: integer `-1`, expected u32"},
        RefusedCase{
            "line_beyond_32_bits",
            pack_text(concept_text(
                R"(,"source_refs":[{"uri":"u","start_byte":0,"end_byte":0,"start_line":4294967296,"start_col":0,"end_line":0,"end_col":0}])")),
            "invalid value: integer `4294967296`, expected u32"},
        RefusedCase{"trailing_text", pack_text() + " x", "trailing characters"},
        RefusedCase{"empty_text", "  ", "EOF while parsing a value"}),
    [](const auto& info) { return info.param.name; });

TEST(PackReader, MappingRuleConfidenceIsAStringOnly) {
    std::string rules =
        R"({"id":"m","source_term":"s","target_concept_id":"c","confidence":0.5,"decision_ref":"d"})";
    std::string text =
        replaced(pack_text(), R"("mapping_rules":[])", R"("mapping_rules":[)" + rules + "]");
    EXPECT_EQ(read_error(text), "invalid type: floating point `0.5`, expected a string");
}

TEST(PackReader, ErrorsCarryThePositionWhereReadingStopped) {
    auto pack = parse_semantic_pack("{\n\"pack_id\":\"p\",\n\"pack_id\":\"q\"}");
    ASSERT_FALSE(pack.ok());
    EXPECT_EQ(pack.error().to_string(), "duplicate field `pack_id` at line 3 column 9");
}

TEST(PackReader, NestingLimitCountsSkippedValues) {
    auto nested = [](int levels) {
        // The pack object is level 1; the unknown value opens the remaining levels.
        return "{\"x\":" + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
    };
    EXPECT_EQ(read_error(nested(127)), "missing field `schema_version`");
    EXPECT_EQ(read_error(nested(128)), "recursion limit exceeded");
    EXPECT_EQ(read_error(nested(100000)), "recursion limit exceeded");
}

} // namespace
} // namespace vok::semantic_pack
