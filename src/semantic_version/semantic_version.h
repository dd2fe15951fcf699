// SemanticVersion: the "major.minor.patch" versions of entities, policies and concept changes.
//
// There is no pre-release or build part: the three numbers are the whole version. Versions come
// from DSL text (`parse`) and from policy JSON (`read_semantic_version`), which accepts the object
// form {"major":1,"minor":2,"patch":3} and the array form [1,2,3].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "json/deserializer.h"

namespace vok {

struct SemanticVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t patch = 0;

    // Exactly three pieces separated by "."; each an unsigned 32-bit decimal with an optional "+".
    // Errors: "Version must be in format major.minor.patch", "Invalid major version",
    // "Invalid minor version", "Invalid patch version".
    static Result<SemanticVersion, std::string> parse(std::string_view text);

    std::string to_string() const;
    friend bool operator==(const SemanticVersion&, const SemanticVersion&) = default;
};

// One number of a version: an optional "+", then one or more ASCII digits and nothing else, at most
// 4294967295. Shared with the meaning versions of semantic packs, which read their numbers alike.
std::optional<uint32_t> parse_version_number(std::string_view text);

Result<SemanticVersion, json::Error> read_semantic_version(json::Deserializer& de);

} // namespace vok
