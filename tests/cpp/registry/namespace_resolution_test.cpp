// Discovery of the registry, namespace_for and resolve_files on real directory trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "registry/namespace_registry.h"
#include "temp_tree.h"

namespace vok::registry {
namespace {

using testing::TempTree;

struct Entry {
    std::string name;
    std::vector<std::string> patterns;
};

std::string registry_text(const std::vector<Entry>& entries, const std::string& extra = "") {
    std::string text = "version = 1\n" + extra;
    for (const Entry& entry : entries) {
        text += "[[namespaces]]\nnamespace = \"" + entry.name + "\"\npatterns = [";
        for (std::size_t i = 0; i < entry.patterns.size(); ++i)
            text += (i ? ", '" : "'") + entry.patterns[i] + "'";
        text += "]\n";
    }
    return text;
}

NamespaceRegistry load(const TempTree& tree, const std::vector<Entry>& entries,
                       const std::string& extra = "") {
    auto registry = NamespaceRegistry::from_file(
        tree.write(".vok-registry.toml", registry_text(entries, extra)).native());
    EXPECT_TRUE(registry.ok()) << registry.error().to_string();
    return std::move(registry).value();
}

std::vector<std::pair<std::string, std::string>>
listing(const TempTree& tree, const NamespaceRegistry& registry, bool fail_on_ambiguity = false) {
    auto bindings = registry.resolve_files(fail_on_ambiguity);
    EXPECT_TRUE(bindings.ok()) << bindings.error().to_string();
    std::vector<std::pair<std::string, std::string>> out;
    const std::string prefix = tree.root().native() + "/";
    for (const auto& binding : bindings.value()) {
        EXPECT_EQ(binding.path.rfind(prefix, 0), 0u) << binding.path;
        out.emplace_back(binding.path.substr(prefix.size()), binding.namespace_name);
    }
    return out;
}

using Listing = std::vector<std::pair<std::string, std::string>>;

TEST(Discover, SearchesUpwardFromAFileOrADirectory) {
    TempTree tree;
    tree.write(".vok-registry.toml", registry_text({{"a", {"*.vok"}}}));
    const auto file = tree.write("src/deep/x.vok");
    for (const auto& start : {file, file.parent_path(), tree.root()}) {
        auto found = NamespaceRegistry::discover(start.native());
        ASSERT_TRUE(found.ok()) << found.error().to_string();
        ASSERT_TRUE(found->has_value()) << start;
        EXPECT_EQ((*found)->root(), tree.root());
    }
}

TEST(Discover, NothingWhenNoDirectoryUpwardHoldsARegistry) {
    TempTree tree;
    tree.write("src/x.vok");
    // A directory named like the registry file does not count.
    tree.make_dir("src/.vok-registry.toml");
    auto found = NamespaceRegistry::discover(tree.path("src").native());
    ASSERT_TRUE(found.ok()) << found.error().to_string();
    EXPECT_FALSE(found->has_value());
}

TEST(Discover, MissingPathIsAnIoErrorAndAnInvalidRegistryIsNotNothing) {
    TempTree tree;
    auto missing = NamespaceRegistry::discover(tree.path("nowhere").native());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().to_string().rfind("IO error: ", 0), 0u);

