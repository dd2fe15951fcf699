// The spellings of single values: quoting, numbers, keys and header comments.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "decimal/decimal.h"
#include "formatter/comments.h"
#include "formatter/format_test_util.h"
#include "formatter/source_text.h"

namespace vok {
namespace {

double read_like_the_parser(const std::string& text) {
    auto decimal = Decimal::parse(text);
    EXPECT_TRUE(decimal.ok()) << text;
    return decimal.ok() ? decimal->to_f64() : std::nan("");
}

TEST(SourceText, QuotingUsesTheGrammarsFiveEscapesOnly) {
    std::string out;
    source_text::append_quoted(out, "\t\n\r\"\\\x01\x7f/\u00e9");
    EXPECT_EQ(out, "\"\\t\\n\\r\\\"\\\\\x01\x7f/\u00e9\"");
}

TEST(SourceText, NumbersArePlainDecimals) {
    EXPECT_EQ(source_text::number_text(5.0), "5.0");
    EXPECT_EQ(source_text::number_text(0.25), "0.25");
    EXPECT_EQ(source_text::number_text(-1.5), "-1.5");
    EXPECT_EQ(source_text::number_text(0.0), "0.0");
    EXPECT_EQ(source_text::number_text(1e20), "100000000000000000000");
    EXPECT_EQ(source_text::number_text(1e-7), "0.0000001");
    EXPECT_EQ(source_text::number_text(1.5e-20), "0.000000000000000000015");
}

// Every number a source can hold (a decimal of up to 28 digits turned into a double) is written
// as text that the parser turns into the same double.
TEST(SourceText, NumbersReadBackToTheSameDouble) {
    std::mt19937_64 random(20240115);
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 28);
        std::string text;
        for (int d = 0; d < digits; ++d)
            text += static_cast<char>('0' + random() % 10);
        const int scale = static_cast<int>(random() % static_cast<uint64_t>(digits + 1));
        if (scale > 0) text.insert(text.size() - static_cast<size_t>(scale), ".");
        if (text.front() == '.') text.insert(0, "0");
        const double value = read_like_the_parser(text);
        const std::string written = source_text::number_text(value);
        ASSERT_EQ(written.find_first_of("eE"), std::string::npos) << written;
        ASSERT_EQ(read_like_the_parser(written), value) << text << " written as " << written;
    }
}

TEST(SourceText, ValuesInSourceSyntax) {
    json::Object inner = json::Object::from_entries(
        {{"list", json::Array{"x", "y\"z"}}, {"n", json::Value::from_f64(1e21)}});
    json::Value value(json::Object::from_entries(
        {{"b", false}, {"a", json::Value(std::move(inner))}, {"s", "t\tu"}}));
    std::string out;
    source_text::append_value(out, value);
    EXPECT_EQ(out, "{\"a\":{\"list\":[\"x\",\"y\\\"z\"],\"n\":1000000000000000000000},\"b\":false,"
                   "\"s\":\"t\\tu\"}");
}

TEST(SourceText, KeysBecomeIdentifiersThatLowercaseBackToThem) {
    EXPECT_EQ(source_text::identifier_for_key("priority"), "priority");
    EXPECT_EQ(source_text::identifier_for_key("i\u0307d"), "\u0130d");
    EXPECT_EQ(source_text::identifier_for_key("\u03c3\u03c2"), "\u03c3\u03c2");
}

TEST(SourceText, HeaderCommentsAreTrimmedOfUnicodeSpace) {
    EXPECT_EQ(trim_unicode_space("\u3000 a b\u00a0\t\u2028"), "a b");
    EXPECT_EQ(trim_unicode_space(" \u2003 "), "");
    EXPECT_EQ(header_comments("\n//a\r\n \u00a0// b \u2009\n\n//\nx\n// late"),
              (std::vector<std::string>{"a", "b", ""}));
    EXPECT_TRUE(header_comments("Entity \"E\" // not a header comment").empty());
    // Bytes that start no character (C++ callers may pass any bytes) are kept, never trimmed.
    EXPECT_EQ(trim_unicode_space("\xb7  \xa5\xa5\x85"), "\xb7  \xa5\xa5\x85");
    EXPECT_EQ(trim_unicode_space(" \xe2\x80 "), "\xe2\x80");
    EXPECT_EQ(trim_unicode_space("\xc2\xa0x\xc2"), "x\xc2");
    // Overlong forms of a space are no characters either.
    EXPECT_EQ(trim_unicode_space("\xc0\xa0x\xe0\x80\xa0"), "\xc0\xa0x\xe0\x80\xa0");
    testing::expect_reads_back("// \xb7  \xa5\xa5\x85\n");
}

// Sources whose values are easy to get wrong in print.
TEST(SourceText, TrickyValuesReadBack) {
    for (const char* source : {
             "Flow \"R\" @\u0130d \"x\" @\u03a3\u0391\u03a3 1 from \"A\" to \"B\"",
             "Flow \"R\" @changes \"not an array\" @replaces {\"a\": 1} from \"A\" to \"B\"",
             "Flow \"R\" @replacesx \"a\" @changes_more [\"b\"] @x {} from \"A\" to \"B\"",
             "Flow \"R\" @n 0.1 @m 123456789.987654321 @k -0.000001 @z 0 from \"\" to \"\"",
             "Flow \"R\" @o {\"\": \"\", \"2024-01-15T10:30:00Z\": [\"\"]} from \"A\" to \"B\"",
             "Entity \"\" Entity \"\" v1.0.0 @replaces \"\" Role \"\" Dimension \"\"",
             "Policy p as: interval(\"\", \"\") = \"\" and x as \"\" = 0 \"\"",
             "Resource \"U\" in//\nexport Entity \"N\"",
             "Resource \"U\" unit in d Resource \"V\" units",
             "Mapping \"m\" for calm { Entity \"E\" -> Node { a: \"\", b: {\"c\": {}} } }",
             "Projection \"p\" for kg { Entity \"E\" { p: {}, q: { \"a\" -> \"b\" \"c\" -> \"d\" } "
             "} }",
             "Instance i of \"E\" { v: \"2024-01-15T10:30:00Z\", w: "
             "\"\"\"2024-01-15T10:30:00Z\"\"\" }",
             // The largest decimal reads as 2^96, which no shorter digits reach from below.
             "Policy p as: x = 79228162514264337593543950335",
             "Policy p as: x = -79228162514264337593543950335.0 + 7922816251426433759354395033.5",
             "Flow \"R\" @n 79228162514264337593543950335 from \"A\" to \"B\"",
         }) {
        testing::expect_reads_back(source);
    }
}

} // namespace
} // namespace vok
