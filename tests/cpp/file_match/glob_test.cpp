// Glob syntax in both of its readings: registry matching (`*` crosses "/") and the
// gitignore-style walk patterns.
#include "file_match/glob.h"

#include <gtest/gtest.h>

#include "file_match/walk_pattern.h"

namespace vok::file_match {
namespace {

struct MatchCase {
    const char* glob;
    const char* path;
    bool expected;
};

bool registry_match(const std::string& glob, const std::string& path) {
    auto regex = glob_to_regex(glob, /*literal_separator=*/false);
    EXPECT_TRUE(regex.ok()) << glob << ": " << (regex.ok() ? "" : regex.error());
    if (!regex.ok()) return false;
    auto set = GlobSet::build({regex.value()});
    EXPECT_TRUE(set.ok()) << regex.value();
    return set.ok() && set->is_match(path);
}

class RegistryGlobMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(RegistryGlobMatch, MatchesLikeTheGlobLibrary) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(registry_match(c.glob, c.path), c.expected) << c.glob << " vs " << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryGlobMatch,
    ::testing::Values(
        // `*` and `?` cross directory separators.
        MatchCase{"*.vok", "a.vok", true}, MatchCase{"*.vok", "src/deep/a.vok", true},
        MatchCase{"*.vok", "a.vokx", false}, MatchCase{"src/*.vok", "src/deep/y.vok", true},
        MatchCase{"src/*.vok", "lib/src/y.vok", false}, MatchCase{"?.vok", "a.vok", true},
        MatchCase{"?.vok", "ab.vok", false}, MatchCase{"a?b", "a/b", true},
        MatchCase{"?.vok", "\xC3\xA9.vok", true}, MatchCase{"*", "a\nb", true},
        // Case-sensitive, exact.
        MatchCase{"Src/*.vok", "src/a.vok", false},
        MatchCase{"exact/file.vok", "exact/file.vok", true},
        MatchCase{"exact/file.vok", "exact/file.vokk", false}, MatchCase{"a.b", "axb", false},
        MatchCase{"(a)+", "(a)+", true},
        // `**` as a whole component.
        MatchCase{"src/**", "src/a", true}, MatchCase{"src/**", "src/a/b/c", true},
        MatchCase{"src/**", "src", false}, MatchCase{"src/**", "srcx/a", false},
        MatchCase{"**/x.vok", "x.vok", true}, MatchCase{"**/x.vok", "a/b/x.vok", true},
        MatchCase{"**/x.vok", "ax.vok", false}, MatchCase{"a/**/b", "a/b", true},
        MatchCase{"a/**/b", "a/x/y/b", true}, MatchCase{"a/**/b", "ab", false},
        MatchCase{"**", "", true}, MatchCase{"**", "any/thing", true},
        MatchCase{"**/**", "any/thing", true}, MatchCase{"/**", "/x", true},
        MatchCase{"/**", "x", false},
        // Character classes.
        MatchCase{"[abc].vok", "b.vok", true}, MatchCase{"[abc].vok", "d.vok", false},
        MatchCase{"[a-c]x", "bx", true}, MatchCase{"[!a-c]x", "dx", true},
        MatchCase{"[!a-c]x", "ax", false}, MatchCase{"[^a]x", "bx", true},
        MatchCase{"[]]", "]", true}, MatchCase{"[-a]", "-", true}, MatchCase{"[a-]", "-", true},
        MatchCase{"[*]", "*", true}, MatchCase{"[*]", "a", false}, MatchCase{"[\\]", "\\", true},
        MatchCase{"[\xC3\xA9]", "\xC3\xA9", true}, MatchCase{"[!a]", "/", true},
        // Alternatives; empty alternatives are dropped; commas outside braces are literal.
        MatchCase{"{foo,bar}.vok", "bar.vok", true}, MatchCase{"{foo,bar}.vok", "baz.vok", false},
        MatchCase{"src/{a,b/**}", "src/b/c/d", true}, MatchCase{"x{a,}", "x", false},
        MatchCase{"x{a,}", "xa", true}, MatchCase{"a,b", "a,b", true},
        MatchCase{"{**/a,b}", "x/y/a", true},
        // A backslash makes the next character ordinary.
        MatchCase{"\\*.vok", "*.vok", true}, MatchCase{"\\*.vok", "a.vok", false},
        MatchCase{"\\{a\\}", "{a}", true}, MatchCase{"\\a", "a", true}));

struct ErrorCase {
    const char* glob;
    const char* description;
};

class RegistryGlobError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegistryGlobError, ReportsTheGlobLibrarysDescription) {
    const ErrorCase& c = GetParam();
    auto regex = glob_to_regex(c.glob, false);
    ASSERT_FALSE(regex.ok()) << c.glob << " gave " << regex.value();
    EXPECT_EQ(regex.error(), c.description) << c.glob;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryGlobError,
    ::testing::Values(
        ErrorCase{"[abc", "unclosed character class; missing ']'"},
        ErrorCase{"[]", "unclosed character class; missing ']'"},
        ErrorCase{"[!]", "unclosed character class; missing ']'"},
        ErrorCase{"{a,b", "unclosed alternate group; missing '}' (maybe escape '{' with '[{]'?)"},
        ErrorCase{"a}", "unopened alternate group; missing '{' (maybe escape '}' with '[}]'?)"},
        ErrorCase{"{a,{b,c}}", "nested alternate groups are not allowed"},
        ErrorCase{"a**", "invalid use of **; must be one path component"},
        ErrorCase{"**a", "invalid use of **; must be one path component"},
        ErrorCase{"a/**b", "invalid use of **; must be one path component"},
        ErrorCase{"a/b**/c", "invalid use of **; must be one path component"},
        ErrorCase{"***", "invalid use of **; must be one path component"},
        ErrorCase{"a\\", "dangling '\\'"}, ErrorCase{"[z-a]", "invalid range; 'z' > 'a'"},
        ErrorCase{"[z--]", "invalid range; 'z' > '-'"}));

