// Meaning versions: dot-separated unsigned numbers that must go up when a pack's meaning changes.
//
// A version is read as segments of one or more ASCII digits, each optionally after a single "+",
// each at most 4294967295; an empty segment (an empty text, two dots in a row, a dot at either end)
// makes the text invalid. Versions compare segment by segment from the left, a missing segment
// counting as 0, so "1.2" and "1.2.0" are equal. The pack build and the pack diff both ask only
// "did the version increase?", and an invalid text never counts as an increase.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vok::semantic_pack {

// The segments of a version text, or nothing when the text is not a valid version.
std::optional<std::vector<uint32_t>> parse_version_segments(std::string_view text);

// The answers of `compare_meaning_versions`.
inline constexpr int kVersionNotIncreased = 0;
inline constexpr int kVersionIncreased = 1;
inline constexpr int kVersionInvalid = 2;

// 1 when `next` is greater than `previous`, 0 when it is equal or smaller, 2 when either text is
// not a valid version.
int compare_meaning_versions(std::string_view previous, std::string_view next);

} // namespace vok::semantic_pack
