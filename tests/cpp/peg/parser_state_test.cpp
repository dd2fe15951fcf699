// Engine semantics on a small grammar: implicit skip, atomic rules, lookahead, backtracking,
// attempt tracking and the nesting limit. Expected failure reports were worked out by hand from
// the tracking rules (a lone child attempt stands for its parent; several are replaced by it).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "peg/combinators.h"
#include "peg/pair_dump.h"
#include "peg/parser_state.h"

namespace {

using namespace vok::peg;
using namespace vok::peg::combinators;

enum class T : uint8_t {
    EOI,
    letter_a,
    letter_b,
    letter_c,
    pair_ab,
    choice_ab,
    wrap_a,
    word,
    list,
    nested,
    guarded,
    atom
};

std::string_view name_of(T rule) {
    static constexpr std::string_view kNames[] = {"EOI",     "letter_a",  "letter_b", "letter_c",
                                                  "pair_ab", "choice_ab", "wrap_a",   "word",
                                                  "list",    "nested",    "guarded",  "atom"};
    return kNames[static_cast<size_t>(rule)];
}

// Spaces are the only implicit skip of this grammar.
class ToyState : public ParserState<T> {
public:
    using ParserState::ParserState;
    bool skip() {
        return implicit_skip([&] { return match_string(" "); }, [] { return false; });
    }
};

bool letter_a(ToyState& s) {
    return define(s, T::letter_a, lit("a"));
}
bool letter_b(ToyState& s) {
    return define(s, T::letter_b, lit("b"));
}
bool letter_c(ToyState& s) {
    return define(s, T::letter_c, lit("c"));
}
bool pair_ab(ToyState& s) {
    return define(s, T::pair_ab, seq(letter_a, letter_b));
}
bool choice_ab(ToyState& s) {
    return define(s, T::choice_ab, choice(letter_a, letter_b));
}
bool wrap_a(ToyState& s) {
    return define(s, T::wrap_a, letter_a);
}
bool word(ToyState& s) {
    const auto alpha = [](ToyState& st) { return st.match_range('a', 'z'); };
    return define_atomic(s, T::word, seq(alpha, star(alpha)));
}
bool list(ToyState& s) {
    return define(s, T::list, seq(letter_a, star(letter_b)));
}
bool nested(ToyState& s) {
    return define(s, T::nested, choice(seq(lit("("), nested, lit(")")), letter_a));
}
// !letter_a ~ word
bool guarded(ToyState& s) {
    return define(s, T::guarded, seq(not_ahead(letter_a), word));
}
// @{ letter_a ~ letter_b }
bool atom(ToyState& s) {
    return define_atomic(s, T::atom, seq(letter_a, letter_b));
}

template <class F> auto parse(std::string_view text, F start, size_t limit = 100) {
    return run_parser<ToyState, T>(text, limit, start);
}

template <class F> std::string dump(std::string_view text, F start) {
    auto result = parse(text, start);
    if (!result.ok()) return "<failed>";
    return dump_pairs(result->pairs(), name_of);
}

struct Report {
    size_t position;
    std::vector<T> positives;
    std::vector<T> negatives;
};

template <class F> Report report(std::string_view text, F start) {
    auto result = parse(text, start);
    EXPECT_FALSE(result.ok()) << text;
    if (result.ok()) return {};
    return {result.error().position, result.error().positives, result.error().negatives};
}

TEST(ParserState, SkipRunsBetweenElementsButNotAroundTheRule) {
    EXPECT_EQ(dump("a b", pair_ab), R"(pair_ab(letter_a "a" letter_b "b"))");
    EXPECT_EQ(dump(" ab", pair_ab), "<failed>");
    // The skip before a repetition that then fails is given back; the one after the first
    // element is not, because the (empty) repetition still succeeds.
    auto result = parse("a b b  x", list);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->root()->as_str(), "a b b");
    auto trailing = parse("a  x", list);
    ASSERT_TRUE(trailing.ok());
    EXPECT_EQ(trailing->root()->as_str(), "a  ");
}