TEST(GlobErrorText, NamesTheGlob) {
    EXPECT_EQ(glob_error_text("[x", "unclosed character class; missing ']'"),
              "error parsing glob '[x': unclosed character class; missing ']'");
}

TEST(GlobSet, MatchesWhenAnyMemberMatches) {
    auto a = glob_to_regex("*.vok", false);
    auto b = glob_to_regex("docs/**", false);
    auto set = GlobSet::build({a.value(), b.value()});
    ASSERT_TRUE(set.ok());
    EXPECT_TRUE(set->is_match("x.vok"));
    EXPECT_TRUE(set->is_match("docs/readme.md"));
    EXPECT_FALSE(set->is_match("readme.md"));
    EXPECT_FALSE(GlobSet().is_match(""));
}

struct WalkCase {
    const char* pattern;
    const char* path;
    bool expected;
};

class WalkPatternMatch : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkPatternMatch, SelectsLikeAnIgnoreFileWhitelist) {
    const WalkCase& c = GetParam();
    auto pattern = WalkPattern::compile(c.pattern);
    ASSERT_TRUE(pattern.ok()) << c.pattern << ": " << pattern.error();
    const bool selected =
        pattern->role() == WalkPattern::Role::Select && pattern->matches(c.path, false);
    EXPECT_EQ(selected, c.expected) << c.pattern << " vs " << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WalkPatternMatch,
    ::testing::Values(
        // A lone "*" is the root's files only; other slash-free patterns match at any depth.
        WalkCase{"*", "a.vok", true}, WalkCase{"*", "d/a.vok", false},
        WalkCase{"*.vok", "a.vok", true}, WalkCase{"*.vok", "d/e/a.vok", true},
        WalkCase{"?.vok", "d/a.vok", true}, WalkCase{"a.vok", "d/a.vok", true},
        // A "/" inside anchors at the root, and `*` and `?` stop at "/".
        WalkCase{"src/*.vok", "src/a.vok", true}, WalkCase{"src/*.vok", "src/d/a.vok", false},
        WalkCase{"src/*.vok", "x/src/a.vok", false}, WalkCase{"a?b", "a/b", false},
        WalkCase{"/a.vok", "a.vok", true}, WalkCase{"/a.vok", "d/a.vok", false},
        WalkCase{"/*.vok", "d/a.vok", false},
        // `**` still spans directories.
        WalkCase{"src/**", "src/a", true}, WalkCase{"src/**", "src/a/b", true},
        WalkCase{"src/**/*.vok", "src/a.vok", true},
        WalkCase{"src/**/*.vok", "src/a/b/c.vok", true}, WalkCase{"**/x.vok", "a/x.vok", true},
        WalkCase{"**", "a/b/c", true},
        // Directory-only, exclusion and comment lines select no file.
        WalkCase{"src/", "src", false}, WalkCase{"!a.vok", "a.vok", false},
        WalkCase{"#a.vok", "#a.vok", false}, WalkCase{"   ", "   ", false},
        // Escaped "!" and "#" are ordinary; trailing blanks are dropped.
        WalkCase{"\\!a.vok", "!a.vok", true}, WalkCase{"\\#a.vok", "d/#a.vok", true},
        WalkCase{"a.vok  ", "a.vok", true}));

TEST(WalkPattern, RolesAndDirectoryExclusion) {
    auto exclusion = WalkPattern::compile("!build/");
    ASSERT_TRUE(exclusion.ok());
    EXPECT_EQ(exclusion->role(), WalkPattern::Role::Exclude);
    EXPECT_TRUE(exclusion->matches("x/build", true));
    EXPECT_FALSE(exclusion->matches("x/build", false));
    EXPECT_EQ(WalkPattern::compile("# note")->role(), WalkPattern::Role::Inert);
    EXPECT_EQ(WalkPattern::compile("")->role(), WalkPattern::Role::Inert);
}

TEST(WalkPattern, InvalidLineNamesTheLine) {
    auto pattern = WalkPattern::compile("src/[ab");
    ASSERT_FALSE(pattern.ok());
    EXPECT_EQ(pattern.error(),
              "error parsing glob 'src/[ab': unclosed character class; missing ']'");
}

} // namespace
} // namespace vok::file_match
