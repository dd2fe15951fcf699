// Canonical composition against utf8proc's own NFC on all of Unicode and on random mixes of
// letters, marks and Hangul, and the ordering of combining marks against neighbour-swapping, in
// results and in cost.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <utf8proc.h>
#include <vector>

#include "semantic_pack/canonical_composition.h"

namespace vok::semantic_pack {
namespace {

std::string encode(const std::vector<std::int32_t>& code_points) {
    std::string out;
    for (std::int32_t c : code_points) {
        utf8proc_uint8_t bytes[4];
        out.append(reinterpret_cast<char*>(bytes),
                   static_cast<std::size_t>(utf8proc_encode_char(c, bytes)));
    }
    return out;
}

// utf8proc's NFC with the options lookup keys use.
std::string library_nfc(const std::string& text) {
    utf8proc_uint8_t* composed = nullptr;
    const auto length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &composed,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    EXPECT_GE(length, 0);
    std::string out(reinterpret_cast<char*>(composed), static_cast<std::size_t>(length));
    std::free(composed);
    return out;
}

// Composed whole (within the usual piece) and cut wherever the text may be cut.
void expect_library_nfc(const std::vector<std::int32_t>& code_points) {
    const std::string text = encode(code_points);
    const std::string expected = library_nfc(text);
    for (std::size_t piece : {kCompositionPiece, std::size_t{1}}) {
        const auto composed = compose_canonically(text, piece);
        ASSERT_TRUE(composed.has_value());
        EXPECT_EQ(*composed, expected) << std::hex << code_points.front() << " piece " << piece;
    }
}

TEST(CanonicalComposition, EveryScalarValueForwardAndBackward) {
    std::vector<std::int32_t> chunk;
    for (std::int32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        chunk.push_back(c);
        if (chunk.size() == 64 || c == 0x10FFFF) {
            expect_library_nfc(chunk);
            // Reversed, runs of marks come in falling class order and must be sorted.
            expect_library_nfc({chunk.rbegin(), chunk.rend()});
            chunk.clear();
        }
    }
}

TEST(CanonicalComposition, RandomLettersMarksAndHangul) {
    const std::vector<std::int32_t> alphabet = {
        'a',    'A',    'e',    'o',    'u',    0x3B1,   0x3C9,   0x5D0,  0x627,  0x915,
        0xF40,  0x1100, 0x1161, 0x11A8, 0xAC00, 0xD4DB,  0x1E0B,  0x212B, 0x0F73, 0x0344,
        0x0300, 0x0301, 0x0308, 0x0316, 0x0323, 0x031B,  0x0334,  0x0345, 0x05B0, 0x05BC,
        0x0F71, 0x093C, 0x0CBC, 0x0E48, 0x302A, 0x1D165, 0x1D16D, ' ',    0x00C5, 0x01FA};
    std::mt19937 random(31);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(0, 40);
    for (int round = 0; round < 20'000; ++round) {
        std::vector<std::int32_t> code_points(length(random));
        for (auto& c : code_points)
            c = alphabet[pick(random)];
        if (code_points.empty()) code_points.push_back('x');
        expect_library_nfc(code_points);
    }
}

TEST(CanonicalComposition, CutsOnlyWhereNothingComposesAcross) {
    // Starters that compose with the starter before them (Hangul jamo after a syllable or a
    // leading consonant; Bengali, Oriya, Sinhala, Myanmar and Chakma vowel signs after their
    // first part), their first parts, and marks and letters around them.
    const std::vector<std::int32_t> alphabet = {
        0x1100, 0x1161, 0x11A8, 0xAC00, 0x09C7, 0x09BE, 0x09D7,  0x0B47,  0x0B3E, 0x0B56,
        0x0DD9, 0x0DCA, 0x0DCF, 0x0DDF, 0x1025, 0x102E, 0x11131, 0x11127, 'a',    0x0301,
        0x0323, 0x093C, ' ',    0x0915, 0x3099, 0x304B, 0x0F71,  0x0F72};
    std::mt19937 random(5);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(1, 60);
    for (int round = 0; round < 20'000; ++round) {
        std::vector<std::int32_t> code_points(length(random));
        for (auto& c : code_points)
            c = alphabet[pick(random)];
        expect_library_nfc(code_points);
    }
    // A long run without a place to cut is composed whole.
    std::vector<std::int32_t> marks = {'a'};
    marks.insert(marks.end(), 3 * kCompositionPiece, 0x0301);
    expect_library_nfc(marks);
}

TEST(CanonicalComposition, InvalidUtf8IsRefused) {
    for (const char* text : {"a\xED\xA0\x80", "\xC0\xAF", "\xE2\x82", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(compose_canonically(text).has_value()) << text;
}

// The neighbour-swapping utf8proc uses: the result the sort must reproduce.
void swap_order(std::vector<std::int32_t>& v, int (*combining_class)(std::int32_t)) {
    for (std::size_t pos = 0; pos + 1 < v.size();) {
        if (combining_class(v[pos]) > combining_class(v[pos + 1]) &&
            combining_class(v[pos + 1]) > 0) {
            std::swap(v[pos], v[pos + 1]);
            pos = pos > 0 ? pos - 1 : pos + 1;
        } else {
            ++pos;
        }
    }
}

TEST(CombiningMarkOrder, SameAsSwappingNeighbours) {
    // Synthetic classes: the value's last digit, so 0 is a frequent barrier and ties abound.
    auto digit_class = [](std::int32_t c) { return static_cast<int>(c % 10); };
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int32_t> value(0, 999);
    for (int round = 0; round < 5'000; ++round) {
        std::vector<std::int32_t> v(static_cast<std::size_t>(round % 60));
        for (auto& c : v)
            c = value(random);
        std::vector<std::int32_t> expected = v;
        swap_order(expected, +digit_class);
        order_combining_marks(v, digit_class);
        EXPECT_EQ(v, expected);
    }
}

TEST(CombiningMarkOrder, CostGrowsAsNLogN) {
    // Five marks of five classes repeated after one letter: one long run out of order.
    const std::vector<std::int32_t> pattern = {0x345, 0x301, 0x316, 0x5B0, 0xF71};
    auto class_lookups = [&](std::size_t marks) {
        std::vector<std::int32_t> v = {'a'};
        while (v.size() <= marks)
            v.insert(v.end(), pattern.begin(), pattern.end());
        std::size_t calls = 0;
        order_combining_marks(v, [&](std::int32_t c) {
            ++calls;
            return static_cast<int>(utf8proc_get_property(c)->combining_class);
        });
        return static_cast<double>(calls);
    };
    const double n = 10'000, small = class_lookups(10'000), large = class_lookups(40'000);
    // Quadratic work would grow sixteenfold; n log n a little over fourfold.
    EXPECT_LT(large / small, 6.0);
    EXPECT_LT(small, 4 * n * std::log2(n));
}

} // namespace
} // namespace vok::semantic_pack
