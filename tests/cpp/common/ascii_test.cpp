// ASCII case: only A-Z fold. The bytes next to the letters (where a "| 0x20" shortcut would fold
// '@' into '`' or '[' into '{') and every byte of a UTF-8 sequence stay themselves.
#include "common/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace vok {
namespace {

static_assert(equals_ignoring_ascii_case("Entity", "eNTITY"));
static_assert(starts_with_ignoring_ascii_case("IN ", "in"));

TEST(Ascii, LowersOnlyTheCapitalLetters) {
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const char expected = byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : c;
        EXPECT_EQ(ascii_lower(c), expected) << byte;
    }
    EXPECT_EQ(ascii_lowercase("KG \xc3\x89T\xc3\x89 @[Z]"), "kg \xc3\x89t\xc3\x89 @[z]");
    EXPECT_EQ(ascii_lowercase(""), "");
}

TEST(Ascii, ComparesIgnoringAsciiCaseOnly) {
    EXPECT_TRUE(equals_ignoring_ascii_case("", ""));
    EXPECT_TRUE(equals_ignoring_ascii_case("Has_Role", "has_ROLE"));
    EXPECT_FALSE(equals_ignoring_ascii_case("in", "inn"));
    EXPECT_FALSE(equals_ignoring_ascii_case("@[", "`{"));
    // Non-ASCII letters are not folded: U+0130 is not "i", U+00C9 is not U+00E9.
    EXPECT_FALSE(equals_ignoring_ascii_case("\xc4\xb0n", "in"));
    EXPECT_FALSE(equals_ignoring_ascii_case("\xc3\x89", "\xc3\xa9"));

    EXPECT_TRUE(starts_with_ignoring_ascii_case("NOTHING", "not"));
    EXPECT_TRUE(starts_with_ignoring_ascii_case("x", ""));
    EXPECT_FALSE(starts_with_ignoring_ascii_case("no", "not"));
    EXPECT_FALSE(starts_with_ignoring_ascii_case("n\xc3\xb6t", "not"));
}

} // namespace
} // namespace vok
