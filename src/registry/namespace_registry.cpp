// Loading and discovery of the namespace registry; see namespace_registry.h. The operations
// that map files to namespaces live in namespace_resolution.cpp.
#include "registry/namespace_registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "registry/path_text.h"
#include "registry/registry_file.h"

namespace vok {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";

RegistryError io_error(const std::error_code& error) {
    return RegistryError::Io{registry::os_error_text(error)};
}

RegistryError io_error_from_errno(int number) {
    return io_error(std::error_code(number, std::generic_category()));
}

bool has_nul(std::string_view path) {
    return path.find('\0') != std::string_view::npos;
}

// A registry lists a few namespaces and patterns; anything near this size is not one.
constexpr std::size_t kMaxRegistryFileBytes = std::size_t{16} << 20;

// The whole file as UTF-8 text, refused beyond kMaxRegistryFileBytes.
Result<std::string, RegistryError> read_text_file(std::string_view path) {
    if (has_nul(path)) return Err(RegistryError::Io{std::string(kNulInPath)});
    const std::string path_text(path);
    const int fd = ::open(path_text.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Err(io_error_from_errno(errno));
    std::string text;
    char buffer[8192];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            const int number = errno;
            ::close(fd);
            return Err(io_error_from_errno(number));
        }
        if (count == 0) break;
        if (text.size() + static_cast<std::size_t>(count) > kMaxRegistryFileBytes) {
            ::close(fd);
            return Err(
                RegistryError::TooLarge{registry::lossy_utf8(path_text), kMaxRegistryFileBytes});
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    if (!registry::is_valid_utf8(text))
        return Err(RegistryError::Io{"stream did not contain valid UTF-8"});
    return text;
}

Result<fs::path, RegistryError> canonical_directory(const fs::path& directory) {
    auto canonical = registry::canonical_path(directory.native());
    if (!canonical.ok()) return Err(io_error(canonical.error()));
    return fs::path(std::move(canonical).value());
}

Result<CompiledNamespace, RegistryError> compile_namespace(RawNamespace raw) {
    if (raw.patterns.empty()) return Err(RegistryError::EmptyPatterns{raw.namespace_name});
    CompiledNamespace compiled;
    std::vector<std::string> regexes;
    for (const std::string& pattern : raw.patterns) {
        auto regex = registry::glob_to_regex(pattern, /*literal_separator=*/false);
        if (!regex.ok()) {
            return Err(RegistryError::InvalidPattern{
                pattern, raw.namespace_name, registry::glob_error_text(pattern, regex.error())});
        }
        regexes.push_back(std::move(regex).value());
        compiled.specificity = std::max(compiled.specificity, pattern_specificity(pattern));
    }
    auto globs = registry::GlobSet::build(regexes);
    if (!globs.ok()) {
        std::string joined;
        for (std::size_t i = 0; i < raw.patterns.size(); ++i) {
            if (i > 0) joined += ',';
            joined += raw.patterns[i];
        }
        return Err(RegistryError::InvalidPattern{std::move(joined), raw.namespace_name,
                                                 std::move(globs).error()});
    }
    compiled.globs = std::move(globs).value();
    compiled.namespace_name = std::move(raw.namespace_name);
    compiled.patterns = std::move(raw.patterns);
    return compiled;
}

} // namespace

std::size_t pattern_specificity(std::string_view pattern) {
    const std::size_t special = pattern.find_first_of("*?[]{}\\");
    return special == std::string_view::npos ? pattern.size() : special;
}

Result<NamespaceRegistry, RegistryError> NamespaceRegistry::from_file(std::string_view path) {
    return load(path);
}

Result<NamespaceRegistry, RegistryError> NamespaceRegistry::load(std::string_view path) {
    VOK_ASSIGN(const std::string text, read_text_file(path));
    VOK_ASSIGN(RawRegistry raw, parse_raw_registry(text));
    if (raw.version != 1) return Err(RegistryError::UnsupportedVersion{raw.version});
    if (raw.namespaces.empty()) return Err(RegistryError::NoNamespaces{});

    NamespaceRegistry registry;
    fs::path directory = fs::path(std::string(path)).parent_path();
    if (directory.empty()) directory = ".";
    VOK_ASSIGN(registry.root_, canonical_directory(directory));
    registry.default_namespace_ = raw.default_namespace.value_or("default");
    for (RawNamespace& entry : raw.namespaces) {
        VOK_ASSIGN(auto compiled, compile_namespace(std::move(entry)));
        registry.namespaces_.push_back(std::move(compiled));
    }
    return registry;
}

Result<std::optional<NamespaceRegistry>, RegistryError>
NamespaceRegistry::discover(std::string_view path) {
    if (has_nul(path)) return Err(RegistryError::Io{std::string(kNulInPath)});
    const fs::path given{std::string(path)};
    std::error_code error;
    fs::path start = given;
    if (fs::is_regular_file(given, error)) {
        start = given.parent_path();
        if (start.empty()) start = ".";
    }
    VOK_ASSIGN(fs::path directory, canonical_directory(start));
    while (true) {
        const fs::path candidate = directory / kFileName;
        // An unreadable candidate counts as absent, like any other non-file.
        if (fs::is_regular_file(candidate, error)) {
            VOK_ASSIGN(auto registry, load(candidate.native()));
            return std::optional<NamespaceRegistry>(std::move(registry));
        }
        fs::path parent = directory.parent_path();
        if (parent == directory || parent.empty()) return std::optional<NamespaceRegistry>();
        directory = std::move(parent);
    }
}

std::string NamespaceRegistry::root_text() const {
    return registry::lossy_utf8(root_.native());
}

} // namespace vok
