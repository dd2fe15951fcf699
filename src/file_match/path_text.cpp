// Path text helpers; see path_text.h.
#include "file_match/path_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/utf8.h"

namespace vok::file_match {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

std::string lossy_utf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t length = utf8_sequence_length(bytes, at);
        if (length > 0) {
            text.append(bytes.substr(at, length));
            at += length;
        } else {
            text.append(kReplacement);
            at += utf8_invalid_length(bytes, at);
        }
    }
    return text;
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
