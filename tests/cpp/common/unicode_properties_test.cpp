// The properties and case mappings beyond utf8proc's, and the one Unicode version of the tables
// and of the linked utf8proc.
#include <gtest/gtest.h>

#include <string>
#include <utf8proc.h>

#include "common/unicode_case.h"
#include "common/unicode_properties.h"

namespace vok {
namespace {

// A utf8proc of another Unicode version would make the generated tables disagree with its
// categories and mappings: regenerate them (scripts/generate-unicode-case-tables) with it.
TEST(UnicodeProperties, TablesAreOfTheLinkedUtf8procVersion) {
    EXPECT_EQ(std::string(utf8proc_unicode_version()), kUnicodeVersion);
}

TEST(UnicodeProperties, AlphabeticIncludesOtherAlphabetic) {
    EXPECT_TRUE(is_alphanumeric(U'a'));
    EXPECT_TRUE(is_alphanumeric(U'٣'));    // Nd
    EXPECT_TRUE(is_alphanumeric(U'½'));    // No
    EXPECT_TRUE(is_alphanumeric(0x093E));  // a Devanagari vowel sign (Mc, Other_Alphabetic)
    EXPECT_TRUE(is_alphanumeric(0x24D0));  // circled small a (So, Other_Alphabetic)
    EXPECT_FALSE(is_alphanumeric(0x0301)); // a combining accent is not alphabetic
    EXPECT_FALSE(is_alphanumeric(U'_'));
    EXPECT_FALSE(is_alphanumeric(0x110000));
}

TEST(UnicodeProperties, CaseMappings) {
    std::string upper;
    append_uppercase(upper, U'ß');
    append_uppercase(upper, 0x0390); // three characters
    append_uppercase(upper, U'é');
    EXPECT_EQ(upper, "SS\u0399\u0308\u0301É");
    EXPECT_TRUE(is_uppercase(0x2163));
    EXPECT_FALSE(is_uppercase(U'a'));
    EXPECT_EQ(lowercase_first(0x0130), U'i');
    EXPECT_EQ(lowercase_text("SERVER_İ\xFF"), "server_i\u0307\xFF");
}

} // namespace
} // namespace vok
