// Lookup keys; the definitions behind lookup_key.h.
#include "semantic_pack/lookup_key.h"

#include <optional>
#include <utf8proc.h>

#include "common/cancellation.h"
#include "common/unicode_case.h"
#include "common/unicode_white_space.h"
#include "semantic_pack/canonical_composition.h"

namespace vok::semantic_pack {

namespace {

// Whether every character is below U+0300. No such character decomposes, combines or takes part
// in a composition (the first characters that are not plainly NFC are the combining marks from
// U+0300), so such text is already in normal form C. In UTF-8 they are exactly the texts whose
// bytes are all below 0xCC, the lead byte of U+0300.
bool below_combining_marks(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0xCC) return false;
    return true;
}

// Canonical composition without compatibility mappings, case folding or mark stripping. Text that
// is not UTF-8 is kept as it is.
std::string nfc(std::string_view text) {
    if (below_combining_marks(text)) return std::string(text);
    std::optional<std::string> composed = compose_canonically(text);
    return composed ? std::move(*composed) : std::string(text);
}

// The words of `text` (split at runs of White_Space) joined by single spaces.
std::string collapse_white_space(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    bool pending_space = false;
    size_t offset = 0;
    while (offset < text.size()) {
        poll_cancellation();
        utf8proc_int32_t c = -1;
        const utf8proc_ssize_t used = utf8proc_iterate(
            bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &c);
        const size_t step = used > 0 ? static_cast<size_t>(used) : 1;
        if (used > 0 && is_white_space(static_cast<char32_t>(c))) {
            pending_space = !out.empty();
        } else {
            if (pending_space) out.push_back(' ');
            pending_space = false;
            out.append(text.substr(offset, step));
        }
        offset += step;
    }
    return out;
}

} // namespace

std::string normalize_key(std::string_view text) {
    return lowercase_text(collapse_white_space(nfc(text)));
}

} // namespace vok::semantic_pack
