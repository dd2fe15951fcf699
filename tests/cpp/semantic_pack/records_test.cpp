// The records around a pack: their written forms, defaults and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "semantic_pack/diagnostic.h"
#include "semantic_pack/diff_entry.h"
#include "semantic_pack/metric_def.h"
#include "semantic_pack/relation_def.h"
#include "semantic_pack/review_record.h"
#include "semantic_pack/validation_options.h"
#include "semantic_pack/validation_result.h"
#include "json/text_deserializer.h"

namespace vok::semantic_pack {
namespace {

template <class T> T read_ok(const std::string& text) {
    auto value = read_text<T>(text);
    if (!value.ok()) ADD_FAILURE() << text << ": " << value.error().to_string();
    return value.ok() ? std::move(*value) : T{};
}

template <class T> std::string read_refused(const std::string& text) {
    auto value = read_text<T>(text);
    EXPECT_FALSE(value.ok()) << text;
    return value.ok() ? "" : value.error().message();
}

template <class T> std::string written(const T& record) {
    std::string out;
    RecordWriter w(out, RecordWriter::KeyOrder::Document);
    write_json(w, record);
    return out;
}

TEST(Records, AbsentOptionalTextsAreLeftOutWithTheirKeys) {
    auto relation = read_ok<RelationDef>(
        R"({"id":"r","predicate":"p","subject_id":"a","object_id":"b","cardinality":null})");
    EXPECT_EQ(written(relation),
              R"({"id":"r","predicate":"p","subject_id":"a","object_id":"b","source_refs":[]})");
    auto metric = read_ok<MetricDef>(R"({"id":"m","name":"M","unit_id":null})");
    EXPECT_EQ(written(metric), R"({"id":"m","name":"M","source_refs":[]})");
    // The array form may leave off the defaulted list at its end, not an optional text.
    EXPECT_EQ(read_ok<MetricDef>(R"(["m","M",null,null])"), metric);
    EXPECT_EQ(read_refused<MetricDef>(R"(["m","M",null])"),
              "invalid length 3, expected struct MetricDef with 5 elements");
}

TEST(Records, SourceAndPackReferencesKeepTheirNumbers) {
    SourceRef ref{"u", 18446744073709551615u, 0, 4294967295u, 1, 2, 3};
    EXPECT_EQ(ref.serialize(),
              R"({"uri":"u","start_byte":18446744073709551615,"end_byte":0,)"
              R"("start_line":4294967295,"start_col":1,"end_line":2,"end_col":3})");
    EXPECT_EQ(read_ok<SourceRef>(ref.serialize()), ref);
    for (int32_t priority : {int32_t{-1}, INT32_MIN, INT32_MAX}) {
        PackRef pack_ref{"p", "h", "pack://p", priority};
        EXPECT_EQ(read_ok<PackRef>(pack_ref.serialize()), pack_ref);
    }
    EXPECT_EQ(
        (PackRef{"p", "h", "x", INT32_MIN}).serialize(),
        R"({"pack_id":"p","pack_content_hash":"h","path_or_uri":"x","priority":-2147483648})");
    EXPECT_EQ(
        read_refused<PackRef>(
            R"({"pack_id":"p","pack_content_hash":"h","path_or_uri":"x","priority":2147483648})"),
        "invalid value: integer `2147483648`, expected i32");
    EXPECT_EQ(pack_source_ref("a/b c"), SourceRef::from_uri("brisvandole://semantic-pack/a/b c"));

    // The generic-value form has the same members as the text form.
    json::Object object;
    write_value_source_refs_entry(object, {ref, SourceRef{}});
    auto expected =
        json::parse(R"({"source_refs":[)" + ref.serialize() + "," + SourceRef{}.serialize() + "]}");
    ASSERT_TRUE(expected.ok());
    EXPECT_EQ(json::Value(std::move(object)), *expected);
    EXPECT_EQ(SourceRef::from_uri(""), SourceRef{});
}

TEST(Records, ReviewRecords) {
    const std::string base = R"("decision_id":"d","subject_type":"concept","subject_id":"c",)"
                             R"("rationale":"r","reviewer":"me","reviewed_at":"t",)"
                             R"("definition_hash":"h")";
    auto plain = read_ok<ReviewRecord>("{" + base + R"(,"decision":"approve"})");
    EXPECT_EQ(read_ok<ReviewRecord>("{" + base +
                                    R"(,"decision":"approve","previous_definition_hash":null})"),
              plain);
    EXPECT_EQ(plain.serialize().find("previous_definition_hash"), std::string::npos);
    EXPECT_EQ(read_refused<ReviewRecord>("{" + base + R"(,"decision":"approved"})"),
              "unknown variant `approved`, expected one of `approve`, `reject`, `deprecate`, "
              "`merge_into`, `split_required`, `needs_definition`, `needs_owner`, "
              "`minor_amendment_no_semantic_change`");
    EXPECT_EQ(read_refused<ReviewRecord>(R"({"decision_id":"d","decision":"reject"})"),
              "missing field `subject_type`");
}

TEST(Records, ValidationOptionsDefaultEveryKeyButRefuseNull) {
    EXPECT_EQ(read_ok<ValidationOptions>("{}"), ValidationOptions{});
    auto options = read_ok<ValidationOptions>(R"({"deprecated_policy":"error_always","x":[1]})");
    ValidationOptions expected;
    expected.deprecated_policy = DeprecatedConceptPolicy::ErrorAlways;
    EXPECT_EQ(options, expected);
    expected = {};
    expected.mode = ValidationMode::Strict;
    EXPECT_EQ(read_ok<ValidationOptions>(R"(["strict"])"), expected);
    EXPECT_EQ(read_ok<ValidationOptions>("[]"), ValidationOptions{});
    EXPECT_EQ(read_refused<ValidationOptions>(R"({"unknown_concept_policy":"Error"})"),
              "unknown variant `Error`, expected one of `ignore`, `warning`, `error`");
    EXPECT_EQ(read_refused<ValidationOptions>(R"({"mode":null})"), "expected value");
    EXPECT_EQ(read_refused<ValidationOptions>(R"({"require_signed_pack":null})"),
              "invalid type: null, expected a boolean");
    EXPECT_EQ(read_refused<ValidationOptions>("null"),
              "invalid type: null, expected struct ValidationOptions");
    EXPECT_EQ(read_refused<ValidationOptions>(R"({"mode":"warn","mode":"warn"})"),
              "duplicate field `mode`");
}

SemanticDiagnostic diagnostic(DiagnosticCode code, std::string uri, uint64_t start,
                              std::string message) {
    SemanticDiagnostic d;
    d.code = code;
    d.source_ref = SourceRef{std::move(uri), start, 0, 0, 0, 0, 0};
    d.message = std::move(message);
    return d;
}

TEST(Diagnostics, WrittenWithAllEightKeysAndReadBack) {
    SemanticDiagnostic d = diagnostic(DiagnosticCode::PackUnsigned, "u", 0, "say \"hi\"\nnow");
    d.severity = DiagnosticSeverity::Hint;
    d.semantic_truth = SemanticTruth::Unknown;
    d.pack_ref = PackRef{"p", "h", "pack://p", 0};
    const std::string text = diagnostic_to_json_string(d);
    EXPECT_EQ(text, R"({"code":"pack_unsigned","severity":"hint","semantic_truth":"unknown",)"
                    R"("message":"say \"hi\"\nnow","source_ref":{"uri":"u","start_byte":0,)"
                    R"("end_byte":0,"start_line":0,"start_col":0,"end_line":0,"end_col":0},)"
                    R"("pack_ref":{"pack_id":"p","pack_content_hash":"h","path_or_uri":"pack://p",)"
                    R"("priority":0},"suggestions":[],"recoverability_hint":""})");
    EXPECT_EQ(read_ok<SemanticDiagnostic>(text), d);

    std::string without_suggestions = text;
    without_suggestions.erase(without_suggestions.find(R"("suggestions":[],)"), 17);
    EXPECT_EQ(read_ok<SemanticDiagnostic>(without_suggestions), d);
    std::string without_hint = text;
    without_hint.erase(without_hint.find(R"(,"recoverability_hint":"")"), 25);
    EXPECT_EQ(read_refused<SemanticDiagnostic>(without_hint),
              "missing field `recoverability_hint`");
    EXPECT_TRUE(read_refused<SemanticDiagnostic>(R"({"severity":"Error"})")
                    .starts_with("unknown variant `Error`, expected one of `error`, `warning`"));
}

TEST(Diagnostics, EveryCodeNameReadsBackToItsCode) {
    for (size_t i = 0; i < enum_count<DiagnosticCode>(); ++i) {
        SemanticDiagnostic d = diagnostic(static_cast<DiagnosticCode>(i), "u", 0, "m");
        EXPECT_EQ(read_ok<SemanticDiagnostic>(diagnostic_to_json_string(d)).code, d.code);
    }
}

TEST(Diagnostics, OrderedByUriStartCodeNameAndMessage) {
    std::vector<SemanticDiagnostic> list = {
        diagnostic(DiagnosticCode::UnknownConcept, "p", 0, "m"),
        diagnostic(DiagnosticCode::InvalidRelation, "p", 0, "m"),
        diagnostic(DiagnosticCode::MissingDefinition, "p", 0, "a"),
        diagnostic(DiagnosticCode::DuplicateCanonicalName, "p", 0, "z"),
        diagnostic(DiagnosticCode::UnknownConcept, "p", 10, "a"),
        diagnostic(DiagnosticCode::UnknownConcept, "p", 9, "b"),
        diagnostic(DiagnosticCode::UnknownConcept, "", 99, "c"),
    };
    std::stable_sort(list.begin(), list.end(), diagnostic_less);
    std::vector<std::string> order;
    for (const auto& d : list)
        order.push_back(d.source_ref.uri + std::to_string(d.source_ref.start_byte) + ":" +
                        std::string(json_name(d.code)));
    EXPECT_EQ(order, (std::vector<std::string>{"99:unknown_concept", "p0:duplicate_canonical_name",
                                               "p0:invalid_relation", "p0:missing_definition",
                                               "p0:unknown_concept", "p9:unknown_concept",
                                               "p10:unknown_concept"}));
}

TEST(Diagnostics, SuggestionsByRankDescendingThenLabel) {
    std::vector<Suggestion> s = {{"b", 3}, {"c", 9}, {"a", 9}};
    std::stable_sort(s.begin(), s.end(), suggestion_less);
    EXPECT_EQ(s, (std::vector<Suggestion>{{"a", 9}, {"c", 9}, {"b", 3}}));
    EXPECT_EQ(read_refused<Suggestion>(R"({"label":"x","rank":-1})"),
              "invalid value: integer `-1`, expected u32");
}

TEST(ValidationResults, OptionalTextsAreLeftOutAndRequiredKeysRefused) {
    SemanticValidationResult result;
    result.status = SemanticValidationStatus::Blocked;
    result.expected_hashes = {ExpectedHashCheck{"pack", "h1", std::nullopt, false}};
    result.pack_set_ref = PackSetRef{"m", {PackRef{"p", "h", "pack://p", -1}}};
    result.diagnostics = {diagnostic(DiagnosticCode::PackUnsigned, "u", 0, "m")};
    const std::string text = result.serialize();
    EXPECT_EQ(text.find("evidence_ref"), std::string::npos);
    EXPECT_EQ(text.find("actual_hash"), std::string::npos);
    EXPECT_EQ(read_ok<SemanticValidationResult>(text), result);
    result.evidence_ref = "e";
    result.expected_hashes[0].actual_hash = "h2";
    EXPECT_EQ(read_ok<SemanticValidationResult>(result.serialize()), result);

    std::string missing = text;
    missing.replace(missing.find("\"expected_hashes\""), 17, "\"other\"");
    EXPECT_EQ(read_refused<SemanticValidationResult>(missing), "missing field `expected_hashes`");
}

TEST(DiffEntries, OrderedByClassificationRankThenSubject) {
    std::vector<PackDiffEntry> entries = {
        {"concept", "b", "", DiffClassification::Additive},
        {"concept", "a", "", DiffClassification::SignatureOnly},
        {"concept", "z", "", DiffClassification::Breaking},
        {"concept", "a", "", DiffClassification::Additive},
        {"pack", "m", "", DiffClassification::GovernanceCritical},
    };
    std::stable_sort(entries.begin(), entries.end(), diff_entry_less);
    std::string order;
    for (const auto& e : entries)
        order += e.subject_id;
    EXPECT_EQ(order, "zmaba");
}

TEST(Enumerations, OneKeyObjectWithNullIsAccepted) {
    auto options = read_ok<ValidationOptions>(R"({"mode":{"strict":null}})");
    EXPECT_EQ(options.mode, ValidationMode::Strict);
    EXPECT_FALSE(read_text<ValidationOptions>(R"({"mode":{"strict":1}})").ok());
}

} // namespace
} // namespace vok::semantic_pack
