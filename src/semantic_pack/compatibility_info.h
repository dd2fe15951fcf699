// The tool versions a pack needs, its retirement dates and the packs it replaces.
//
// Every key may be missing, so `{}` is a complete block: `brisvandole_min_version` then reads as
// the empty text and `replaces_pack_ids` as the empty list (null is refused for both); the other
// four are optional texts. In the array form any trailing values may be left off.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct CompatibilityInfo {
    std::string brisvandole_min_version;
    std::optional<std::string> brisvandole_max_version;
    std::optional<std::string> lsp_min_version;
    std::optional<std::string> deprecated_after;
    std::optional<std::string> retired_after;
    std::vector<std::string> replaces_pack_ids;

    static Result<CompatibilityInfo, json::Error> read(json::Deserializer& de);

    friend bool operator==(const CompatibilityInfo&, const CompatibilityInfo&) = default;
};

json::Status read_into(json::Deserializer& de, CompatibilityInfo& record);
void write_json(RecordWriter& w, const CompatibilityInfo& record);

} // namespace vok::semantic_pack