    tree.write(".vok-registry.toml", "version = 7\n");
    auto invalid = NamespaceRegistry::discover(tree.root().native());
    ASSERT_FALSE(invalid.ok());
    EXPECT_EQ(invalid.error().to_string(), "Unsupported registry version 7");
}

TEST(NamespaceFor, HigherSpecificityWins) {
    TempTree tree;
    // "src/" has 4 literal bytes, "src/models/" 11; file order does not matter.
    const auto registry = load(tree, {{"models", {"src/models/**"}}, {"general", {"src/**"}}});
    EXPECT_EQ(registry.namespace_for("src/models/a.vok", true).value(), "models");
    EXPECT_EQ(registry.namespace_for("src/other/a.vok", true).value(), "general");
}

TEST(NamespaceFor, EqualSpecificityTakesTheSmallestNameOrFails) {
    TempTree tree;
    const auto registry = load(tree, {{"b", {"*.vok"}}, {"a", {"*.vok"}}});
    EXPECT_EQ(registry.namespace_for("x.vok", false).value(), "a");
    auto ambiguous = registry.namespace_for("x.vok", true);
    ASSERT_FALSE(ambiguous.ok());
    EXPECT_TRUE(ambiguous.error().is<RegistryError::AmbiguousList>());
    EXPECT_EQ(ambiguous.error().to_string(), "File 'x.vok' matched multiple namespaces: a, b");
}

TEST(NamespaceFor, RepeatedNameIsListedTwice) {
    TempTree tree;
    const auto registry = load(tree, {{"a", {"*.vok"}}, {"a", {"?.vok"}}});
    EXPECT_EQ(registry.namespace_for("x.vok", true).error().to_string(),
              "File 'x.vok' matched multiple namespaces: a, a");
}

TEST(NamespaceFor, PathFormsAndTheDefaultNamespace) {
    TempTree tree;
    tree.write("src/real.vok");
    const auto registry =
        load(tree, {{"core", {"src/*.vok"}}}, "default_namespace = \"fallback\"\n");
    struct Case {
        std::string path;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"src/real.vok", "core"},
        {"src/missing.vok", "core"},
        {"./src/missing.vok", "core"},
        {"././src/missing.vok", "core"},
        {"src\\missing.vok", "core"},
        {".\\src\\missing.vok", "core"},
        {(tree.root() / "src/real.vok").native(), "core"},
        {(tree.root() / "src/../src/real.vok").native(), "core"},
        // `*` crosses "/" when a single path is asked about.
        {"src/deep/y.vok", "core"},
        {"other/y.vok", "fallback"},
        {"", "fallback"},
        {"/definitely/outside/src/x.vok", "fallback"},
        {tree.root().native() + "-sibling/src/x.vok", "fallback"},
        {(tree.root().parent_path() / "src/x.vok").native(), "fallback"},
    };
    for (const Case& c : cases) {
        auto result = registry.namespace_for(c.path, true);
        ASSERT_TRUE(result.ok()) << c.path << ": " << result.error().to_string();
        EXPECT_EQ(result.value(), c.expected) << c.path;
    }
}

TEST(NamespaceFor, FollowsSymbolicLinksIntoTheTree) {
    TempTree tree;
    tree.write("src/real.vok");
    TempTree elsewhere;
    std::filesystem::create_symlink(tree.path("src/real.vok"), elsewhere.path("link.vok"));
    const auto registry = load(tree, {{"core", {"src/*.vok"}}});
    EXPECT_EQ(registry.namespace_for(elsewhere.path("link.vok").native(), false).value(), "core");
}

TEST(ResolveFiles, ListsSelectedRegularFilesSortedByComponents) {
    TempTree tree;
    tree.write("a.txt");
    tree.write("a/z.vok");
    tree.write("a/b.vok");
    tree.write("b.vok");
    tree.write("notes.md");
    const auto registry = load(tree, {{"n", {"*.vok", "*.txt"}}});
    EXPECT_EQ(listing(tree, registry),
              (Listing{{"a/b.vok", "n"}, {"a/z.vok", "n"}, {"a.txt", "n"}, {"b.vok", "n"}}));
}

TEST(ResolveFiles, KeepsFileNameBytesThatAreNotUtf8) {
    TempTree tree;
    tree.write("caf\xE9.vok");
    const auto registry = load(tree, {{"a", {"*.vok"}}});
    EXPECT_EQ(listing(tree, registry), (Listing{{"caf\xE9.vok", "a"}}));
}

TEST(ResolveFiles, SingleStarStaysInItsDirectory) {
    TempTree tree;
    tree.write("src/x.vok");
    tree.write("src/deep/y.vok");
    tree.write("top.vok");
    tree.write("sub/top.vok");
    const auto registry = load(tree, {{"core", {"src/*.vok"}}, {"root", {"*"}}});
    EXPECT_EQ(
        listing(tree, registry),
        (Listing{{".vok-registry.toml", "root"}, {"src/x.vok", "core"}, {"top.vok", "root"}}));
    EXPECT_EQ(registry.namespace_for("src/deep/y.vok", false).value(), "core");
}

