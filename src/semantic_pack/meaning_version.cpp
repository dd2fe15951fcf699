// Meaning-version parsing and comparison; see meaning_version.h.
#include "semantic_pack/meaning_version.h"

#include <algorithm>

#include "semantic_version/semantic_version.h"

namespace vok::semantic_pack {

std::optional<std::vector<uint32_t>> parse_version_segments(std::string_view text) {
    std::vector<uint32_t> segments;
    while (true) {
        const size_t dot = text.find('.');
        auto segment = parse_version_number(text.substr(0, dot));
        if (!segment) return std::nullopt;
        segments.push_back(*segment);
        if (dot == std::string_view::npos) return segments;
        text.remove_prefix(dot + 1);
    }
}

int compare_meaning_versions(std::string_view previous, std::string_view next) {
    const auto old_segments = parse_version_segments(previous);
    const auto new_segments = parse_version_segments(next);
    if (!old_segments || !new_segments) return kVersionInvalid;
    const size_t length = std::max(old_segments->size(), new_segments->size());
    for (size_t i = 0; i < length; ++i) {
        const uint32_t a = i < old_segments->size() ? (*old_segments)[i] : 0;
        const uint32_t b = i < new_segments->size() ? (*new_segments)[i] : 0;
        if (a != b) return b > a ? kVersionIncreased : kVersionNotIncreased;
    }
    return kVersionNotIncreased;
}

} // namespace vok::semantic_pack
