// NamespaceBinding: one source file of a project together with the namespace it belongs to, as
// listed by NamespaceRegistry::resolve_files.
#pragma once

#include <string>

namespace vok::registry {

struct NamespaceBinding {
    // Absolute path below the registry root, as the file system spells it (bytes; not
    // necessarily valid UTF-8, see file_match::lossy_utf8 for showing it as text).
    std::string path;
    std::string namespace_name;

    bool operator==(const NamespaceBinding&) const = default;
};

} // namespace vok::registry
