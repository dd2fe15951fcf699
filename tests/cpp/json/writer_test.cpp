// Writing: the float layout, string escaping, compact and pretty layouts, the streaming writer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::json {
namespace {

TEST(FloatText, ShortestRoundTripInTheSystemsLayout) {
    const std::pair<double, const char*> cases[] = {
        {5.0, "5.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {1.5, "1.5"},
        {-2.25, "-2.25"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e16"},
        {1e20, "1e20"},
        {1e21, "1e21"},
        {1.5e21, "1.5e21"},
        {0.0001, "0.0001"},
        {0.00001, "0.00001"},
        {0.000001, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {0.1, "0.1"},
        {123.456, "123.456"},
        {1.0 / 3, "0.3333333333333333"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
        {5e-324, "5e-324"},
    };
    for (auto [v, text] : cases) {
        EXPECT_EQ(format_f64(v), text);
        auto back = parse(text);
        ASSERT_TRUE(back.ok()) << text;
        EXPECT_EQ(back->as_number().to_f64(), v) << text;
    }
}

TEST(StringText, MinimalEscapes) {
    EXPECT_EQ(quote("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(quote("\b\f\n\r\t"), R"("\b\f\n\r\t")");
    EXPECT_EQ(quote(std::string("\x01\x1f", 2)), R"("\u0001\u001f")");
    EXPECT_EQ(quote(std::string(1, '\0')), R"("\u0000")");
    EXPECT_EQ(quote("caf\xC3\xA9 /"), "\"caf\xC3\xA9 /\"");
}

// Byte-by-byte statement of both escape sets, to hold the word-at-a-time routine against.
std::string quoted_slowly(std::string_view s, Escapes escapes) {
    std::string out = "\"";
    for (unsigned char c : s) {
        const char* named = nullptr;
        switch (c) {
        case '"':
            named = "\\\"";
            break;
        case '\\':
            named = "\\\\";
            break;
        case '\t':
            named = "\\t";
            break;
        case '\n':
            named = "\\n";
            break;
        case '\r':
            named = "\\r";
            break;
        case '\b':
            named = escapes == Escapes::Json ? "\\b" : nullptr;
            break;
        case '\f':
            named = escapes == Escapes::Json ? "\\f" : nullptr;
            break;
        }
        if (named != nullptr) {
            out += named;
        } else if (c < 0x20 && escapes == Escapes::Json) {
            static constexpr char kDigits[] = "0123456789abcdef";
            out += "\\u00";
            out += kDigits[c >> 4];
            out += kDigits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

TEST(StringText, BothEscapeSetsAtEveryPositionOfAWord) {
    // Every byte that either set treats specially, at every offset of strings that span a few
    // eight-byte words, beside non-ASCII text.
    const std::string specials("\"\\\t\n\r\b\f\x01\x1f\x00\x7f", 11);
    for (Escapes escapes : {Escapes::Json, Escapes::Literal}) {
        for (char special : specials) {
            for (size_t length : {1u, 7u, 8u, 9u, 17u, 24u}) {
                for (size_t at = 0; at < length; ++at) {
                    std::string text(length, 'a');
                    text[at] = special;
                    if (at + 2 < length) text.replace(at + 1, 2, "\xC3\xA9");
                    std::string out = "x";
                    append_quoted(out, text, escapes);
                    ASSERT_EQ(out, "x" + quoted_slowly(text, escapes))
                        << static_cast<int>(special) << " at " << at << " of " << length;
                }
            }
        }
    }
    std::string json;
    append_quoted(json, "\b\x01");
    EXPECT_EQ(json, R"("\b\u0001")");
}

TEST(StringText, PlainKeysPlaceTheirSeparator) {
    std::string out = "{";
    append_plain_key(out, "a", true);
    out += "1";
    append_plain_key(out, "bc", false);
    append_compact_array(out, std::vector<int>{1, 2},
                         [](std::string& o, int v) { append_i64(o, v); });
    append_plain_key(out, "", false);
    append_compact_array(out, std::vector<int>{}, [](std::string&, int) {});
    EXPECT_EQ(out + "}", R"({"a":1,"bc":[1,2],"":[]})");
}

TEST(Layout, CompactAndPretty) {
    auto v = parse(R"({"b":[1,-2,3.5,true,null],"a":{},"c":[],"d":{"x":"y"}})");
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(to_compact_string(*v), R"({"a":{},"b":[1,-2,3.5,true,null],"c":[],"d":{"x":"y"}})");
    EXPECT_EQ(to_pretty_string(*v), "{\n"
                                    "  \"a\": {},\n"
                                    "  \"b\": [\n"
                                    "    1,\n"
                                    "    -2,\n"
                                    "    3.5,\n"
                                    "    true,\n"
                                    "    null\n"
                                    "  ],\n"
                                    "  \"c\": [],\n"
                                    "  \"d\": {\n"
                                    "    \"x\": \"y\"\n"
                                    "  }\n"
                                    "}");
}

// Texts of several megabytes, whose room the writers make in steps as they go: the bytes are those
// of the same layout written by hand.
TEST(Layout, LongTextsAreWrittenWhole) {
    constexpr size_t kCount = 200'000;
    Array items;
    std::string compact = "[";
    std::string pretty = "[";
    for (size_t i = 0; i < kCount; ++i) {
        Object item;
        item.insert_or_assign("n", Value::from_u64(i));
        items.push_back(std::move(item));
        const std::string n = std::to_string(i);
        compact += (i ? ",{\"n\":" : "{\"n\":") + n + "}";
        pretty += (i ? ",\n  {\n    \"n\": " : "\n  {\n    \"n\": ") + n + "\n  }";
    }
    compact += "]";
    pretty += "\n]";
    const Value document(std::move(items));
    EXPECT_EQ(to_compact_string(document), compact);
    EXPECT_EQ(to_pretty_string(document), pretty);
    std::string streamed;
    Writer writer(streamed, 2);
    writer.begin_array();
    for (size_t i = 0; i < kCount; ++i) {
        writer.begin_object();
        writer.u64_member("n", i);
        writer.end_object();
    }
    writer.end_array();
    EXPECT_EQ(streamed, pretty);
}

TEST(StreamingWriter, KeepsTheCallersMemberOrder) {
    std::string pretty;
    Writer w(pretty, 2);
    w.begin_object();
    w.string_member("type", "Entity");
    w.key("items");
    w.begin_array();
    w.u64_value(1);
    w.begin_object();
    w.end_object();
    w.end_array();
    w.key("empty");
    w.begin_array();
    w.end_array();
    w.value_member("value", *parse(R"({"z":1,"a":[2]})"));
    w.end_object();
    EXPECT_EQ(pretty, "{\n"
                      "  \"type\": \"Entity\",\n"
                      "  \"items\": [\n"
                      "    1,\n"
                      "    {}\n"
                      "  ],\n"
                      "  \"empty\": [],\n"
                      "  \"value\": {\n"
                      "    \"a\": [\n"
                      "      2\n"
                      "    ],\n"
                      "    \"z\": 1\n"
                      "  }\n"
                      "}");

    std::string compact;
    Writer c(compact);
    c.begin_object();
    c.string_member("b", "x");
    c.string_list_member("a", {"p", "q"});
    c.bool_member("t", true);
    c.i64_member("n", -3);
    c.end_object();
    EXPECT_EQ(compact, R"({"b":"x","a":["p","q"],"t":true,"n":-3})");
}

} // namespace
} // namespace vok::json
