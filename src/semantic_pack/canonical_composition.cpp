// Canonical composition; see canonical_composition.h.
#include "semantic_pack/canonical_composition.h"

#include <algorithm>
#include <utf8proc.h>
#include <vector>

#include "common/cancellation.h"

namespace vok::semantic_pack {

namespace {

// The options utf8proc's own NFC uses: canonical decomposition and composition.
constexpr auto kOptions = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE);

// Room for one character's canonical decomposition; none is longer than 4 code points.
constexpr std::size_t kDecompositionRoom = 8;

const auto property_combining_class = [](std::int32_t code_point) -> int {
    return utf8proc_get_property(code_point)->combining_class;
};

// The Hangul jamo that compose with the syllable or jamo before them (Unicode's algorithmic
// composition: leading consonant and vowel, then syllable and trailing consonant).
constexpr std::int32_t kHangulVowelFirst = 0x1161, kHangulVowelLast = 0x1175;
constexpr std::int32_t kHangulTrailingFirst = 0x11A8, kHangulTrailingLast = 0x11C2;

// The characters of combining class 0 that a composition may take as its second part (a vowel
// sign joining the consonant sign before it, say), sorted. Read from the library's own canonical
// decompositions, so it agrees with the composition the library does: every such character
// appears after the first place of the decomposition of what it composes into. Hangul syllables
// decompose by rule, not by table, and are added as ranges.
const std::vector<std::int32_t>& composition_seconds() {
    static const std::vector<std::int32_t> found = [] {
        std::vector<std::int32_t> seconds;
        for (std::int32_t c = kHangulVowelFirst; c <= kHangulVowelLast; ++c)
            seconds.push_back(c);
        for (std::int32_t c = kHangulTrailingFirst; c <= kHangulTrailingLast; ++c)
            seconds.push_back(c);
        std::int32_t parts[kDecompositionRoom];
        for (std::int32_t c = 0; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const utf8proc_property_t* property = utf8proc_get_property(c);
            if (property->decomp_seqindex == UINT16_MAX || property->decomp_type != 0) continue;
            int boundary_class = UTF8PROC_BOUNDCLASS_START;
            const utf8proc_ssize_t count = utf8proc_decompose_char(
                c, parts, kDecompositionRoom, UTF8PROC_DECOMPOSE, &boundary_class);
            for (utf8proc_ssize_t k = 1; k < count && k < utf8proc_ssize_t(kDecompositionRoom);
                 ++k) {
                if (property_combining_class(parts[k]) == 0) seconds.push_back(parts[k]);
            }
        }
        std::sort(seconds.begin(), seconds.end());
        seconds.erase(std::unique(seconds.begin(), seconds.end()), seconds.end());
        return seconds;
    }();
    return found;
}

// Whether composing the text from `code_point` on by itself gives what composing it after the
// text before it would: nothing before can combine with it.
bool starts_afresh(std::int32_t code_point) {
    if (property_combining_class(code_point) != 0) return false;
    const auto& seconds = composition_seconds();
    return !std::binary_search(seconds.begin(), seconds.end(), code_point);
}

} // namespace

void order_combining_marks(std::span<std::int32_t> code_points,
                           FunctionRef<int(std::int32_t)> combining_class) {
    std::size_t start = 0;
    while (start < code_points.size()) {
        poll_cancellation();
        if (combining_class(code_points[start]) == 0) {
            ++start;
            continue;
        }
        std::size_t end = start + 1;
        while (end < code_points.size() && combining_class(code_points[end]) != 0) {
            poll_cancellation();
            ++end;
        }
        if (end - start > 1) {
            std::stable_sort(code_points.begin() + static_cast<std::ptrdiff_t>(start),
                             code_points.begin() + static_cast<std::ptrdiff_t>(end),
                             [&](std::int32_t a, std::int32_t b) {
                                 return combining_class(a) < combining_class(b);
                             });
        }
        start = end;
    }
}

std::optional<std::string> compose_canonically(std::string_view text, std::size_t piece) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::vector<std::int32_t> code_points;
    code_points.reserve(text.size() + 1);
    int boundary_class = UTF8PROC_BOUNDCLASS_START; // unused without UTF8PROC_CHARBOUND
    std::size_t offset = 0;
    while (offset < text.size()) {
        poll_cancellation();
        utf8proc_int32_t c = -1;
        const utf8proc_ssize_t used = utf8proc_iterate(
            bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &c);
        if (used <= 0 || c < 0) return std::nullopt;
        offset += static_cast<std::size_t>(used);
        const std::size_t at = code_points.size();
        code_points.resize(at + kDecompositionRoom);
        utf8proc_ssize_t written = utf8proc_decompose_char(
            c, code_points.data() + at, kDecompositionRoom, kOptions, &boundary_class);
        if (written > static_cast<utf8proc_ssize_t>(kDecompositionRoom)) {
            code_points.resize(at + static_cast<std::size_t>(written));
            written = utf8proc_decompose_char(c, code_points.data() + at, written, kOptions,
                                              &boundary_class);
        }
        if (written < 0) return std::nullopt;
        code_points.resize(at + static_cast<std::size_t>(written));
    }
    order_combining_marks(code_points, property_combining_class);
    std::string out;
    out.reserve(text.size());
    std::vector<std::int32_t> scratch;
    std::size_t start = 0;
    while (start < code_points.size()) {
        poll_cancellation_now();
        std::size_t end = std::min(code_points.size(), start + std::max<std::size_t>(piece, 1));
        while (end < code_points.size() && !starts_afresh(code_points[end])) {
            poll_cancellation();
            ++end;
        }
        // Composition works in place and encodes into the same buffer, which needs one spare
        // byte.
        scratch.assign(code_points.begin() + static_cast<std::ptrdiff_t>(start),
                       code_points.begin() + static_cast<std::ptrdiff_t>(end));
        scratch.push_back(0);
        const utf8proc_ssize_t encoded =
            utf8proc_reencode(scratch.data(), static_cast<utf8proc_ssize_t>(end - start), kOptions);
        if (encoded < 0) return std::nullopt;
        out.append(reinterpret_cast<const char*>(scratch.data()),
                   static_cast<std::size_t>(encoded));
        start = end;
    }
    return out;
}

} // namespace vok::semantic_pack
