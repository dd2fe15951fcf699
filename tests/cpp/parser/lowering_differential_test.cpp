// The lowering against its reference (tests/cpp/parser/oracle/): on every example, golden input,
// fuzz-corpus input, the benchmark model and a family of generated models, both must accept or
// refuse alike, with the same error text and kind, and build the same graph as its canonical dump
// shows, including the effective profile written back into the tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "golden.h"
#include "oracle/graph_dump.h"
#include "oracle/reference_lowering.h"
#include "parser/lowering.h"
#include "parser/parse_source.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

using testing::lowering_outcome;

// Lowers the source three ways (reference, borrowed tree, owned tree), with the default options
// also straight from the pairs (parse_to_graph), and compares the outcomes. Returns false when the
// source does not parse, which the caller may count.
bool expect_same_lowering(const std::string& source, const LoweringOptions& options = {}) {
    const bool default_options =
        !options.default_namespace && !options.default_profile && !options.accept_any_profile;
    // Trees hold move-only nodes, so each lowering gets a tree of its own.
    auto reference_tree = parse_source(source);
    if (!reference_tree.ok()) {
        if (default_options) {
            EXPECT_EQ(lowering_outcome(parse_to_graph(source)),
                      lowering_outcome(Err(reference_tree.error())));
        }
        return false;
    }
    auto borrowed_tree = parse_source(source);
    auto owned_tree = parse_source(source);
    const std::string expected = lowering_outcome(reference::lower(*reference_tree, options));
    EXPECT_EQ(lowering_outcome(ast_to_graph(*borrowed_tree, options)), expected);
    EXPECT_EQ(borrowed_tree->metadata.profile, reference_tree->metadata.profile);
    EXPECT_EQ(lowering_outcome(ast_to_graph(std::move(*owned_tree), options)), expected);
    if (default_options) {
        EXPECT_EQ(lowering_outcome(parse_to_graph(source)), expected);
    }
    return true;
}

std::vector<fs::path> files_under(const fs::path& dir, bool vok_only) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        if (vok_only && entry.path().extension() != ".vok") continue;
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(LoweringDifferential, ExamplesGoldenInputsAndFuzzCorpus) {
    const fs::path root(VOK_SOURCE_DIR);
    int lowered = 0;
    for (const auto& [dir, vok_only] :
         {std::pair{root / "examples", true}, std::pair{root / "tests/golden", true},
          std::pair{root / "fuzz/corpus/source_fuzz", false}}) {
        for (const fs::path& file : files_under(dir, vok_only)) {
            SCOPED_TRACE(file.string());
            if (expect_same_lowering(testing::slurp(file))) ++lowered;
        }
    }
    // Most corpus inputs are fragments that do not parse; the rest must be a real sample.
    EXPECT_GT(lowered, 100);
}

TEST(LoweringDifferential, OptionsAndNamespaces) {
    const std::string source = "Entity \"A\"\nEntity \"A\" in x\nFlow \"R\" from \"A\" to \"A\"\n"
                               "Resource \"R\" in y\nPolicy p as: count(flows) > 0\n";
    LoweringOptions options;
    expect_same_lowering(source, options);
    options.default_namespace = "x";
    options.default_profile = "cloud";
    expect_same_lowering(source, options);
    options.default_profile = "nowhere";
    expect_same_lowering(source, options);
    options.accept_any_profile = true;
    expect_same_lowering(source, options);
}

TEST(LoweringDifferential, BenchmarkModel) {
    const fs::path model = fs::temp_directory_path() / "vok_lowering_differential_model.vok";
    const std::string command =
        "/usr/bin/python3 " VOK_SOURCE_DIR "/bench/generate_model.py " + model.string() + " 40";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string source = testing::slurp(model);
    fs::remove(model);
    ASSERT_TRUE(expect_same_lowering(source));
}

// Small random models over few names, namespaces and domains. Half of them are meant to lower:
// duplicates are skipped and references name declared things (they may still be ambiguous across
// namespaces, or collide: "a" + "::" + "b::c" is "a::b" + "::" + "c"). The other half carry
// faults of every kind now and then: duplicates, undefined references, bad versions, invalid
// regexes, unsupported instance fields, unknown profiles.
class ModelGenerator {
public:
    explicit ModelGenerator(unsigned seed) : random_(seed), faulty_(seed % 2 == 1) {}

