// Parsing expressions as composable values, so a grammar reads like its PEG notation.
//
// A parser is any callable `bool(State&)`: a rule function, or one of the lambdas built here.
// The State must be a ParserState (or a subclass) that also offers `skip()`, the grammar's
// implicit whitespace-and-comment skip. Everything is a template over small lambdas that capture
// only literals and function pointers, so the compiler flattens an expression into straight-line
// code with direct calls to the rule functions: no std::function, no allocation.
//
// The shapes match the code that `pest` generates for non-atomic rules: `seq` runs the skip between
// its elements, `star` runs it before every repetition after the first (and gives it back when that
// repetition fails), and the skip itself does nothing in atomic mode, so the same combinators also
// serve inside atomic rules.
#pragma once

#include <string_view>

// Parsers are tiny and nest deeply; without this GCC stops inlining a few levels down and each
// literal becomes a call.
#if defined(__GNUC__)
#define VOK_PEG_INLINE __attribute__((always_inline))
#else
#define VOK_PEG_INLINE
#endif

namespace vok::peg::combinators {

// a ~ b ~ ...
template <class P0, class... Ps> constexpr auto seq(P0 p0, Ps... ps) {
    return [=](auto& s) VOK_PEG_INLINE {
        return s.sequence([&] { return (p0(s) && ... && (s.skip() && ps(s))); });
    };
}

// a | b | ...: the first alternative that matches wins.
template <class... Ps> constexpr auto choice(Ps... ps) {
    return [=](auto& s) VOK_PEG_INLINE { return (ps(s) || ...); };
}

// e?
template <class P> constexpr auto opt(P p) {
    return [=](auto& s) VOK_PEG_INLINE {
        p(s);
        return true;
    };
}

// e*
template <class P> constexpr auto star(P p) {
    return [=](auto& s) VOK_PEG_INLINE {
        if (!p(s)) return true;
        while (s.sequence([&] { return s.skip() && p(s); })) {
        }
        return true;
    };
}

// !e
template <class P> constexpr auto not_ahead(P p) {
    return [=](auto& s) VOK_PEG_INLINE { return s.negative_lookahead([&] { return p(s); }); };
}

// &e
template <class P> constexpr auto ahead(P p) {
    return [=](auto& s) VOK_PEG_INLINE { return s.positive_lookahead([&] { return p(s); }); };
}

// "..."
constexpr auto lit(std::string_view text) {
    return [=](auto& s) VOK_PEG_INLINE { return s.match_string(text); };
}

// ^"..."
constexpr auto ilit(std::string_view text) {
    return [=](auto& s) VOK_PEG_INLINE { return s.match_insensitive(text); };
}

// The body of a normal rule: `return define(s, Rule::x, seq(...));`.
template <class S, class R, class P> bool define(S& s, R r, P body) {
    return s.rule(r, [&] { return body(s); });
}

// The body of a normal rule that ordered choice may retry at one position: its failures are
// remembered (ParserState::remembered_rule).
template <class S, class R, class P> bool define_remembered(S& s, R r, P body) {
    return s.remembered_rule(r, [&] { return body(s); });
}

// The body of an atomic rule: one pair, nothing produced or tracked inside.
template <class S, class R, class P> bool define_atomic(S& s, R r, P body) {
    return s.rule(r, [&] { return s.atomic([&] { return body(s); }); });
}

} // namespace vok::peg::combinators
