// The out-of-line half of utf8.h: whole-text validation and the maximal-subpart rule of lossy
// conversion, neither of which sits on a per-character hot path.
#include "common/utf8.h"

namespace vok {

size_t utf8_invalid_length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char second_low = 0x80, second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) second_low = 0xA0;
        if (lead == 0xED) second_high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) second_low = 0x90;
        if (lead == 0xF4) second_high = 0x8F;
    } else {
        return 1;
    }
    // The subpart runs as far as the bytes could still begin a valid sequence.
    size_t k = 1;
    while (k < length && at + k < text.size()) {
        const unsigned char next = byte(at + k);
        if (next < (k == 1 ? second_low : 0x80) || next > (k == 1 ? second_high : 0xBF)) break;
        ++k;
    }
    return k;
}

bool is_valid_utf8(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = utf8_sequence_length(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

} // namespace vok