TEST(ResolveFiles, SpecificityAndTies) {
    TempTree tree;
    tree.write("src/models/m.vok");
    tree.write("src/x.vok");
    const auto ranked = load(tree, {{"general", {"src/**"}}, {"models", {"src/models/**"}}});
    EXPECT_EQ(listing(tree, ranked),
              (Listing{{"src/models/m.vok", "models"}, {"src/x.vok", "general"}}));

    const auto tied = load(tree, {{"b", {"**/*.vok"}}, {"a", {"*.vok"}}});
    EXPECT_EQ(listing(tree, tied), (Listing{{"src/models/m.vok", "a"}, {"src/x.vok", "a"}}));
    auto ambiguous = tied.resolve_files(true);
    ASSERT_FALSE(ambiguous.ok());
    const std::string message = ambiguous.error().to_string();
    EXPECT_EQ(message.rfind("File '" + tree.root().native() + "/src/", 0), 0u) << message;
    EXPECT_NE(message.find("' matched multiple namespaces: a, b"), std::string::npos) << message;

    // The same name twice is no conflict.
    const auto same = load(tree, {{"a", {"src/x.vok"}}, {"a", {"*.vok"}}});
    EXPECT_TRUE(same.resolve_files(true).ok());
}

TEST(ResolveFiles, ExclusionsAndCommentsListNothing) {
    TempTree tree;
    tree.write("keep.vok");
    tree.write("drop.vok");
    tree.write("!odd.txt");
    const auto registry =
        load(tree, {{"a", {"*.vok", "!drop.vok"}}, {"b", {"#drop.vok", "\\!odd.txt"}}});
    EXPECT_EQ(listing(tree, registry),
              (Listing{{"!odd.txt", "b"}, {"drop.vok", "a"}, {"keep.vok", "a"}}));
}

TEST(ResolveFiles, SymbolicLinksAreNeitherListedNorFollowed) {
    TempTree tree;
    TempTree outside;
    outside.write("far/away.vok");
    tree.write("real/in.vok");
    std::filesystem::create_symlink(tree.path("real/in.vok"), tree.path("file-link.vok"));
    std::filesystem::create_directory_symlink(tree.path("real"), tree.path("dir-link"));
    std::filesystem::create_directory_symlink(outside.path("far"), tree.path("escape"));
    const auto registry = load(tree, {{"a", {"**/*.vok"}}});
    EXPECT_EQ(listing(tree, registry), (Listing{{"real/in.vok", "a"}}));
}

TEST(ResolveFiles, UnreadableDirectoryIsAWalkError) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
    TempTree tree;
    tree.write("locked/x.vok");
    ::chmod(tree.path("locked").c_str(), 0);
    const auto registry = load(tree, {{"a", {"*.vok"}}});
    auto result = registry.resolve_files(false);
    ::chmod(tree.path("locked").c_str(), 0755);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(),
              "Failed to walk globbed files: IO error for operation on " +
                  tree.path("locked").native() + ": Permission denied (os error 13)");
}

TEST(ResolveFiles, VanishedRootIsAWalkError) {
    auto tree = std::make_unique<TempTree>();
    const auto registry = load(*tree, {{"a", {"*.vok"}}});
    const std::string root = tree->root().native();
    tree.reset();
    auto result = registry.resolve_files(false);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(),
              "Failed to walk globbed files: IO error for operation on " + root +
                  ": No such file or directory (os error 2)");
}

TEST(ResolveFiles, PatternTheWalkCannotReadIsAGlobBuildError) {
    TempTree tree;
    // Loads as an escaped tab; the walk drops the trailing blank and keeps a dangling backslash.
    const auto registry = load(tree, {{"a", {"a\\\t"}}});
    auto result = registry.resolve_files(false);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(),
              "Failed to build glob 'a\\\t': error parsing glob 'a\\': dangling '\\'");
}

TEST(ResolveFiles, EmptyListWhenNothingMatches) {
    TempTree tree;
    tree.write("readme.md");
    const auto registry = load(tree, {{"a", {"*.vok"}}});
    EXPECT_TRUE(listing(tree, registry).empty());
}

} // namespace
} // namespace vok::registry
