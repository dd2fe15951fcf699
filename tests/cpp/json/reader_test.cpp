// The text reader: conformance corpus, exact error texts and positions, nesting budget.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::json {
namespace {

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(JsonTestSuite, AcceptsEveryYAndRefusesEveryN) {
    auto dir = std::filesystem::path(VOK_SOURCE_DIR) / "tests/data/jsontestsuite/test_parsing";
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        std::string text = read_file(entry.path());
        auto result = parse(text);
        if (name.starts_with("y_")) {
            EXPECT_TRUE(result.ok()) << name << ": " << result.error().to_string();
            ++checked;
        } else if (name.starts_with("n_")) {
            EXPECT_FALSE(result.ok()) << name;
            ++checked;
        } else {
            // Implementation-defined cases must only never crash.
            (void)result;
        }
    }
    EXPECT_GT(checked, 250);
}

struct ErrorCase {
    std::string input;
    std::string message;
};

class ReaderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReaderErrors, MessageAndPosition) {
    auto result = parse(GetParam().input);
    ASSERT_FALSE(result.ok()) << GetParam().input;
    EXPECT_EQ(result.error().to_string(), GetParam().message) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReaderErrors,
    ::testing::Values(
        ErrorCase{"", "EOF while parsing a value at line 1 column 0"},
        ErrorCase{"x", "expected value at line 1 column 1"},
        ErrorCase{"{\"a\":", "EOF while parsing a value at line 1 column 5"},
        ErrorCase{"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
        ErrorCase{"[1,]", "trailing comma at line 1 column 4"},
        ErrorCase{"{\"a\":1,}", "trailing comma at line 1 column 8"},
        ErrorCase{"1 2", "trailing characters at line 1 column 3"},
        ErrorCase{"[1 2]", "expected `,` or `]` at line 1 column 4"},
        ErrorCase{"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        ErrorCase{"{\"a\" 1}", "expected `:` at line 1 column 6"},
        ErrorCase{"{1:2}", "key must be a string at line 1 column 2"},
        ErrorCase{"\"abc", "EOF while parsing a string at line 1 column 4"},
        ErrorCase{"tru", "EOF while parsing a value at line 1 column 3"},
        ErrorCase{"trux", "expected ident at line 1 column 4"},
        ErrorCase{"01", "invalid number at line 1 column 2"},
        ErrorCase{"1.", "EOF while parsing a value at line 1 column 2"},
        ErrorCase{"1.x", "invalid number at line 1 column 3"},
        ErrorCase{"-", "EOF while parsing a value at line 1 column 1"},
        ErrorCase{"\"\\x\"", "invalid escape at line 1 column 3"},
        ErrorCase{"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
        ErrorCase{"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        ErrorCase{"\"a\nb\"",
                  "control character (\\u0000-\\u001F) found while parsing a string at line 2 "
                  "column 0"},
        ErrorCase{"1e400", "number out of range at line 1 column 5"},
        // Digit counts added to an exponent at the edge of a 64-bit integer.
        ErrorCase{"1" + std::string(80, '0') + "e9223372036854775807",
                  "number out of range at line 1 column 101"},
        ErrorCase{"0." + std::string(80, '0') + "1e9223372036854775807",
                  "number out of range at line 1 column 103"},
        ErrorCase{"1e99999999999999999999999", "number out of range at line 1 column 25"},
        ErrorCase{"[\n1,\n]", "trailing comma at line 3 column 1"}));

TEST(Reader, NestingBudgetIs128Levels) {
    EXPECT_TRUE(parse(std::string(127, '[') + std::string(127, ']')).ok());
    auto deep = parse(std::string(128, '[') + std::string(128, ']'));
    ASSERT_FALSE(deep.ok());
    EXPECT_EQ(deep.error().to_string(), "recursion limit exceeded at line 1 column 128");
    // Far deeper input fails the same way without touching the stack.
    EXPECT_FALSE(parse(std::string(100000, '[')).ok());
    EXPECT_FALSE(parse(std::string(100000, '{')).ok());
}

TEST(Reader, NumbersKeepTheirForm) {
    EXPECT_TRUE(parse("5")->as_number().is_u64());
    EXPECT_TRUE(parse("-5")->as_number().is_i64());
    EXPECT_TRUE(parse("5.0")->as_number().is_f64());
    EXPECT_TRUE(parse("-0")->as_number().is_f64());
    EXPECT_EQ(parse("18446744073709551615")->as_number().as_u64(), UINT64_MAX);
    EXPECT_TRUE(parse("18446744073709551616")->as_number().is_f64());
    EXPECT_EQ(parse("-9223372036854775808")->as_number().as_i64(), INT64_MIN);
    EXPECT_TRUE(parse("-9223372036854775809")->as_number().is_f64());
    EXPECT_EQ(parse("1e-400")->as_number().as_f64_raw(), 0.0);
    EXPECT_EQ(parse("1" + std::string(80, '0') + "e-9223372036854775808")->as_number().as_f64_raw(),
              0.0);
    EXPECT_EQ(parse("-0.0001e-9223372036854775807")->as_number().as_f64_raw(), 0.0);
    EXPECT_EQ(parse("0.1")->as_number().as_f64_raw(), 0.1);
    EXPECT_NE(*parse("1"), *parse("1.0"));
}

TEST(Reader, StringsDecodeEscapesAndSurrogatePairs) {
    EXPECT_EQ(parse(R"("a\"b\\c\/\b\f\n\r\t")")->as_string(), "a\"b\\c/\b\f\n\r\t");
    EXPECT_EQ(parse(R"("\u00e9\ud83d\ude00")")->as_string(), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(parse("\"caf\xC3\xA9\"")->as_string(), "caf\xC3\xA9");
    EXPECT_FALSE(parse("\"\xC3\"").ok());
}

TEST(Reader, ObjectsSortKeysAndKeepTheLastOfARepeatedKey) {
    auto v = parse(R"({"b":1,"a":2,"b":3})");
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(to_compact_string(*v), R"({"a":2,"b":3})");
    EXPECT_EQ(to_compact_string(*parse(R"({"b":1,"a":1})")), R"({"a":1,"b":1})");
}

} // namespace
} // namespace vok::json

namespace vok::json {
namespace {

TEST(Value, DeepValuesCopyCompareAndDestroyWithoutRecursionLimits) {
    Value v;
    for (int i = 0; i < 1000000; ++i) {
        Array a;
        a.push_back(std::move(v));
        v = Value(std::move(a));
    }
    Value copy = v;
    EXPECT_TRUE(copy == v);
}

} // namespace
} // namespace vok::json

namespace vok::json {
namespace {

TEST(Reader, ObjectsOfAnySizeSortAndKeepTheLastValueOfARepeatedKey) {
    for (int count : {3, 31, 32, 33, 200}) {
        std::map<std::string, int> expected;
        std::string text = "{";
        for (int i = 0; i < count; ++i) {
            // Keys repeat and arrive out of order; some share their first byte.
            std::string key = std::string(1, static_cast<char>('a' + (i * 7) % 26)) +
                              std::to_string((i * 13) % (count / 2 + 1));
            if (i) text += ",";
            text += "\"" + key + "\":" + std::to_string(i);
            expected[key] = i;
        }
        text += "}";
        auto v = parse(text);
        ASSERT_TRUE(v.ok());
        ASSERT_EQ(v->as_object().size(), expected.size()) << count;
        auto it = expected.begin();
        for (const auto& [key, value] : v->as_object()) {
            EXPECT_EQ(key, it->first);
            EXPECT_EQ(value.as_number().as_u64(), static_cast<uint64_t>(it->second));
            ++it;
        }
    }
}

} // namespace
} // namespace vok::json
