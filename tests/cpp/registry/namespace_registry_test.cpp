// Loading `.vok-registry.toml`: the accepted shape, every refusal and its message, the root and
// the specificity of each namespace.
#include "registry/namespace_registry.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "temp_tree.h"

namespace vok::registry {
namespace {

using testing::TempTree;

Result<NamespaceRegistry, RegistryError> load_text(const TempTree& tree, const std::string& text) {
    return NamespaceRegistry::from_file(tree.write(".vok-registry.toml", text).native());
}

std::string load_error(const std::string& text) {
    TempTree tree;
    auto registry = load_text(tree, text);
    if (registry.ok()) return "<loaded>";
    return registry.error().to_string();
}

constexpr const char* kEntry = "[[namespaces]]\nnamespace = \"a\"\npatterns = [\"*.vok\"]\n";

struct ErrorCase {
    const char* name;
    std::string text;
    std::string message;
};

class RegistryLoadError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegistryLoadError, HasItsMessage) {
    EXPECT_EQ(load_error(GetParam().text), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryLoadError,
    ::testing::Values(
        ErrorCase{"Version2", std::string("version = 2\n") + kEntry,
                  "Unsupported registry version 2"},
        ErrorCase{"Version0", std::string("version = 0\n") + kEntry,
                  "Unsupported registry version 0"},
        ErrorCase{"Version300", std::string("version = 300\n") + kEntry,
                  "Failed to parse registry: invalid value: integer `300`, expected u8 for key "
                  "`version` at line 1 column 11"},
        ErrorCase{"VersionNegative", std::string("version = -1\n") + kEntry,
                  "Failed to parse registry: invalid value: integer `-1`, expected u8 for key "
                  "`version` at line 1 column 11"},
        ErrorCase{"VersionString", std::string("version = \"1\"\n") + kEntry,
                  "Failed to parse registry: invalid type: string \"1\", expected u8 for key "
                  "`version` at line 1 column 11"},
        ErrorCase{"VersionFloat", std::string("version = 1.0\n") + kEntry,
                  "Failed to parse registry: invalid type: floating point `1.0`, expected u8 for "
                  "key `version` at line 1 column 11"},
        ErrorCase{"VersionMissing", kEntry, "Failed to parse registry: missing field `version`"},
        ErrorCase{"NoNamespacesKey", "version = 1\n",
                  "Registry must declare at least one namespace"},
        ErrorCase{"EmptyNamespacesArray", "version = 1\nnamespaces = []\n",
                  "Registry must declare at least one namespace"},
        ErrorCase{"EmptyPatterns",
                  "version = 1\n[[namespaces]]\nnamespace = \"a\"\npatterns = []\n",
                  "Namespace 'a' must provide at least one pattern"},
        ErrorCase{"MissingPatterns", "version = 1\n\n[[namespaces]]\nnamespace = \"a\"\n",
                  "Failed to parse registry: missing field `patterns` for key `namespaces` at "
                  "line 3 column 1"},
        ErrorCase{"MissingNamespace", "version = 1\n[[namespaces]]\npatterns = [\"x\"]\n",
                  "Failed to parse registry: missing field `namespace` for key `namespaces` at "
                  "line 2 column 1"},
        ErrorCase{"PatternNotString",
                  "version = 1\n[[namespaces]]\nnamespace = \"a\"\npatterns = [1]\n",
                  "Failed to parse registry: invalid type: integer `1`, expected a string for "
                  "key `namespaces.patterns` at line 4 column 13"},
        ErrorCase{"PatternsNotArray",
                  "version = 1\n[[namespaces]]\nnamespace = \"a\"\npatterns = \"x\"\n",
                  "Failed to parse registry: invalid type: string \"x\", expected a sequence for "
                  "key `namespaces.patterns` at line 4 column 12"},
        ErrorCase{"NamespacesTable", "version = 1\n[namespaces]\nnamespace = \"a\"\n",
                  "Failed to parse registry: invalid type: map, expected a sequence for key "
                  "`namespaces` at line 2 column 1"},
        ErrorCase{"DefaultNamespaceNotString",
                  std::string("version = 1\ndefault_namespace = true\n") + kEntry,
                  "Failed to parse registry: invalid type: boolean `true`, expected a string for "
                  "key `default_namespace` at line 2 column 21"},
        ErrorCase{"InvalidPattern",
                  "version = 1\n[[namespaces]]\nnamespace = \"a\"\npatterns = [\"ok/**\", "
                  "\"[abc\"]\n",
                  "Invalid pattern '[abc' for namespace 'a': error parsing glob '[abc': unclosed "
                  "character class; missing ']'"},
        ErrorCase{"ParseBeforeVersionCheck", "version = 2\n[[namespaces]]\nnamespace = \"a\"\n",
                  "Failed to parse registry: missing field `patterns` for key `namespaces` at "
                  "line 2 column 1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryLoad, SyntaxAndDuplicateKeyErrorsComeFromTheTomlReader) {
    const std::vector<std::string> texts = {"version = \n", "version = 1\nversion = 1\n",
                                            std::string("version = 1\n") + kEntry +
                                                "namespace = \"b\"\n"};
    for (const std::string& text : texts) {
        const std::string message = load_error(text);
        EXPECT_EQ(message.rfind("Failed to parse registry: ", 0), 0u) << message;
        EXPECT_NE(message.find(" at line "), std::string::npos) << message;
    }
}

TEST(RegistryLoad, ReadsEntriesInFileOrderAndIgnoresUnknownKeys) {
    TempTree tree;
    auto registry = load_text(tree, "version = 1\n"
                                    "owner = \"platform team\"\n"
                                    "[[namespaces]]\n"
                                    "namespace = \"models\"\n"
                                    "patterns = [\"src/models/**\", \"*.vok\"]\n"
                                    "comment = \"ignored\"\n"
                                    "[[namespaces]]\n"
                                    "namespace = \"exact\"\n"
                                    "patterns = [\"exact/file.vok\"]\n");
    ASSERT_TRUE(registry.ok()) << registry.error().to_string();
    EXPECT_EQ(registry->default_namespace(), "default");
    EXPECT_EQ(registry->root(), tree.root());
    EXPECT_EQ(registry->root_text(), tree.root().native());
    const auto& entries = registry->namespaces();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].namespace_name, "models");
    EXPECT_EQ(entries[0].patterns, (std::vector<std::string>{"src/models/**", "*.vok"}));
    EXPECT_EQ(entries[0].specificity, 11u);
    EXPECT_EQ(entries[1].namespace_name, "exact");
    EXPECT_EQ(entries[1].specificity, 14u);
}

TEST(RegistryLoad, AcceptsInlineTablesAndADefaultNamespace) {
    TempTree tree;
    auto registry =
        load_text(tree, "version = 1\ndefault_namespace = \"core\"\n"
                        "namespaces = [{ namespace = \"a\", patterns = [\"*.vok\"] }]\n");
    ASSERT_TRUE(registry.ok()) << registry.error().to_string();
    EXPECT_EQ(registry->default_namespace(), "core");
    EXPECT_EQ(registry->namespaces().at(0).namespace_name, "a");
}

TEST(RegistryLoad, RootIsTheCanonicalDirectoryOfTheFile) {
    TempTree tree;
    tree.write("real/.vok-registry.toml", std::string("version = 1\n") + kEntry);
    std::filesystem::create_directory_symlink(tree.path("real"), tree.path("link"));
    auto via_link = NamespaceRegistry::from_file(tree.path("link/./.vok-registry.toml").native());
    ASSERT_TRUE(via_link.ok()) << via_link.error().to_string();
    EXPECT_EQ(via_link->root(), tree.path("real"));
}

TEST(RegistryLoad, BareFileNameUsesTheCurrentDirectory) {
    TempTree tree;
    tree.write("reg.toml", std::string("version = 1\n") + kEntry);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(tree.root());
    auto registry = NamespaceRegistry::from_file("reg.toml");
    std::filesystem::current_path(previous);
    ASSERT_TRUE(registry.ok()) << registry.error().to_string();
    EXPECT_EQ(registry->root(), tree.root());
}

TEST(RegistryLoad, FileSystemFailuresAreIoErrors) {
    TempTree tree;
    auto missing = NamespaceRegistry::from_file(tree.path("absent.toml").native());
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is<RegistryError::Io>());
    EXPECT_EQ(missing.error().to_string(), "IO error: No such file or directory (os error 2)");

