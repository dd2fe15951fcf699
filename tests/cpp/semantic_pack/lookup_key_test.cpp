// Lookup keys: normal form C without compatibility mappings, White_Space collapsed, full lower
// case.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utf8proc.h>

#include "semantic_pack/lookup_key.h"

namespace vok::semantic_pack {
namespace {

struct KeyCase {
    const char* name;
    std::string text;
    std::string key;
};

class LookupKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(LookupKey, Normalizes) {
    EXPECT_EQ(normalize_key(GetParam().text), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LookupKey,
    ::testing::Values(
        KeyCase{"blanks", " Net\tRevenue \n", "net revenue"},
        KeyCase{"no_break_space", "net\u00A0revenue", "net revenue"},
        KeyCase{"ogham_space", "a\u1680b", "a b"},
        KeyCase{"every_white_space",
                "a\t\n\v\f\r \u0085\u00A0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007"
                "\u2008\u2009\u200A\u2028\u2029\u202F\u205F\u3000b",
                "a b"},
        KeyCase{"empty", "", ""}, KeyCase{"white_space_only", " \t\u3000\n", ""},
        // Not White_Space: kept as they are.
        KeyCase{"zero_width_space", "a\u200Bb", "a\u200Bb"},
        KeyCase{"mongolian_vowel_separator", "a\u180Eb", "a\u180Eb"},
        KeyCase{"information_separators", "a\x1C\x1D\x1E\x1Fz", "a\x1C\x1D\x1E\x1Fz"},
        KeyCase{"combining_acute",
                "Caf"
                "e\u0301",
                "caf\u00E9"},
        KeyCase{"precomposed_acute", "CAF\u00C9", "caf\u00E9"},
        KeyCase{"ligature_kept", "\uFB01le", "\uFB01le"},
        KeyCase{"full_width_kept", "\uFF21", "\uFF41"}, KeyCase{"sharp_s_kept", "\u00DF", "\u00DF"},
        KeyCase{"sigma_alone", "\u03A3", "\u03C3"},
        KeyCase{"sigma_word", "\u03A3\u0391\u03A3", "\u03C3\u03B1\u03C2"},
        KeyCase{"sigma_words", "\u038C\u03A3\u039F\u03A3 \u03A3\u0391",
                "\u03CC\u03C3\u03BF\u03C2 \u03C3\u03B1"},
        KeyCase{"dotted_capital_i", "\u0130", "i\u0307"},
        KeyCase{"title_case_digraph", "\u01C5", "\u01C6"},
        KeyCase{"lone_combining_mark", "\u0301", "\u0301"},
        KeyCase{"unassigned", "A\U000E0080", "a\U000E0080"},
        KeyCase{"nul_kept", std::string("A\0B", 3), std::string("a\0b", 3)},
        KeyCase{"invalid_utf8_kept", "A\xFF B", "a\xFF b"}),
    [](const auto& info) { return std::string(info.param.name); });

// The key skips normalisation for text below U+0300; every such character must be NFC already.
TEST(LookupKeyText, CharactersBelowCombiningMarksAreTheirOwnNormalForm) {
    for (utf8proc_int32_t c = 1; c < 0x300; ++c) {
        utf8proc_uint8_t encoded[5] = {};
        const auto length = utf8proc_encode_char(c, encoded);
        utf8proc_uint8_t* composed = utf8proc_NFC(encoded);
        ASSERT_NE(composed, nullptr);
        // A lone character, composed: the same bytes, so no composition or decomposition applies.
        EXPECT_EQ(std::string(reinterpret_cast<char*>(composed)),
                  std::string(reinterpret_cast<char*>(encoded), static_cast<size_t>(length)))
            << std::hex << c;
        std::free(composed);
    }
}

TEST(LookupKeyText, TenMegabytesOfWhiteSpaceGiveTheEmptyKey) {
    std::string blanks;
    for (int i = 0; i < 1'000'000; ++i)
        blanks += " \t\u3000\u00A0";
    EXPECT_EQ(normalize_key(blanks + "X" + blanks), "x");
}

} // namespace
} // namespace vok::semantic_pack
