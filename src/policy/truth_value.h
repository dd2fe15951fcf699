// TruthValue: the outcome of three-valued evaluation, with Kleene's connectives.
//
// Unknown stands for "cannot be decided from the data" (a missing field, a value of the wrong
// kind); it absorbs like SQL's NULL: False decides a conjunction and True a disjunction whatever
// the other side is, otherwise Unknown spreads.
#pragma once

#include <cstdint>

namespace vok {

enum class TruthValue : uint8_t { True, False, Unknown };

inline TruthValue truth_of(bool b) {
    return b ? TruthValue::True : TruthValue::False;
}

inline TruthValue kleene_and(TruthValue a, TruthValue b) {
    if (a == TruthValue::False || b == TruthValue::False) return TruthValue::False;
    if (a == TruthValue::Unknown || b == TruthValue::Unknown) return TruthValue::Unknown;
    return TruthValue::True;
}

inline TruthValue kleene_or(TruthValue a, TruthValue b) {
    if (a == TruthValue::True || b == TruthValue::True) return TruthValue::True;
    if (a == TruthValue::Unknown || b == TruthValue::Unknown) return TruthValue::Unknown;
    return TruthValue::False;
}

inline TruthValue kleene_not(TruthValue a) {
    if (a == TruthValue::Unknown) return a;
    return a == TruthValue::True ? TruthValue::False : TruthValue::True;
}

} // namespace vok
