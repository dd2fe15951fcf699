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
// Both functions poll for cancellation as they go (common/cancellation.h).
#pragma once

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

// `text` in Normalization Form C, compatibility mappings not applied; nothing when `text` is not
// valid UTF-8 (surrogates included).
std::optional<std::string> compose_canonically(std::string_view text);

} // namespace vok::semantic_pack
