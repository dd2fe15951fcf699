// Fuzzes the registry file reader (TOML shape, versions, namespaces) and the glob compiler.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "registry/glob.h"
#include "registry/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto raw = vok::parse_raw_registry(text);
    if (!raw.ok()) {
        (void)raw.error().to_string();
        return 0;
    }
    // Every pattern the file names goes through the glob compiler, as loading does.
    for (const auto& ns : raw->namespaces) {
        for (const auto& pattern : ns.patterns) {
            for (bool literal_separator : {false, true}) {
                auto regex = vok::registry::glob_to_regex(pattern, literal_separator);
                if (regex.ok()) (void)vok::registry::GlobSet::build({*regex});
            }
        }
    }
    return 0;
}
