// Record reading through both deserializers: the same messages, positions only from text.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "json/text_deserializer.h"
#include "json/value_deserializer.h"

namespace vok::json {
namespace {

constexpr std::array<std::string_view, 3> kKinds = {"Alpha", "Beta", "Gamma"};

struct Rec {
    std::string name;
    uint32_t count = 0;
    std::optional<std::string> note;
    size_t kind = 0;
};

Result<Rec, Error> read_rec(Deserializer& de) {
    Rec rec;
    Field fields[] = {
        {"name", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(rec.name, read_string(d));
             return Ok();
         }},
        {"count", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(rec.count, read_u32(d));
             return Ok();
         }},
        {"note", true,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(rec.note, read_string(d));
             return Ok();
         }},
        {"kind", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(rec.kind, read_unit_enum(d, kKinds));
             return Ok();
         }},
    };
    VOK_TRY(read_struct(de, "struct Rec", fields));
    return rec;
}

Result<Rec, Error> from_text(std::string_view text) {
    return read_document(text, &read_rec);
}

Result<Rec, Error> from_value(std::string_view text) {
    auto v = parse(text);
    if (!v.ok()) return Err(v.error());
    ValueDeserializer de(*v);
    return read_rec(de);
}

TEST(Records, ReadFromObjectsAndArrays) {
    for (auto read : {&from_text, &from_value}) {
        auto r = read(R"({"kind":{"Beta":null},"zz":[[[{"q":1}]]],"count":7,"name":"a"})");
        ASSERT_TRUE(r.ok()) << r.error().to_string();
        EXPECT_EQ(r->name, "a");
        EXPECT_EQ(r->count, 7u);
        EXPECT_FALSE(r->note.has_value());
        EXPECT_EQ(r->kind, 1u);

        r = read(R"(["b", 2, "why", "Gamma"])");
        ASSERT_TRUE(r.ok()) << r.error().to_string();
        EXPECT_EQ(r->note, "why");
        EXPECT_EQ(r->kind, 2u);

        r = read(R"({"name":"a","count":1,"kind":"Alpha","note":null})");
        ASSERT_TRUE(r.ok());
        EXPECT_FALSE(r->note.has_value());
    }
}

struct TypedCase {
    std::string input;
    std::string from_text;
    std::string from_value;
};

class RecordErrors : public ::testing::TestWithParam<TypedCase> {};

TEST_P(RecordErrors, SameMessagePositionOnlyFromText) {
    auto t = from_text(GetParam().input);
    ASSERT_FALSE(t.ok());
    EXPECT_EQ(t.error().to_string(), GetParam().from_text);
    auto v = from_value(GetParam().input);
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.error().to_string(), GetParam().from_value);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RecordErrors,
    ::testing::Values(
        TypedCase{R"({"name":"a","kind":"Beta"})", "missing field `count` at line 1 column 26",
                  "missing field `count`"},
        TypedCase{R"({"name":5})",
                  "invalid type: integer `5`, expected a string at line 1 column 9",
                  "invalid type: integer `5`, expected a string"},
        TypedCase{R"({"name":"a","count":4294967296})",
                  "invalid value: integer `4294967296`, expected u32 at line 1 column 30",
                  "invalid value: integer `4294967296`, expected u32"},
        TypedCase{R"({"name":"a","count":-1})",
                  "invalid value: integer `-1`, expected u32 at line 1 column 22",
                  "invalid value: integer `-1`, expected u32"},
        TypedCase{R"({"name":"a","count":1.5})",
                  "invalid type: floating point `1.5`, expected u32 at line 1 column 23",
                  "invalid type: floating point `1.5`, expected u32"},
        TypedCase{R"({"name":"a","count":1,"kind":"Delta"})",
                  "unknown variant `Delta`, expected one of `Alpha`, `Beta`, `Gamma` at line 1 "
                  "column 36",
                  "unknown variant `Delta`, expected one of `Alpha`, `Beta`, `Gamma`"},
        TypedCase{R"(["a",1])",
                  "invalid length 2, expected struct Rec with 4 elements at line 1 column 7",
                  "invalid length 2, expected struct Rec with 4 elements"},
        TypedCase{R"(["a",1,null,"Beta",5])", "trailing characters at line 1 column 20",
                  "invalid length 5, expected fewer elements in array"},
        TypedCase{"5", "invalid type: integer `5`, expected struct Rec at line 1 column 1",
                  "invalid type: integer `5`, expected struct Rec"},
        TypedCase{R"("x")", "invalid type: string \"x\", expected struct Rec at line 1 column 3",
                  "invalid type: string \"x\", expected struct Rec"},
        TypedCase{R"(null)", "invalid type: null, expected struct Rec at line 1 column 4",
                  "invalid type: null, expected struct Rec"}));