TEST(ParserState, AtomicRulesSkipNothingAndLeaveNoInnerPairs) {
    EXPECT_EQ(dump("ab", atom), R"(atom "ab")");
    EXPECT_EQ(dump("a b", atom), "<failed>");
    // Rules inside an atomic rule are neither recorded nor tracked: the atomic rule is reported.
    const Report r = report("ax", atom);
    EXPECT_EQ(r.position, 0u);
    EXPECT_EQ(r.positives, std::vector<T>{T::atom});
}

TEST(ParserState, FailedSequencesRestorePositionAndDropPairs) {
    // (a ~ b) fails after a: its letter_a pair must not survive into the alternative.
    const auto start = [](ToyState& s) {
        return define(s, T::choice_ab, choice(seq(letter_a, letter_b), seq(letter_a, letter_c)));
    };
    EXPECT_EQ(dump("a c", start), R"(choice_ab(letter_a "a" letter_c "c"))");
}

TEST(ParserState, OrderedChoiceKeepsTheFirstMatch) {
    const auto start = [](ToyState& s) {
        return define(s, T::choice_ab, seq(choice(lit("a"), lit("ab")), lit("c")));
    };
    EXPECT_EQ(dump("abc", start), "<failed>");
    EXPECT_EQ(dump("a c", start), R"(choice_ab "a c")");
}

TEST(ParserState, LookaheadConsumesNothingAndLeavesNoPairs) {
    EXPECT_EQ(dump("bcd", guarded), R"(guarded(word "bcd"))");
    const auto positive = [](ToyState& s) {
        return define(s, T::guarded, seq(ahead(letter_b), word));
    };
    EXPECT_EQ(dump("bcd", positive), R"(guarded(word "bcd"))");
    EXPECT_EQ(dump("abc", guarded), "<failed>");
}

TEST(ParserState, CaseInsensitiveLiteralsFoldAsciiOnly) {
    const auto start = [](ToyState& s) { return define(s, T::word, ilit("Ab")); };
    EXPECT_EQ(dump("aB", start), R"(word "aB")");
    EXPECT_EQ(dump("AB", start), R"(word "AB")");
    EXPECT_EQ(dump("a", start), "<failed>");
    EXPECT_EQ(dump("A_", start), "<failed>");
}

TEST(ParserState, AttemptTracking) {
    // A failure deeper in the input wins; the rule failing there is reported, not its parent.
    Report r = report("ax", pair_ab);
    EXPECT_EQ(r.position, 1u);
    EXPECT_EQ(r.positives, std::vector<T>{T::letter_b});

    // Two children failing at the rule's own position are replaced by the rule.
    r = report("x", choice_ab);
    EXPECT_EQ(r.position, 0u);
    EXPECT_EQ(r.positives, std::vector<T>{T::choice_ab});

    // A single child failing there stands for its parent.
    r = report("x", wrap_a);
    EXPECT_EQ(r.positives, std::vector<T>{T::letter_a});

    // Without an enclosing rule, the children stay, sorted by the enumeration.
    r = report("x", [](ToyState& s) { return letter_b(s) || letter_a(s); });
    EXPECT_EQ(r.positives, (std::vector<T>{T::letter_a, T::letter_b}));

    // A rule that matches inside a negative lookahead is reported as a negative.
    r = report("abc", guarded);
    EXPECT_EQ(r.position, 0u);
    EXPECT_TRUE(r.positives.empty());
    EXPECT_EQ(r.negatives, std::vector<T>{T::letter_a});

    r = report("a", [](ToyState& s) { return guarded(s) || letter_b(s); });
    EXPECT_EQ(r.positives, std::vector<T>{T::letter_b});
    EXPECT_EQ(r.negatives, std::vector<T>{T::letter_a});

    // Repeated attempts of one rule are reported once.
    r = report("x", [](ToyState& s) { return letter_a(s) || letter_b(s) || letter_a(s); });
    EXPECT_EQ(r.positives, (std::vector<T>{T::letter_a, T::letter_b}));
}

