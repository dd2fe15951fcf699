// The registry file `.vok-registry.toml` as read, before any of its content is checked.
//
// The TOML reader only enforces the file's shape (types, required keys, the 8-bit version);
// the meaning of the values (supported version, non-empty lists, valid globs) is checked by
// NamespaceRegistry::load so that each kind of problem gets its own error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "registry/registry_error.h"

namespace vok::registry {

struct RawNamespace {
    std::string namespace_name;
    std::vector<std::string> patterns;
};

struct RawRegistry {
    std::uint8_t version = 0;
    std::optional<std::string> default_namespace;
    std::vector<RawNamespace> namespaces;
};

// Reads TOML `text` into its records. Unknown keys are ignored; syntax errors, duplicate keys,
// wrong value types, missing required keys, a version outside 0..255 and tables or arrays nested
// deeper than 256 levels are Parse errors whose text names the key and, where known, the line and
// column.
Result<RawRegistry, RegistryError> parse_raw_registry(std::string_view text);

} // namespace vok::registry
