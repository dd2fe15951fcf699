// Trimming Unicode White_Space: the property's code points at either end go, everything else
// (other format characters, invalid bytes, inner spaces) stays.
#include <gtest/gtest.h>

#include <string>

#include "common/unicode_white_space.h"

namespace vok {
namespace {

TEST(UnicodeWhiteSpace, HasExactlyTheTwentyFiveCodePoints) {
    int count = 0;
    for (char32_t c = 0; c < 0x110000; ++c)
        count += is_white_space(c) ? 1 : 0;
    EXPECT_EQ(count, 25);
    EXPECT_TRUE(is_white_space(0x3000));
    EXPECT_FALSE(is_white_space(0x200B)); // zero width space is not White_Space
    EXPECT_FALSE(is_white_space(0xFEFF));
}

TEST(UnicodeWhiteSpace, Trims) {
    struct Case {
        std::string text, trimmed;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"\t\n\v\f\r x \r\n", "x"},
        {"\xC2\xA0v1\xE3\x80\x80", "v1"},     // no-break space, ideographic space
        {"\xE2\x80\xA8 a b \xC2\x85", "a b"}, // line separator, next line
        {"\xE2\x80\x8Bv\xE2\x80\x8B", "\xE2\x80\x8Bv\xE2\x80\x8B"}, // zero width space stays
        {" \xFF ", "\xFF"},                                         // an invalid byte is kept
        {"\x80", "\x80"},
        {"\xF0\x9F\x98\x80 ", "\xF0\x9F\x98\x80"}, // a four-byte character before the space
    };
    for (const Case& c : cases)
        EXPECT_EQ(trim_white_space(c.text), c.trimmed) << c.text;
}

} // namespace
} // namespace vok
