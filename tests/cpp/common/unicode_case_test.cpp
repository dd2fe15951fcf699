// Full lowercasing: simple mappings, the two-character mapping of U+0130 and the final sigma.
#include <gtest/gtest.h>

#include <string>

#include "common/unicode_case.h"

namespace vok {
namespace {

struct Case {
    const char* input;
    const char* lowered;
};

class Lowercase : public testing::TestWithParam<Case> {};

TEST_P(Lowercase, MapsAsUnicodeFullLowercasing) {
    EXPECT_EQ(lowercase_text(GetParam().input), GetParam().lowered);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Lowercase,
    testing::Values(Case{"", ""}, Case{"ABC xyz_09", "abc xyz_09"}, Case{"ÉNERGIE", "énergie"},
                    Case{"\xC4\xB0stanbul", "i\xCC\x87stanbul"},
                    // Word-final capital sigma: after a cased letter, before none.
                    Case{"ΣΑΣ", "σας"}, Case{"ΟΔΟΣ ΟΔΟΣ", "οδος οδος"}, Case{"ΑΣ.", "ας."},
                    // Case-ignorable characters are skipped on both sides.
                    Case{"Α'Σ", "α'ς"}, Case{"ΑΣ'Α", "ασ'α"}, Case{"Α\xCC\x81Σ", "α\xCC\x81ς"},
                    Case{"ΑΣ\xCC\x81", "ας\xCC\x81"},
                    // A lone sigma, one at the start, or one before a letter keeps the medial form.
                    Case{"Σ", "σ"}, Case{" Σ", " σ"}, Case{"ΣΑ", "σα"}, Case{"'Σ", "'σ"},
                    Case{"1Σ", "1σ"}, Case{"ΑΣΣ", "ασς"}, Case{"AΣ", "aς"},
                    // A byte that starts no character is kept and is not a letter.
                    Case{"A\xFFΣ", "a\xFFσ"},
                    // Characters new in Unicode 15.0 take part in the context: a cased Latin
                    // letter (U+1DF25), a case-ignorable Cyrillic modifier letter (U+1E030) and a
                    // case-ignorable Kawi sign (U+11F00).
                    Case{"ΑΣ\U0001DF25", "ασ\U0001DF25"}, Case{"\U0001DF25Σ", "\U0001DF25ς"},
                    Case{"ΑΣ\U0001E030Α", "ασ\U0001E030α"}, Case{"Α\U00011F00Σ", "α\U00011F00ς"}));

// ASCII is lowered a run at a time; the context a run leaves for a following sigma is that of its
// last character that is not case-ignorable, and a run of ignorables leaves it as it was.
TEST(Lowercase, AsciiRunsCarryTheSigmaContext) {
    EXPECT_EQ(lowercase_text("A'.:^`Σ"), "a'.:^`ς");
    EXPECT_EQ(lowercase_text("A1'Σ"), "a1'σ");
    EXPECT_EQ(lowercase_text("Α''Σ"), "α''ς");
    EXPECT_EQ(lowercase_text("1Α''Σ"), "1α''ς");
    EXPECT_EQ(lowercase_text("ΑΣ'b"), "ασ'b");
    EXPECT_EQ(lowercase_text("ΑΣ'1"), "ας'1");
    // Runs longer than the polling stride are lowered in pieces; the context crosses them.
    const std::string upper(3000, 'Q');
    const std::string lower(3000, 'q');
    EXPECT_EQ(lowercase_text(upper + "Σ"), lower + "ς");
    EXPECT_EQ(lowercase_text(upper + std::string(2000, '\'') + "Σ"),
              lower + std::string(2000, '\'') + "ς");
    EXPECT_EQ(lowercase_text("1" + std::string(2000, '.') + "Σ"),
              "1" + std::string(2000, '.') + "σ");
    EXPECT_EQ(lowercase_text("ΑΣ" + upper), "ασ" + lower);
}

TEST(CaseProperties, ReadFromTheTables) {
    EXPECT_TRUE(is_cased(U'A'));
    EXPECT_TRUE(is_cased(U'\u00AA')); // Other_Lowercase
    EXPECT_TRUE(is_cased(U'\u2160')); // Roman numeral one, Other_Uppercase
    EXPECT_FALSE(is_cased(U'1'));
    EXPECT_FALSE(is_cased(U'\u05D0')); // Hebrew letters have no case
    EXPECT_TRUE(is_case_ignorable(U'\''));
    EXPECT_TRUE(is_case_ignorable(U'\u0301'));
    EXPECT_TRUE(is_case_ignorable(U'\u00AD'));
    EXPECT_FALSE(is_case_ignorable(U'a'));
    EXPECT_FALSE(is_case_ignorable(U'\U0010FFFF'));
}

} // namespace
} // namespace vok
