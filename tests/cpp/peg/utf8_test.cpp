// Decoding single characters and the LETTER / NUMBER classes.
#include <gtest/gtest.h>

#include <string>

#include "peg/unicode_class.h"
#include "peg/utf8.h"

namespace {

using namespace vok::peg;

DecodedChar decode(const std::string& bytes) {
    return decode_utf8(bytes.data(), bytes.data() + bytes.size());
}

TEST(Utf8, DecodesValidSequences) {
    struct Case {
        std::string bytes;
        int32_t code_point;
        uint32_t length;
    } cases[] = {
        {"a", 'a', 1},
        {"\xc3\xa9", 0xE9, 2},
        {"\xe2\x82\xac", 0x20AC, 3},
        {"\xf0\x9f\x98\x80", 0x1F600, 4},
        {"\xf4\x8f\xbf\xbf", 0x10FFFF, 4},
    };
    for (const Case& c : cases) {
        const DecodedChar d = decode(c.bytes);
        EXPECT_EQ(d.code_point, c.code_point);
        EXPECT_EQ(d.length, c.length);
    }
}

TEST(Utf8, InvalidBytesAreSingleCharactersOfNoClass) {
    for (const std::string& bytes : {
             std::string("\x80"),             // stray continuation
             std::string("\xc0\xaf"),         // overlong
             std::string("\xe0\x80\xaf"),     // overlong
             std::string("\xed\xa0\x80"),     // surrogate
             std::string("\xf4\x90\x80\x80"), // beyond U+10FFFF
             std::string("\xf0\x9f\x98"),     // truncated at the end of input
             std::string("\xc3"),             // truncated
             std::string("\xff"),
         }) {
        const DecodedChar d = decode(bytes);
        EXPECT_EQ(d.code_point, kInvalidCodePoint);
        EXPECT_EQ(d.length, 1u);
        EXPECT_FALSE(is_letter(d.code_point));
        EXPECT_FALSE(is_number(d.code_point));
    }
}

TEST(UnicodeClass, LettersAndNumbersByGeneralCategory) {
    for (int32_t letter : {int32_t{'a'}, int32_t{'Z'}, 0x3A9 /* Ω */, 0x540D /* 名 */,
                           0x1C5 /* ǅ Lt */, 0x2B0 /* ʰ Lm */}) {
        EXPECT_TRUE(is_letter(letter)) << letter;
        EXPECT_FALSE(is_number(letter)) << letter;
    }
    for (int32_t number :
         {int32_t{'0'}, int32_t{'9'}, 0xB2 /* ² No */, 0x216B /* Ⅻ Nl */, 0x663 /* ٣ Nd */}) {
        EXPECT_TRUE(is_number(number)) << number;
        EXPECT_FALSE(is_letter(number)) << number;
    }
    for (int32_t other : {int32_t{'_'}, int32_t{' '}, int32_t{'-'}, 0x1F600 /* emoji */,
                          0x300 /* combining mark */}) {
        EXPECT_FALSE(is_letter(other)) << other;
        EXPECT_FALSE(is_number(other)) << other;
    }
}

} // namespace
