#include "semantic_version/semantic_version.h"

#include <optional>

namespace vok {

std::optional<uint32_t> parse_version_number(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

Result<SemanticVersion, std::string> SemanticVersion::parse(std::string_view text) {
    std::string_view pieces[3];
    size_t count = 0;
    size_t start = 0;
    while (true) {
        size_t dot = text.find('.', start);
        std::string_view piece =
            text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (count == 3) return Err(std::string("Version must be in format major.minor.patch"));
        pieces[count++] = piece;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (count != 3) return Err(std::string("Version must be in format major.minor.patch"));
    static const char* const kErrors[3] = {"Invalid major version", "Invalid minor version",
                                           "Invalid patch version"};
    uint32_t numbers[3];
    for (size_t i = 0; i < 3; ++i) {
        auto n = parse_version_number(pieces[i]);
        if (!n) return Err(std::string(kErrors[i]));
        numbers[i] = *n;
    }
    return SemanticVersion{numbers[0], numbers[1], numbers[2]};
}

std::string SemanticVersion::to_string() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

Result<SemanticVersion, json::Error> read_semantic_version(json::Deserializer& de) {
    SemanticVersion v;
    auto number = [](uint32_t& out) {
        return [&out](json::Deserializer& d) -> json::Status {
            VOK_ASSIGN(out, json::read_u32(d));
            return Ok();
        };
    };
    json::Field fields[] = {
        {"major", false, number(v.major)},
        {"minor", false, number(v.minor)},
        {"patch", false, number(v.patch)},
    };
    VOK_TRY(json::read_struct(de, "struct SemanticVersion", fields));
    return v;
}

} // namespace vok
