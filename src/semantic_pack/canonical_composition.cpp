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

std::optional<std::string> compose_canonically(std::string_view text) {
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
    // Composition works in place and encodes into the same buffer, which needs one spare byte.
    const auto length = static_cast<utf8proc_ssize_t>(code_points.size());
    code_points.push_back(0);
    const utf8proc_ssize_t encoded = utf8proc_reencode(code_points.data(), length, kOptions);
    if (encoded < 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(code_points.data()),
                       static_cast<std::size_t>(encoded));
}

} // namespace vok::semantic_pack
