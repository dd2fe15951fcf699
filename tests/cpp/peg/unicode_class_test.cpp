// The LETTER / NUMBER classes of the grammar engine.
#include <gtest/gtest.h>

#include "common/utf8.h"
#include "peg/unicode_class.h"

namespace {

using namespace vok::peg;

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
    // A byte that starts no valid UTF-8 sequence decodes to kInvalidCodePoint: of no class.
    for (int32_t other : {int32_t{'_'}, int32_t{' '}, int32_t{'-'}, 0x1F600 /* emoji */,
                          0x300 /* combining mark */, vok::kInvalidCodePoint}) {
        EXPECT_FALSE(is_letter(other)) << other;
        EXPECT_FALSE(is_number(other)) << other;
    }
}

} // namespace
