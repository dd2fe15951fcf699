// Message texts of RegistryError; see registry_error.h.
#include "registry/registry_error.h"

namespace vok::registry {

namespace {

struct MessageWriter {
    std::string operator()(const RegistryError::Io& e) const { return "IO error: " + e.message; }
    std::string operator()(const RegistryError::TooLarge& e) const {
        return "Registry file too large: " + e.path + " (more than " + std::to_string(e.limit) +
               " bytes)";
    }
    std::string operator()(const RegistryError::NotRegularFile& e) const {
        return "Registry path is not a regular file: " + e.path + " (" + e.kind + ")";
    }
    std::string operator()(const RegistryError::Parse& e) const {
        return "Failed to parse registry: " + e.message;
    }
    std::string operator()(const RegistryError::UnsupportedVersion& e) const {
        return "Unsupported registry version " + std::to_string(unsigned{e.version});
    }
    std::string operator()(const RegistryError::NoNamespaces&) const {
        return "Registry must declare at least one namespace";
    }
    std::string operator()(const RegistryError::EmptyPatterns& e) const {
        return "Namespace '" + e.namespace_name + "' must provide at least one pattern";
    }
    std::string operator()(const RegistryError::InvalidPattern& e) const {
        return "Invalid pattern '" + e.pattern + "' for namespace '" + e.namespace_name +
               "': " + e.glob_error;
    }
    std::string operator()(const RegistryError::GlobBuild& e) const {
        return "Failed to build glob '" + e.pattern + "': " + e.message;
    }
    std::string operator()(const RegistryError::Walk& e) const {
        return "Failed to walk globbed files: " + e.message;
    }
    std::string operator()(const RegistryError::AmbiguousList& e) const {
        std::string text = "File '" + e.path + "' matched multiple namespaces: ";
        for (std::size_t i = 0; i < e.namespaces.size(); ++i) {
            if (i > 0) text += ", ";
            text += e.namespaces[i];
        }
        return text;
    }
};

} // namespace

std::string RegistryError::to_string() const {
    return std::visit(MessageWriter{}, variant);
}

} // namespace vok::registry
