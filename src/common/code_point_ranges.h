// Sorted tables of code point ranges, as the generated Unicode property tables are written, and
// the binary search that looks a character up in one. The search needs the ranges ascending and
// disjoint: each table is checked for that at compile time, beside its lookup.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace vok {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

template <size_t N> bool in_ranges(const CodePointRange (&ranges)[N], char32_t code_point) {
    const auto* after =
        std::upper_bound(std::begin(ranges), std::end(ranges), code_point,
                         [](char32_t c, const CodePointRange& range) { return c < range.first; });
    return after != std::begin(ranges) && code_point <= std::prev(after)->last;
}

template <size_t N> constexpr bool ascending(const CodePointRange (&ranges)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (ranges[i].first > ranges[i].last) return false;
        if (i > 0 && ranges[i - 1].last >= ranges[i].first) return false;
    }
    return true;
}

} // namespace vok
