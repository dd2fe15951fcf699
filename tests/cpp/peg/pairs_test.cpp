// The pair view over a parse: spans, texts, children as range and cursor, positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "peg/combinators.h"
#include "peg/line_index.h"
#include "peg/parser_state.h"

namespace {

using namespace vok::peg;
using namespace vok::peg::combinators;

enum class N : uint8_t { item, list };

class ListState : public ParserState<N> {
public:
    using ParserState::ParserState;
    bool skip() {
        return implicit_skip([&] { return match_string(" ") || match_string("\n"); },
                             [] { return false; });
    }
};

bool item(ListState& s) {
    const auto letter = [](ListState& st) {
        return st.match_char_by([](int32_t cp) { return cp > ' ' && cp != '[' && cp != ']'; });
    };
    return define_atomic(s, N::item, seq(letter, star(letter)));
}
// "[" ~ item* ~ "]"
bool list(ListState& s) {
    return define(s, N::list, seq(lit("["), star(item), lit("]")));
}

TEST(Pairs, ChildrenSpansAndTexts) {
    const std::string text = "[ab c\n  déf ]";
    auto result = run_parser<ListState, N>(text, 50, list);
    ASSERT_TRUE(result.ok());
    const auto root = result->root();
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->rule(), N::list);
    EXPECT_EQ(root->start(), 0u);
    EXPECT_EQ(root->end(), text.size());
    EXPECT_EQ(root->as_str(), text);

    std::vector<std::string> texts;
    for (const Pair<N>& child : root->children()) {
        EXPECT_EQ(child.rule(), N::item);
        EXPECT_TRUE(child.children().empty());
        texts.emplace_back(child.as_str());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"ab", "c", "déf"}));
    EXPECT_EQ(root->children().size(), 3u);

    // Cursor use: peek does not advance, next does.
    auto cursor = root->children();
    EXPECT_EQ(cursor.peek()->as_str(), "ab");
    EXPECT_EQ(cursor.next()->as_str(), "ab");
    EXPECT_EQ(cursor.next()->as_str(), "c");
    const auto third = cursor.next();
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(third->line_col(), (LineCol{2, 3}));
    EXPECT_FALSE(cursor.next().has_value());
    EXPECT_FALSE(cursor.peek().has_value());
}

TEST(Pairs, StayValidWhenTheTreeMoves) {
    const std::string text = "[x y]";
    auto result = run_parser<ListState, N>(text, 50, list);
    ASSERT_TRUE(result.ok());
    const Pair<N> first = *result->root()->children().begin();
    ParseTree<N> moved = std::move(result).value();
    EXPECT_EQ(first.as_str(), "x");
    EXPECT_EQ(moved.pair_count(), 3u);
}

TEST(LineIndex, CountsLinesByLineFeedAndColumnsByCharacter) {
    const std::string text = "ab\r\ncé\n\nx€y";
    const LineIndex index(text);
    struct Case {
        size_t offset;
        LineCol expected;
    } cases[] = {
        {0, {1, 1}}, {2, {1, 3}}, {3, {1, 4}}, // a carriage return is a character
        {4, {2, 1}}, {5, {2, 2}}, {7, {2, 3}}, // é is two bytes, one column
        {8, {3, 1}}, {9, {4, 1}}, {10, {4, 2}}, {13, {4, 3}}, {14, {4, 4}}, // end of input
    };
    for (const Case& c : cases) {
        EXPECT_EQ(index.line_col(c.offset), c.expected) << c.offset;
        EXPECT_EQ(line_col_at(text, c.offset), c.expected) << c.offset;
    }
    EXPECT_EQ(count_chars("x€\xff"), 3u);
}

// Lookups count on from the previous one when it lies earlier on the same line; any order of
// lookups gives the same answers as a fresh scan.
TEST(LineIndex, AnswersAlikeInEveryOrderOfLookups) {
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += i % 7 == 6 ? "\n" : (i % 3 == 0 ? "é" : "ab");
    std::vector<size_t> offsets;
    for (size_t offset = 0; offset <= text.size(); ++offset)
        if (offset == text.size() || (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80)
            offsets.push_back(offset);
    std::vector<size_t> shuffled = offsets;
    std::mt19937 random(15);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::vector<size_t> descending(offsets.rbegin(), offsets.rend());
    for (const auto* order : {&offsets, &shuffled, &descending}) {
        const LineIndex index(text);
        for (size_t offset : *order)
            EXPECT_EQ(index.line_col(offset), line_col_at(text, offset)) << offset;
    }
}

} // namespace