    std::string model() {
        std::string out;
        if (chance(3)) out += "@namespace \"" + pick({"n1", "a::b", "default", "n2"}) + "\"\n";
        if (chance(4)) out += "@version \"" + (fault(3) ? "x" : pick({"1.0.0", "2.1.0"})) + "\"\n";
        if (chance(8))
            out += "@profile \"" + (fault(2) ? "nope" : pick({"cloud", "data"})) + "\"\n";

        std::vector<std::string> declarations;
        const int participants = 2 + static_cast<int>(random_() % 14);
        for (int i = 0; i < participants; ++i) {
            switch (random_() % 3) {
            case 0:
                participant(declarations, entities_, "Entity", pick(kEntities), entity_suffix());
                break;
            case 1:
                participant(declarations, resources_, "Resource", pick(kResources),
                            chance(2) ? " " + pick({"kg", "USD", "lw_diff_unknown", "units"}) : "");
                break;
            default:
                participant(declarations, roles_, "Role", pick(kRoles), "");
                break;
            }
        }
        const int others = static_cast<int>(random_() % 16);
        for (int i = 0; i < others; ++i)
            declarations.push_back(other());
        std::shuffle(declarations.begin(), declarations.end(), random_);
        for (const std::string& declaration : declarations)
            out += (chance(8) ? "export " : "") + declaration + "\n";
        return out;
    }

private:
    static constexpr std::initializer_list<const char*> kEntities = {"A", "B", "b::c", "c", "D"};
    static constexpr std::initializer_list<const char*> kResources = {"R", "S", "b::c", "T"};
    static constexpr std::initializer_list<const char*> kRoles = {"P", "Q", "c", "b::c"};

    bool chance(int one_in) { return random_() % one_in == 0; }
    bool fault(int one_in) { return faulty_ && chance(one_in); }
    std::string pick(std::initializer_list<const char*> options) {
        return *(options.begin() + random_() % options.size());
    }
    std::string pick(const std::vector<std::string>& declared, const char* fallback) {
        if (declared.empty() || fault(6)) return fallback;
        return declared[random_() % declared.size()];
    }
    // A fresh name, or in a faulty model now and then one used before.
    std::string unique(const char* stem) { return stem + std::to_string(fault(8) ? 0 : ++serial_); }

    std::string entity_suffix() {
        std::string d;
        if (chance(3)) d += " v" + (fault(4) ? std::string("99999999999.0.0") : "1.2.3");
        if (chance(3)) d += " @replaces \"" + pick({"Old", "A"}) + "\"";
        if (chance(3)) d += " @changes [" + pick({"\"x\", \"y\"", "\"z\""}) + "]";
        return d;
    }

    // Declares a name in a namespace unless already declared there (a faulty model may repeat).
    void participant(std::vector<std::string>& out, std::vector<std::string>& declared,
                     const char* kind, const std::string& name, const std::string& suffix) {
        const std::string domain = chance(2) ? "" : pick({"n1", "a", "n2"});
        const std::string key = domain + "\n" + name;
        if (std::find(keys_.begin(), keys_.end(), kind + key) != keys_.end() && !fault(3)) return;
        keys_.push_back(kind + key);
        declared.push_back(name);
        out.push_back(std::string(kind) + " \"" + name + "\"" + suffix +
                      (domain.empty() ? "" : " in " + domain));
    }

    std::string other() {
        switch (random_() % 10) {
        case 0:
        case 1:
            return "Flow \"" + pick(resources_, "Z") + "\" from \"" + pick(entities_, "Z") +
                   "\" to \"" + pick(entities_, "Z") + "\"" +
                   (chance(2) ? " quantity " + pick({"12.50", "0", "3"}) : "");
        case 2:
            return "Relation \"" + unique("Rel") + "\" subject: \"" + pick(roles_, "Z") +
                   "\" predicate: \"p\" object: \"" + pick(roles_, "Z") + "\"" +
                   (chance(2) ? " via: flow \"" + pick(resources_, "Z") + "\"" : "");
        case 3:
            return "Instance " + unique("i") + " of \"" + pick(entities_, "Z") + "\" { " +
                   (fault(4) ? pick({"f: 1 + 2", "f: -1", "f: a.b"})
                             : pick({"f: 1", "g: 2 \"kg\", h: \"t\"", "f: x", "k: true"})) +
                   " }";
        case 4:
            return "ConceptChange \"" + unique("C") +
                   "\" @from_version v1.0.0 @to_version v2.0.0 @migration_policy m "
                   "@breaking_change " +
                   pick({"true", "false"});
        case 5:
            return "Policy " + unique("p") + (chance(2) ? " v1.2.3" : "") + " as: count(flows) > " +
                   pick({"0", "1"});
        case 6:
            return "Metric \"" + unique("m") + "\" as: count(flows)";
        case 7:
            return "Pattern \"" + unique("P") + "\" matches \"" +
                   (fault(6) ? std::string("[") : pick({"^a+$", "b"})) + "\"";
        case 8:
            return chance(2) ? "Mapping \"" + unique("map") +
                                   "\" for calm { Entity \"A\" -> Node { a: \"1\" } }"
                             : "Projection \"" + unique("pr") +
                                   "\" for KG { Entity \"A\" { label: \"L\" } }";
        default:
            return chance(2) ? "Dimension \"Energy\""
                             : "Unit \"lw_diff_kwh\" of \"Energy\" factor 3600000 base \"J\"";
        }
    }

    std::mt19937 random_;
    const bool faulty_;
    int serial_ = 0;
    std::vector<std::string> keys_, entities_, resources_, roles_;
};

TEST(LoweringDifferential, GeneratedModels) {
    int parsed = 0;
    for (unsigned seed = 0; seed < 1500; ++seed) {
        const std::string source = ModelGenerator(seed).model();
        SCOPED_TRACE(source);
        if (expect_same_lowering(source)) ++parsed;
    }
    EXPECT_GT(parsed, 1000);
}

} // namespace
} // namespace vok
