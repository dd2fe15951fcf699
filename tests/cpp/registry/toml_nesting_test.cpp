// The TOML nesting scanner against the TOML library itself: on valid documents its count is the
// depth of the tree the library builds (so nothing shallow is refused and nothing deep slips
// through), and deep keys, headers and values are refused where they cross the bound.
#include <gtest/gtest.h>

#include <toml++/toml.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "registry/registry_file.h"
#include "registry/toml_nesting.h"

namespace vok::registry {
namespace {

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// The depth of the deepest node the library builds (the root table is level 0).
std::size_t tree_depth(const toml::node& node, std::size_t level = 0) {
    std::size_t depth = level;
    if (const auto* table = node.as_table()) {
        for (const auto& [key, child] : *table)
            depth = std::max(depth, tree_depth(child, level + 1));
    } else if (const auto* array = node.as_array()) {
        for (const auto& child : *array)
            depth = std::max(depth, tree_depth(child, level + 1));
    }
    return depth;
}

std::optional<std::size_t> library_depth(std::string_view text) {
    try {
        return tree_depth(toml::parse(text));
    } catch (const toml::parse_error&) {
        return std::nullopt;
    }
}

struct ValidCase {
    const char* name;
    std::string text;
};

class ValidDocument : public ::testing::TestWithParam<ValidCase> {};

// The scanner's count equals the library's depth, on the document and on every prefix the
// library also accepts; prefixes it refuses are scanned to the end all the same.
TEST_P(ValidDocument, CountIsTheLibrarysDepth) {
    const std::string& text = GetParam().text;
    const auto depth = library_depth(text);
    ASSERT_TRUE(depth.has_value()) << "not valid TOML";
    for (std::size_t length = 0; length <= text.size(); ++length) {
        const std::string_view prefix = std::string_view(text).substr(0, length);
        const auto prefix_depth = library_depth(prefix);
        if (!prefix_depth) {
            (void)find_nesting_beyond(prefix, 0);
            continue;
        }
        EXPECT_FALSE(find_nesting_beyond(prefix, *prefix_depth).has_value()) << prefix;
        if (*prefix_depth > 0) {
            EXPECT_TRUE(find_nesting_beyond(prefix, *prefix_depth - 1).has_value()) << prefix;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ValidDocument,
    ::testing::Values(
        ValidCase{"registry", "version = 1\ndefault_namespace = \"x\"\n[[namespaces]]\n"
                              "namespace = \"a.b\"\npatterns = [\"src/**\", \"{a,b}/[c]*\"]\n"},
        ValidCase{"brackets_in_strings", "a = \"[[[{{{.\"\nb = 'x.y.z[[{'\nc.d = 1\n"},
        ValidCase{"escaped_quotes", "a = \"q\\\"[[\\\\\"\nb.c = \"\\u005B\"\n"},
        ValidCase{"literal_backslash", "a = 'C:\\'\nb.c.d = 1\n"},
        ValidCase{"multi_line_strings",
                  "a = \"\"\"\n[[x.y.z]]\n\"\" \\\"\"\" {\n\"\"\"\nb = '''\n[p.q]\n'' '''\n"
                  "c.d = 1\n"},
        ValidCase{"quote_runs_closing_multi_line",
                  "a = [\"\"\"x\"\"\"\", '''y''''', [[1]]]\nb = \"\"\"\"\"\"\nc.d = 1\n"},
        ValidCase{"line_ending_backslash", "a = \"\"\"one \\\n   [two]\"\"\"\nb.c = 2\n"},
        ValidCase{"empty_strings", "a = \"\"\nb = ''\nc = \"\"\"\"\"\"\nd = ''''''\ne.f = 1\n"},
        ValidCase{"comments", "# [[a.b.c.d]] = {\na = 1 # {[ \"'\n[t] # [[x.y]]\nu.v = 2 #.\n"},
        ValidCase{"blanks_around_dots", "a . b\t.  c = 1\n[ d . e ]\nf . \"g.h\" = 2\n"},
        ValidCase{"quoted_parts", "\"a.b\".'c.d'.\"\" = 1\n'[x]' = 2\n"},
        ValidCase{"bare_keys_like_values", "1234.5 = 1\ntrue.false = 2\n-_-.x = 3\ninf = 4\n"},
        ValidCase{"dotted_keys_in_inline_tables",
                  "a = { b.c = { d.e = [ { f.g = 1 } ] }, h = 2 }\n"},
        ValidCase{"arrays_over_lines", "a = [\n  1, # ] [\n  [2, [3]],\n  { x.y = 4 },\n]\n"},
        ValidCase{"dates_and_floats",
                  "a = [1979-05-27 07:32:00.5Z, 1.5, -inf, 3.0e2, 07:32:00]\n"
                  "b.c = 1979-05-27T07:32:00\nd = { e = 1979-05-27 07:32:00, f.g = 1 }\n"},
        ValidCase{"arrays_of_tables", "[[a.b]]\nc.d = 1\n[[a.b]]\nx = [[1]]\n[y]\n"},
        ValidCase{"crlf", "a.b = 1\r\n[c.d]\r\ne = [1,\r\n2]\r\n"},
        ValidCase{"byte_order_mark", "\xEF\xBB\xBF[a.b.c]\nd = 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DeepCase {
    const char* name;
    // A valid document whose tree is exactly `depth` levels deep.
    std::function<std::string(std::size_t depth)> text;
};

class DeepDocument : public ::testing::TestWithParam<DeepCase> {};

TEST_P(DeepDocument, RefusedJustBeyondTheBound) {
    const auto& make = GetParam().text;
    for (std::size_t depth : {6, 7}) {
        ASSERT_EQ(library_depth(make(depth)), depth) << make(depth);
    }
    EXPECT_FALSE(find_nesting_beyond(make(kMaxTomlNesting), kMaxTomlNesting).has_value());
    EXPECT_TRUE(find_nesting_beyond(make(kMaxTomlNesting + 1), kMaxTomlNesting).has_value());
    // Far beyond: refused without the library ever reading it.
    auto refused = parse_raw_registry(make(50'000));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().to_string().starts_with(
        "Failed to parse registry: tables and arrays nested deeper than 256 levels at line "));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DeepDocument,
    ::testing::Values(
        DeepCase{"dotted_key", [](std::size_t n) { return "k" + repeat(".k", n - 1) + " = 1\n"; }},
        DeepCase{"table_header", [](std::size_t n) { return "[" + repeat("k.", n - 1) + "k]\n"; }},
        DeepCase{"array_of_tables_header",
                 [](std::size_t n) { return "[[" + repeat("k.", n - 2) + "k]]\n"; }},
        DeepCase{"blanks_and_quoted_parts",
                 [](std::size_t n) { return repeat("\"k.x\" . ", n - 1) + "'k' = 1\n"; }},
        DeepCase{"inline_tables_with_dotted_keys",
                 [](std::size_t n) {
                     const std::size_t m = (n - 1) / 2;
                     return (n % 2 == 1 ? "a = " : "a.z = ") + repeat("{b.c = ", m) + "1" +
                            repeat("}", m) + "\n";
                 }},
        DeepCase{"header_then_dotted_key_then_arrays",
                 [](std::size_t n) {
                     return "[h.h]\nk.k = " + repeat("[", n - 3) + repeat("]", n - 3) + "\n";
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TomlNesting, ReportsWhereTheBoundIsCrossed) {
    // Below table x (level 1) the key's second part is the first node beyond level 2; columns
    // count characters.
    auto at = find_nesting_beyond("a = 1\n[x]\n  \u00E9.b . c = 1\n", 2);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->line, 3u);
    EXPECT_EQ(at->column, 5u);
    // The 2 inside the inner array.
    at = find_nesting_beyond("x = [1, [2, [3]]]\n", 2);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->line, 1u);
    EXPECT_EQ(at->column, 10u);
}

} // namespace
} // namespace vok::registry
