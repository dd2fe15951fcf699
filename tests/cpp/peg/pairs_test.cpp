// The pair view over a parse: spans, texts, children as range and cursor, positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "peg/combinators.h"
#include "peg/line_index.h"
#include "peg/pair_dump.h"
#include "peg/parser_state.h"
#include "peg/record_buffer.h"

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

const char* name_of(N rule) {
    return rule == N::list ? "list" : "item";
}

// Nested lists written out as records: "[a [b [c]] d]\n[e]" with the outer lists at the top.
ParseTree<N> nested_tree(std::string_view text) {
    const auto item = static_cast<uint16_t>(N::item);
    const auto list = static_cast<uint16_t>(N::list);
    RecordBuffer<PairRecord> records;
    for (const PairRecord& record : {
             PairRecord{0, 13, 7, list},  // [a [b [c]] d]
             PairRecord{1, 2, 2, item},   // a
             PairRecord{3, 10, 6, list},  // [b [c]]
             PairRecord{4, 5, 4, item},   // b
             PairRecord{6, 9, 6, list},   // [c]
             PairRecord{7, 8, 6, item},   // c
             PairRecord{11, 12, 7, item}, // d
             PairRecord{14, 17, 9, list}, // [e]
             PairRecord{15, 16, 9, item}, // e
         })
        records.push_back(record);
    return ParseTree<N>(text, std::move(records));
}

TEST(Pairs, GatherCopiesSubtreesInTheOrderGiven) {
    const std::string text = "[a [b [c]] d]\n[e]";
    const ParseTree<N> tree = nested_tree(text);
    ASSERT_EQ(dump_pairs(tree.pairs(), name_of),
              R"(list(item "a" list(item "b" list(item "c")) item "d") list(item "e"))");
    // Subtrees from several depths, out of text order, one of them twice.
    const std::vector<uint32_t> roots = {7, 2, 5, 0, 2};
    std::vector<uint32_t> placed = roots;
    const ParseTree<N> gathered = tree.gather(placed);
    EXPECT_EQ(placed, (std::vector<uint32_t>{0, 2, 6, 7, 14}));
    std::string expected;
    for (const uint32_t root : roots) {
        if (!expected.empty()) expected += ' ';
        dump_pair(tree.pair_at(root), name_of, expected);
    }
    EXPECT_EQ(dump_pairs(gathered.pairs(), name_of), expected);
    EXPECT_EQ(gathered.pair_count(), 2u + 4u + 1u + 7u + 4u);
    // Each copy starts where the previous one ends; positions still refer to the input.
    uint32_t index = 0;
    for (const Pair<N>& top : gathered.pairs()) {
        EXPECT_EQ(top.index(), index);
        index = top.end_index();
    }
    EXPECT_EQ(index, gathered.pair_count());
    EXPECT_EQ(gathered.pair_at(0).line_col(), (LineCol{2, 1}));
    EXPECT_EQ(gathered.pair_at(0).as_str(), "[e]");
}

// Given-back records read as zeros; those from the index on are kept, whatever the rounding to
// large pages; a buffer too small for large pages keeps everything.
TEST(RecordBuffer, ReleaseBeforeKeepsTheRecordsFromTheIndexOn) {
    const auto record_of = [](size_t i) {
        return PairRecord{static_cast<uint32_t>(i), static_cast<uint32_t>(i + 1),
                          static_cast<uint32_t>(i + 2), 7};
    };
    const auto kept = [&](const RecordBuffer<PairRecord>& buffer, size_t from) {
        for (size_t i = from; i < buffer.size(); ++i)
            if (buffer[i].start != i || buffer[i].next != i + 2) return false;
        return true;
    };
    for (const size_t count : {size_t{1000}, size_t{700000}}) {
        RecordBuffer<PairRecord> buffer;
        for (size_t i = 0; i < count; ++i)
            buffer.push_back(record_of(i));
        const size_t cut = count / 2 + 3; // not on a page boundary
        buffer.release_before(cut);
        buffer.release_before(cut / 2); // an earlier index changes nothing
        EXPECT_TRUE(kept(buffer, count < 100000 ? 0 : cut)) << count;
        if (count > 100000) {
            EXPECT_EQ(buffer[0].next, 0u);
        }
        buffer.release_before(count);
        EXPECT_EQ(buffer[count - 1].start, count - 1);
    }
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
