// The tool that produced a pack: its name and version, both required.
#pragma once

#include <string>

#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct GeneratorInfo {
    std::string name;
    std::string version;

    static Result<GeneratorInfo, json::Error> read(json::Deserializer& de);

    friend bool operator==(const GeneratorInfo&, const GeneratorInfo&) = default;
};

json::Status read_into(json::Deserializer& de, GeneratorInfo& record);
void write_json(RecordWriter& w, const GeneratorInfo& record);

} // namespace vok::semantic_pack
