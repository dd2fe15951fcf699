// Unicode Normalization Form C (canonical composition only) for lookup keys.
//
// Normalising is three steps: decompose every character canonically, put every run of combining
// marks into canonical order, compose again. utf8proc does all three in one call, but orders the
// marks by swapping neighbours, which takes time quadratic in the length of a run: 40,000 marks
// after one letter take seconds. Here utf8proc still decomposes and composes, one character and
// one linear pass at a time, and the ordering is a stable sort of each run by combining class,
// which is exactly what the swapping arrives at (characters of class 0 never move, and marks of
// equal class keep their order). The result is the same text, byte for byte.
//
// Composition is done in pieces of a bounded number of code points, each cut before a character
// that starts afresh (combining class 0, and no composition takes it as its second part), so that
// the pieces compose exactly as the whole text would; a poll comes between two pieces.
//
// Both functions poll for cancellation as they go (common/cancellation.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/function_ref.h"

namespace vok::semantic_pack {

// Sorts every maximal run of code points whose combining class is not 0 by that class, keeping
// the order of code points of equal class. `combining_class` is asked through the sort's
// comparisons and at most twice per code point besides, so the number of calls shows the sort's
// cost.
void order_combining_marks(std::span<std::int32_t> code_points,
                           FunctionRef<int(std::int32_t)> combining_class);

// How many code points are composed between two polls, at least.
inline constexpr std::size_t kCompositionPiece = std::size_t{1} << 14;

// `text` in Normalization Form C, compatibility mappings not applied; nothing when `text` is not
// valid UTF-8 (surrogates included). Tests choose small pieces to have the text cut often.
std::optional<std::string> compose_canonically(std::string_view text,
                                               std::size_t piece = kCompositionPiece);

} // namespace vok::semantic_pack
