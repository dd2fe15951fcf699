// Why a parse failed, in the engine's terms; the grammar's own error type words it.
//
// An ordinary failure names the farthest position the parse reached, the rules that were expected
// there (positives) and the rules that must not occur there (negatives), each sorted by the rule
// enumeration without repeats. The other kinds are refusals that end a run early: nesting deeper
// than the engine will recurse, and input too long for the 32-bit offsets of the pair records.
#pragma once

#include <cstddef>
#include <vector>

#include "peg/line_index.h"

namespace vok::peg {

enum class FailureKind {
    Parsing,
    NestingTooDeep,
    InputTooLarge,
};

template <class R> struct ParseFailure {
    FailureKind kind = FailureKind::Parsing;
    size_t position = 0; // byte offset
    LineCol line_col{1, 1};
    std::vector<R> positives;
    std::vector<R> negatives;
    size_t nesting_limit = 0; // NestingTooDeep: the limit that was exceeded
};

} // namespace vok::peg