TEST(Records, DuplicateFieldIsRefusedWhereTheRepeatedKeyEnds) {
    auto t = from_text(R"({"name":"a","name":"b"})");
    ASSERT_FALSE(t.ok());
    EXPECT_EQ(t.error().to_string(), "duplicate field `name` at line 1 column 18");
}

TEST(Records, TextAfterTheDocumentIsRefused) {
    auto t = from_text(R"({"name":"a","count":1,"kind":"Beta"} x)");
    ASSERT_FALSE(t.ok());
    EXPECT_EQ(t.error().to_string(), "trailing characters at line 1 column 38");
}

TEST(Records, UnknownKeysAreSkippedWithoutRecursion) {
    std::string deep = std::string(200000, '[') + std::string(200000, ']');
    auto t = from_text(R"({"junk":)" + deep + R"(,"name":"a","count":1,"kind":"Beta"})");
    EXPECT_TRUE(t.ok()) << t.error().to_string();
}

TEST(Records, SkippedValuesCanBeMadeToCountTowardsTheNestingLimit) {
    auto read = [](const std::string& junk) {
        const std::string text = R"({"junk":)" + junk + R"(,"name":"a","count":1,"kind":"Beta"})";
        TextDeserializer de(text);
        de.count_levels_when_skipping();
        auto rec = read_rec(de);
        return rec.ok() ? std::string("ok") : rec.error().to_string();
    };
    // The record is the first level: 127 levels in all are read, the 128th is refused.
    EXPECT_EQ(read(std::string(126, '[') + std::string(126, ']')), "ok");
    EXPECT_EQ(read(std::string(127, '[') + std::string(127, ']')),
              "recursion limit exceeded at line 1 column 135");
    std::string objects;
    for (int i = 0; i < 200000; ++i)
        objects += R"({"a":)";
    EXPECT_EQ(read(objects), "recursion limit exceeded at line 1 column 639");
}

// A record with a defaulted list between a required and an optional field.
struct Defaulted {
    std::string name;
    std::vector<std::string> tags{"default"};
    std::optional<std::string> note;
};

Result<Defaulted, Error> read_defaulted(Deserializer& de, size_t field_count) {
    Defaulted rec;
    Field fields[] = {
        {"name", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(rec.name, read_string(d));
             return Ok();
         }},
        {"tags", false,
         [&](Deserializer& d) -> Status {
             rec.tags.clear();
             return read_seq(d, "a sequence", [&](Deserializer& e) -> Status {
                 VOK_ASSIGN(std::string t, read_string(e));
                 rec.tags.push_back(std::move(t));
                 return Ok();
             });
         },
         true},
        {"note", true,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(rec.note, read_string(d));
             return Ok();
         }},
    };
    VOK_TRY(read_struct(de, "struct Defaulted", std::span<Field>(fields, field_count)));
    return rec;
}

std::string read_defaulted_text(const std::string& text, size_t field_count = 3) {
    auto v = parse(text);
    if (!v.ok()) return v.error().to_string();
    ValueDeserializer de(*v);
    auto rec = read_defaulted(de, field_count);
    if (!rec.ok()) return rec.error().to_string();
    std::string out = rec->name + "|";
    for (const auto& t : rec->tags)
        out += t + ",";
    return out + "|" + rec->note.value_or("-");
}

TEST(Records, DefaultedFieldsMayBeLeftOutButNotNull) {
    EXPECT_EQ(read_defaulted_text(R"({"name":"a"})"), "a|default,|-");
    EXPECT_EQ(read_defaulted_text(R"({"name":"a","tags":["x"]})"), "a|x,|-");
    EXPECT_EQ(read_defaulted_text(R"({"name":"a","tags":null})"),
              "invalid type: null, expected a sequence");
    // In array form a defaulted element may be missing only when nothing required follows.
    EXPECT_EQ(read_defaulted_text(R"(["a"])", 2), "a|default,|-");
    EXPECT_EQ(read_defaulted_text(R"(["a"])"),
              "invalid length 2, expected struct Defaulted with 3 elements");
    EXPECT_EQ(read_defaulted_text(R"([])", 1),
              "invalid length 0, expected struct Defaulted with 1 element");
}

} // namespace
} // namespace vok::json
