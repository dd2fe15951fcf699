// NamespaceRegistry: which namespace each VOK source file of a project belongs to.
//
// A project declares its namespaces in `.vok-registry.toml`, normally at its root: a format
// version, an optional default namespace, and for each namespace the glob patterns (relative to
// the directory of the file) that select its files. Loading reads and checks that file once and
// compiles every pattern; afterwards the registry is immutable and only reads the file system.
//
// When several namespaces claim a file, the one whose patterns start with the longest literal
// text ("src/models/**" is more specific than "src/**") wins; a tie goes to the byte-wise
// smallest name, or is reported when the caller asks for that.
//
// Values are self-contained and cheap to copy (the compiled patterns are shared). Every
// operation returns its failure as a RegistryError and throws nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "file_match/glob.h"
#include "registry/namespace_binding.h"
#include "registry/registry_error.h"

namespace vok::registry {

struct CompiledNamespace {
    std::string namespace_name;
    // The patterns as written in the registry file.
    std::vector<std::string> patterns;
    // All patterns compiled for path matching, where `*` and `?` also match "/".
    file_match::GlobSet globs;
    // The longest literal prefix over the patterns, in bytes (see pattern_specificity).
    std::size_t specificity = 0;
};

class NamespaceRegistry {
public:
    static constexpr std::string_view kFileName = ".vok-registry.toml";

    // Loads the registry file at `path` (any file name).
    static Result<NamespaceRegistry, RegistryError> from_file(std::string_view path);

    // The loading steps shared by from_file and discover: read the file as UTF-8, read the TOML,
    // check version and entries, take the file's directory (canonical) as the root, and compile
    // the patterns.
    static Result<NamespaceRegistry, RegistryError> load(std::string_view path);

    // Looks for `.vok-registry.toml` in the directory `path` (or the directory of the file
    // `path`) and then in each parent directory, and loads the first one found. Nothing when
    // there is none up to the file system root; an Io error when `path` does not exist; the
    // loading error when the file found is invalid.
    static Result<std::optional<NamespaceRegistry>, RegistryError> discover(std::string_view path);

    // The namespace of the file `path` (relative paths are taken from the root; the file need
    // not exist). Paths outside the root and paths no pattern matches get the default
    // namespace. Fails only with AmbiguousList, and only when `fail_on_ambiguity` is set.
    Result<std::string, RegistryError> namespace_for(std::string_view path,
                                                     bool fail_on_ambiguity) const;

    // Every regular file below the root that some pattern selects, with its namespace, sorted by
    // path component by component. Patterns are read gitignore-style here: `*` and `?` stop at
    // "/", and a pattern without "/" matches file names at any depth.
    Result<std::vector<NamespaceBinding>, RegistryError>
    resolve_files(bool fail_on_ambiguity) const;

    // Canonical absolute directory of the registry file.
    const std::filesystem::path& root() const { return root_; }
    // The root as UTF-8 text (invalid bytes replaced by U+FFFD).
    std::string root_text() const;
    const std::string& default_namespace() const { return default_namespace_; }
    const std::vector<CompiledNamespace>& namespaces() const { return namespaces_; }

private:
    NamespaceRegistry() = default;

    std::filesystem::path root_;
    std::string default_namespace_;
    std::vector<CompiledNamespace> namespaces_;
};

// Number of bytes of `pattern` before its first `*`, `?`, `[`, `]`, `{`, `}` or backslash (its
// whole length when it has none).
std::size_t pattern_specificity(std::string_view pattern);

} // namespace vok::registry
