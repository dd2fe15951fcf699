// The common field rows: each reads its kind of value into the caller's variable, and refuses a
// wrong one with the message every record reader gives for that kind.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "json/record_reader.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::json {
namespace {

enum class Shade : uint8_t { Light, Dark };
constexpr std::array<std::string_view, 2> kShades = {"Light", "Dark"};

struct Inner {
    std::string id;
};

Result<Inner, Error> read_inner(Deserializer& de) {
    Inner inner;
    Field fields[] = {string_field("id", inner.id)};
    VOK_TRY(read_struct(de, "struct Inner", fields));
    return inner;
}

struct Row {
    std::string name;
    std::optional<std::string> note;
    bool flag = false;
    std::vector<std::string> tags{"default"};
    Value extra;
    std::optional<double> weight;
    Shade shade = Shade::Light;
    Inner inner;
    std::optional<Inner> spare;
    std::vector<Inner> items;
};

Result<Row, Error> read_row(Deserializer& de) {
    Row row;
    Field fields[] = {
        string_field("name", row.name),
        optional_string_field("note", row.note),
        bool_field("flag", row.flag),
        defaulted(string_list_field("tags", row.tags)),
        value_field("extra", row.extra),
        optional_f64_field("weight", row.weight),
        enum_field("shade", row.shade, kShades),
        record_field("inner", row.inner, &read_inner),
        optional_record_field("spare", row.spare, &read_inner),
        list_field("items", row.items, &read_inner),
    };
    VOK_TRY(read_struct(de, "struct Row", fields));
    return row;
}

// A row with every required member, `members` (each followed by a comma) read first.
std::string with(std::string_view members) {
    return "{" + std::string(members) +
           R"("name":"n","flag":true,"extra":[1,{"a":null}],"shade":"Dark",)"
           R"("inner":{"id":"i"},"items":[{"id":"x"},{"id":"y"}]})";
}

TEST(RecordRows, ReadEachKindIntoTheCallersVariable) {
    auto row = read_document(with(""), &read_row);
    ASSERT_TRUE(row.ok()) << row.error().to_string();
    EXPECT_EQ(row->name, "n");
    EXPECT_FALSE(row->note.has_value());
    EXPECT_TRUE(row->flag);
    EXPECT_EQ(row->tags, std::vector<std::string>{"default"});
    EXPECT_EQ(to_compact_string(row->extra), R"([1,{"a":null}])");
    EXPECT_FALSE(row->weight.has_value());
    EXPECT_EQ(row->shade, Shade::Dark);
    EXPECT_EQ(row->inner.id, "i");
    EXPECT_FALSE(row->spare.has_value());
    ASSERT_EQ(row->items.size(), 2u);
    EXPECT_EQ(row->items[1].id, "y");

    row = read_document(with(R"("note":"why","tags":["a","b"],"weight":3,"spare":{"id":"s"},)"),
                        &read_row);
    ASSERT_TRUE(row.ok()) << row.error().to_string();
    EXPECT_EQ(row->note, "why");
    EXPECT_EQ(row->tags, (std::vector<std::string>{"a", "b"}));
    // An integer weight is taken as a float.
    EXPECT_EQ(row->weight, 3.0);
    EXPECT_EQ(row->spare->id, "s");

    row = read_document(with(R"("note":null,"weight":null,"spare":null,)"), &read_row);
    ASSERT_TRUE(row.ok()) << row.error().to_string();
    EXPECT_FALSE(row->note.has_value() || row->weight.has_value() || row->spare.has_value());
}

class RecordRowErrors : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(RecordRowErrors, WrongValueGivesTheKindsMessage) {
    auto row = read_document(with(GetParam().first), &read_row);
    ASSERT_FALSE(row.ok());
    std::string message = row.error().to_string();
    EXPECT_EQ(message.substr(0, message.find(" at line")), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RecordRowErrors,
    ::testing::Values(
        std::pair{R"("note":5,)", "invalid type: integer `5`, expected a string"},
        std::pair{R"("tags":"a",)", "invalid type: string \"a\", expected a sequence"},
        std::pair{R"("tags":null,)", "invalid type: null, expected a sequence"},
        std::pair{R"("tags":[1],)", "invalid type: integer `1`, expected a string"},
        std::pair{R"("weight":"1",)", "invalid type: string \"1\", expected f64"},
        std::pair{R"("spare":{},)", "missing field `id`"},
        std::pair{R"("spare":[],)", "invalid length 0, expected struct Inner with 1 element"},
        std::pair{R"("flag":1,)", "invalid type: integer `1`, expected a boolean"},
        std::pair{R"("shade":"Dim",)", "unknown variant `Dim`, expected `Light` or `Dark`"}));

} // namespace
} // namespace vok::json