    auto directory = NamespaceRegistry::from_file(tree.root().native());
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error().to_string(), "IO error: Is a directory (os error 21)");

    tree.write("latin1.toml", "version = 1 # caf\xE9\n");
    auto not_utf8 = NamespaceRegistry::from_file(tree.path("latin1.toml").native());
    ASSERT_FALSE(not_utf8.ok());
    EXPECT_EQ(not_utf8.error().to_string(), "IO error: stream did not contain valid UTF-8");

    auto nul = NamespaceRegistry::from_file(std::string("reg\0.toml", 9));
    ASSERT_FALSE(nul.ok());
    EXPECT_EQ(nul.error().to_string(), "IO error: file name contained an unexpected NUL byte");
}

// Only regular files are read: a FIFO would block the caller, a device might never end, and a
// socket cannot be opened at all. Discovery passes over them, as over any other non-file.
TEST(RegistryLoad, FilesThatAreNotRegularAreRefusedUnread) {
    TempTree tree;
    const auto fifo = tree.path("fifo/.vok-registry.toml");
    std::filesystem::create_directories(fifo.parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto socket_path = tree.path("socket/.vok-registry.toml");
    std::filesystem::create_directories(socket_path.parent_path());
    const int socket_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket_fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.native().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socket_path.c_str());
    ASSERT_EQ(::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const auto message = [](const std::string& path, const char* kind) {
        return "Registry path is not a regular file: " + path + " (" + kind + ")";
    };
    auto device = NamespaceRegistry::from_file("/dev/null");
    ASSERT_FALSE(device.ok());
    EXPECT_TRUE(device.error().is<RegistryError::NotRegularFile>());
    EXPECT_EQ(device.error().to_string(), message("/dev/null", "a character device"));
    auto socket = NamespaceRegistry::from_file(socket_path.native());
    ASSERT_FALSE(socket.ok());
    EXPECT_EQ(socket.error().to_string(), message(socket_path.native(), "a socket"));
    for (const auto& candidate : {fifo, socket_path}) {
        const auto below = tree.make_dir(candidate.parent_path().filename().native() + "/below");
        auto found = NamespaceRegistry::discover(below.native());
        ASSERT_TRUE(found.ok()) << candidate;
        EXPECT_FALSE(found->has_value()) << candidate;
    }
    ::close(socket_fd);
}

struct SpecificityCase {
    const char* pattern;
    std::size_t expected;
};

class Specificity : public ::testing::TestWithParam<SpecificityCase> {};

TEST_P(Specificity, CountsLiteralPrefixBytes) {
    EXPECT_EQ(pattern_specificity(GetParam().pattern), GetParam().expected) << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(Table, Specificity,
                         ::testing::Values(SpecificityCase{"src/models/**", 11},
                                           SpecificityCase{"*.vok", 0},
                                           SpecificityCase{"exact/file.vok", 14},
                                           SpecificityCase{"\xC3\xA9t\xC3\xA9/*.vok", 6},
                                           SpecificityCase{"ab\\*c", 2},
                                           SpecificityCase{"ab[c]", 2},
                                           SpecificityCase{"ab{c,d}", 2}, SpecificityCase{"a]b", 1},
                                           SpecificityCase{"a}b", 1}, SpecificityCase{"ab?", 2}));

} // namespace
} // namespace vok::registry
