// Shared helpers of the semantic-pack tests: reading files of the source tree and small packs.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "semantic_pack/semantic_pack.h"

namespace vok::semantic_pack::testing {

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::filesystem::path golden_dir() {
    return std::filesystem::path(VOK_SOURCE_DIR) / "tests/golden/pack";
}

// A pack document with every key, small lists and the given concepts array text.
inline std::string pack_text(const std::string& concepts = "[]",
                             const std::string& extra_trust = "") {
    return R"({"schema_version":"0.3","pack_id":"p","org_id":"o","domain_id":"d",)"
           R"("pack_version":"1","meaning_version":"1.0.0","meaning_fingerprint":"f",)"
           R"("source_graph_hash":"s","build_config_hash":"b","review_manifest_hash":"r",)"
           R"("created_at":"t","generator":{"name":"g","version":"1"},)"
           R"("trust":{"approval_state":"approved","signature_state":"unsigned")" +
           extra_trust + R"(},"concepts":)" + concepts +
           R"(,"relations":[],"metrics":[],"dimensions":[],"units":[],"aliases":[],)"
           R"("mapping_rules":[],"compatibility":{}})";
}

inline SemanticPack read_pack(const std::string& text) {
    auto pack = parse_semantic_pack(text);
    if (!pack.ok()) throw std::runtime_error(pack.error().to_string());
    return std::move(*pack);
}

} // namespace vok::semantic_pack::testing
