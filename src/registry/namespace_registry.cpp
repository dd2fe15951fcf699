// Loading and discovery of the namespace registry; see namespace_registry.h. The operations
// that map files to namespaces live in namespace_resolution.cpp.
#include "registry/namespace_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/cancellation.h"
#include "file_match/path_text.h"
#include "registry/registry_file.h"

namespace vok::registry {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";

RegistryError io_error(const std::error_code& error) {
    return RegistryError::Io{file_match::os_error_text(error)};
}

RegistryError io_error_from_errno(int number) {
    return io_error(std::error_code(number, std::generic_category()));
}

bool has_nul(std::string_view path) {
    return path.find('\0') != std::string_view::npos;
}

// A registry lists a few namespaces and patterns; anything near this size is not one. The bound
// also keeps the TOML library's slower paths short (its time grows with the square of the number
// of dotted keys in one table, and it cannot be interrupted): a file at the bound reads in well
// under a second.
constexpr std::size_t kMaxRegistryFileBytes = std::size_t{1} << 20;

// What a file that is not a regular file is, for the message that refuses it.
std::string file_kind(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return "a directory";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    case fs::file_type::character:
        return "a character device";
    case fs::file_type::block:
        return "a block device";
    default:
        return "not a file";
    }
}

fs::file_type file_type_of(mode_t mode) {
    if (S_ISREG(mode)) return fs::file_type::regular;
    if (S_ISDIR(mode)) return fs::file_type::directory;
    if (S_ISFIFO(mode)) return fs::file_type::fifo;
    if (S_ISSOCK(mode)) return fs::file_type::socket;
    if (S_ISCHR(mode)) return fs::file_type::character;
    if (S_ISBLK(mode)) return fs::file_type::block;
    return fs::file_type::unknown;
}

RegistryError not_regular_file(std::string_view path, fs::file_type type) {
    return RegistryError::NotRegularFile{file_match::lossy_utf8(path), file_kind(type)};
}

// Closes the descriptor however reading ends, cancellation included.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Whether `mode` is that of a regular file; otherwise the error that refuses the file. A
// directory keeps the system's own error, as reading it would give.
std::optional<RegistryError> refuse_unless_regular(std::string_view path, mode_t mode) {
    const fs::file_type type = file_type_of(mode);
    if (type == fs::file_type::regular) return std::nullopt;
    if (type == fs::file_type::directory) return io_error_from_errno(EISDIR);
    return not_regular_file(path, type);
}

// The whole file as UTF-8 text, refused beyond kMaxRegistryFileBytes. Anything but a regular
// file is refused before it is opened (a FIFO would block in open until a writer comes, and
// then in read for as long as the writer lives); the file is opened without blocking and looked
// at again, in case it was replaced in between. A signal that interrupts a system call is the
// caller's to act on: the cancellation check runs before the call is retried.
Result<std::string, RegistryError> read_text_file(std::string_view path) {
    if (has_nul(path)) return Err(RegistryError::Io{std::string(kNulInPath)});
    const std::string path_text(path);
    struct stat status {};
    if (::stat(path_text.c_str(), &status) != 0) return Err(io_error_from_errno(errno));
    if (auto refused = refuse_unless_regular(path, status.st_mode)) return Err(std::move(*refused));
    int opened;
    while ((opened = ::open(path_text.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) < 0 &&
           errno == EINTR)
        poll_cancellation_now();
    if (opened < 0) return Err(io_error_from_errno(errno));
    const FileDescriptor fd(opened);
    if (::fstat(fd.get(), &status) != 0) return Err(io_error_from_errno(errno));
    if (auto refused = refuse_unless_regular(path, status.st_mode)) return Err(std::move(*refused));
    std::string text;
    char buffer[8192];
    while (true) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                poll_cancellation_now();
                continue;
            }
            return Err(io_error_from_errno(errno));
        }
        if (count == 0) break;
        if (text.size() + static_cast<std::size_t>(count) > kMaxRegistryFileBytes) {
            return Err(
                RegistryError::TooLarge{file_match::lossy_utf8(path_text), kMaxRegistryFileBytes});
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    if (!is_valid_utf8(text)) return Err(RegistryError::Io{"stream did not contain valid UTF-8"});
    return text;
}

Result<fs::path, RegistryError> canonical_directory(const fs::path& directory) {
    auto canonical = file_match::canonical_path(directory.native());
    if (!canonical.ok()) return Err(io_error(canonical.error()));
    return fs::path(std::move(canonical).value());
}

Result<CompiledNamespace, RegistryError> compile_namespace(RawNamespace raw) {
    if (raw.patterns.empty()) return Err(RegistryError::EmptyPatterns{raw.namespace_name});
    CompiledNamespace compiled;
    std::vector<std::string> regexes;
    for (const std::string& pattern : raw.patterns) {
        poll_cancellation();
        auto regex = file_match::glob_to_regex(pattern, /*literal_separator=*/false);
        if (!regex.ok()) {
            return Err(RegistryError::InvalidPattern{
                pattern, raw.namespace_name, file_match::glob_error_text(pattern, regex.error())});
        }
        regexes.push_back(std::move(regex).value());
        compiled.specificity = std::max(compiled.specificity, pattern_specificity(pattern));
    }
    auto globs = file_match::GlobSet::build(regexes);
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
        // An unreadable candidate counts as absent, like any other non-file: a FIFO, socket or
        // device of that name is passed over, never opened.
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
    return file_match::lossy_utf8(root_.native());
}

} // namespace vok::registry