TEST(ParserState, NestingLimitStopsTheRunWhereItWasHit) {
    EXPECT_EQ(dump("((a))", nested), R"(nested(nested(nested(letter_a "a"))))");
    // Eight parenthesised levels, the innermost `nested` and letter_a make ten rule levels.
    auto ok = parse("((((((((a))))))))", nested, 10);
    EXPECT_TRUE(ok.ok());

    auto refused = parse(std::string(20, '(') + "a" + std::string(20, ')'), nested, 10);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, FailureKind::NestingTooDeep);
    EXPECT_EQ(refused.error().nesting_limit, 10u);
    EXPECT_EQ(refused.error().position, 10u);
    EXPECT_EQ(refused.error().line_col, (LineCol{1, 11}));
}

TEST(ParserState, RefusalCannotBeSwallowedByOptionalsOrLookaheads) {
    // After the refusal every open rule fails, even one whose body would otherwise succeed.
    const auto start = [](ToyState& s) {
        return define(s, T::list, seq(opt(nested), not_ahead(nested), opt(letter_b)));
    };
    auto result = parse(std::string(50, '(') + "a", start, 10);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, FailureKind::NestingTooDeep);
}

// { "(" ~ twice ~ ")" | "(" ~ twice ~ "]" | "a" }: without the refusal reaching every later rule
// call, each level would retry its second alternative all the way down again.
int twice_calls = 0;
bool twice(ToyState& s) {
    if (++twice_calls > 10000) return false; // fail the test below instead of running for ages
    return define(s, T::nested,
                  choice(seq(lit("("), twice, lit(")")), seq(lit("("), twice, lit("]")), letter_a));
}

TEST(ParserState, RefusalDoesNotBacktrackIntoOtherAlternatives) {
    twice_calls = 0;
    auto result = parse(std::string(60, '(') + "a", twice, 40);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, FailureKind::NestingTooDeep);
    EXPECT_LT(twice_calls, 200);
}

TEST(ParserState, UntrackedFirstRunGivesTheSameTreeAndFailure) {
    // run_parser parses without tracking first; a tracking state must agree with it.
    for (std::string_view text : {"ab", "a b", "ax", "x", "a bb"}) {
        ToyState tracking(text, 100, true);
        const bool matched = pair_ab(tracking);
        auto direct = std::move(tracking).finish(matched);
        auto fast = parse(text, pair_ab);
        ASSERT_EQ(direct.ok(), fast.ok()) << text;
        if (direct.ok()) {
            EXPECT_EQ(dump_pairs(direct->pairs(), name_of), dump_pairs(fast->pairs(), name_of));
        } else {
            EXPECT_EQ(direct.error().position, fast.error().position);
            EXPECT_EQ(direct.error().positives, fast.error().positives);
        }
    }
}

TEST(ParserState, TerminalsStopAtTheEndOfInput) {
    const auto any_two = [](ToyState& s) {
        return define(s, T::word,
                      seq(
                          opt(lit("x")), [](ToyState& st) { return st.skip_any(); },
                          [](ToyState& st) { return st.skip_any(); }));
    };
    EXPECT_EQ(dump("é€", any_two), "word \"é€\"");
    EXPECT_EQ(dump("é", any_two), "<failed>");
    // An invalid byte is one character.
    EXPECT_EQ(dump("\xff\xfe", any_two), "word \"\xff\xfe\"");
    const auto eoi = [](ToyState& s) {
        return define(s, T::EOI, [](ToyState& st) { return st.end_of_input(); });
    };
    EXPECT_EQ(dump("", eoi), "EOI \"\"");
}

} // namespace
