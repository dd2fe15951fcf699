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
