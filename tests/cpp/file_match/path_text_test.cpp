// Showing file-system bytes as text, and the component order of listed paths.
#include "file_match/path_text.h"

#include <gtest/gtest.h>

namespace vok::file_match {
namespace {

TEST(LossyUtf8, ReplacesEachMaximalInvalidSubpartOnce) {
    EXPECT_EQ(lossy_utf8("plain/\xC3\xA9.vok"), "plain/\xC3\xA9.vok");
    EXPECT_EQ(lossy_utf8("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A truncated three-byte sequence is one subpart; a surrogate encoding is three.
    EXPECT_EQ(lossy_utf8("\xE2\x82"
                         "x"),
              "\xEF\xBF\xBD"
              "x");
    EXPECT_EQ(lossy_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(lossy_utf8("\xF0\x9F\x98"), "\xEF\xBF\xBD");
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));
    EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x98\x80"));
}

TEST(PathComponents, OrderComponentByComponent) {
    EXPECT_TRUE(path_components_less("/r/a/z.vok", "/r/a.txt"));
    EXPECT_FALSE(path_components_less("/r/a.txt", "/r/a/z.vok"));
    EXPECT_TRUE(path_components_less("/r/a", "/r/a/b"));
    EXPECT_TRUE(path_components_less("/r/B", "/r/a"));
    EXPECT_TRUE(path_components_less("/r/a", "/r/\xC3\xA9"));
    EXPECT_EQ(path_components("/a/./b//c/"), (std::vector<std::string_view>{"a", "b", "c"}));
}

} // namespace
} // namespace vok::file_match
