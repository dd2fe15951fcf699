// Path text helpers; see path_text.h.
#include "file_match/path_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vok::file_match {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at `at`, or 0 with `invalid_length` set to the length of
// the maximal invalid subpart (at least 1) that a lossy conversion replaces by one U+FFFD.
std::size_t valid_sequence_length(std::string_view text, std::size_t at,
                                  std::size_t& invalid_length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    invalid_length = 1;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
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
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (at + k >= text.size()) {
            invalid_length = k;
            return 0;
        }
        const unsigned char next = byte(at + k);
        const unsigned char low = k == 1 ? second_low : 0x80;
        const unsigned char high = k == 1 ? second_high : 0xBF;
        if (next < low || next > high) {
            invalid_length = k;
            return 0;
        }
    }
    return length;
}

} // namespace

std::string lossy_utf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t invalid_length = 0;
        const std::size_t length = valid_sequence_length(bytes, at, invalid_length);
        if (length > 0) {
            text.append(bytes.substr(at, length));
            at += length;
        } else {
            text.append(kReplacement);
            at += invalid_length;
        }
    }
    return text;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t invalid_length = 0;
        const std::size_t length = valid_sequence_length(bytes, at, invalid_length);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::vector<std::string_view> path_components(std::string_view path) {
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (!component.empty() && component != ".") components.push_back(component);
        start = end + 1;
    }
    return components;
}

bool path_components_less(std::string_view left, std::string_view right) {
    const auto left_components = path_components(left);
    const auto right_components = path_components(right);
    return std::lexicographical_compare(left_components.begin(), left_components.end(),
                                        right_components.begin(), right_components.end());
}

Result<std::string, std::error_code> canonical_path(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return Err(std::error_code(EINVAL, std::generic_category()));
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return Err(std::error_code(errno, std::generic_category()));
    std::string text(resolved);
    std::free(resolved);
    return text;
}

std::string os_error_text(const std::error_code& error) {
    if (error.category() == std::generic_category() || error.category() == std::system_category())
        return error.message() + " (os error " + std::to_string(error.value()) + ")";
    return error.message();
}

} // namespace vok::file_match
