// Graph.parse's road (parse_to_graph, which lowers straight from the grammar's pairs and builds
// each declaration only when its pass reads it) against the tree road (the whole syntax tree
// first, then the lowering of the owned tree): on examples, golden inputs, fuzz-corpus inputs,
// their prefixes and mutations, and files failing in several places at once, both must give the
// same graph (canonical dump) or the same error, and the same one of several.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "golden.h"
#include "oracle/graph_dump.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/lowering.h"
#include "parser/parse_source.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

ParseResult<Graph> tree_road(std::string_view source) {
    VOK_ASSIGN(Ast ast, parse_source(source));
    return ast_to_graph(std::move(ast), LoweringOptions{});
}

void expect_same_graph(const std::string& source) {
    const std::string expected = testing::lowering_outcome(tree_road(source));
    ASSERT_EQ(testing::lowering_outcome(parse_to_graph(source)), expected) << "source:\n" << source;
}

std::vector<std::string> texts_in(const fs::path& dir, bool vok_only, size_t max_bytes) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.file_size() <= max_bytes &&
            (!vok_only || entry.path().extension() == ".vok"))
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> texts;
    for (const fs::path& path : paths)
        texts.push_back(testing::slurp(path));
    return texts;
}

// The text, cut at `cuts` points, and with a byte deleted or a fragment inserted at `edits`
// points: the fragments break declarations for the builder (bad escapes, huge numbers) or for the
// lowering (duplicates, undefined references).
std::vector<std::string> variants(const std::string& text, size_t cuts, size_t edits) {
    std::vector<std::string> out{text};
    if (text.empty()) return out;
    for (size_t n = 0; n < text.size(); n += std::max<size_t>(1, text.size() / cuts))
        out.push_back(text.substr(0, n));
    static const char* const kInserts[] = {
        "\"",
        "\n",
        "\nEntity \"a\\qb\"\n",
        "\nFlow \"R\" from \"Z\" to \"Z\"\n",
        "\nMetric \"m\" as: sum(f in flows over last 3000000000 \"days\": f.q)\n",
        "\nEntity \"Dup\"\nEntity \"Dup\"\n",
        "\nInstance i of \"E\" { f: 1 + 2 }\n"};
    const size_t stride = std::max<size_t>(1, text.size() / edits);
    size_t k = 0;
    for (size_t n = 0; n < text.size(); n += stride, ++k) {
        out.push_back(text.substr(0, n) + text.substr(n + 1));
        out.push_back(text.substr(0, n) + kInserts[k % std::size(kInserts)] + text.substr(n));
    }
    return out;
}

TEST(DirectRoad, ExamplesAndGoldenInputsAndTheirVariants) {
    const fs::path root(VOK_SOURCE_DIR);
    std::vector<std::string> texts = texts_in(root / "examples", true, 1 << 20);
    for (std::string& text : texts_in(root / "tests/golden", true, 1 << 20))
        texts.push_back(std::move(text));
    ASSERT_GE(texts.size(), 10u);
    for (const std::string& text : texts)
        for (const std::string& source : variants(text, 40, 40))
            expect_same_graph(source);
}

TEST(DirectRoad, FuzzCorpusOfTheSourceTarget) {
    for (const std::string& text :
         texts_in(fs::path(VOK_SOURCE_DIR) / "fuzz/corpus/source_fuzz", false, 1 << 16))
        for (const std::string& source : variants(text, 1, 1))
            expect_same_graph(source);
}

// Files that fail more than once: a build failure anywhere wins over any lowering failure, and
// among lowering failures the earlier pass wins, whatever their order in the file.
TEST(DirectRoad, WhichOfSeveralFailuresIsReported) {
    const std::string bad_escape = "Entity \"a\\qb\"\n";
    const std::string bad_number = "Flow \"R\" from \"A\" to \"A\" quantity 1e999999999999\n";
    const std::string deep =
        "Policy p as: " + std::string(3000, '(') + "a" + std::string(3000, ')') + "\n";
    const std::string undefined_flow = "Flow \"R\" from \"Nobody\" to \"A\"\n";
    const std::string duplicate = "Entity \"A\"\nEntity \"A\"\n";
    const std::string bad_regex = "Pattern \"P\" matches \"[\"\n";
    const std::string bad_field = "Instance i of \"A\" { f: 1 + 2 }\n";
    const std::string unit_conflict =
        "Dimension \"DirectRoadLength\"\n"
        "Unit \"dr_m\" of \"DirectRoadLength\" factor 1 base \"dr_m\"\n"
        "Unit \"dr_m\" of \"DirectRoadLength\" factor 2 base \"dr_m\"\n";
    const std::vector<std::string> faults = {bad_escape, bad_number, deep,      undefined_flow,
                                             duplicate,  bad_regex,  bad_field, unit_conflict};
    for (const std::string& first : faults) {
        for (const std::string& second : faults) {
            expect_same_graph(first + "Resource \"R\"\n" + second);
            expect_same_graph("@profile \"nowhere\"\n" + first + second);
            expect_same_graph("@version \"x\"\nexport " + first + "Policy q as: true\n" + second);
        }
    }
}

// Files large enough that the direct road gives the pairs it has read back while it lowers: a
// failure in a late pass, or in a declaration built late, must still be the tree road's failure,
// and a file that lowers must still give the same graph.
TEST(DirectRoad, LargeFilesReadWhileTheirPairsAreGivenBack) {
    std::string body;
    for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(i);
        body += "Entity \"E" + n + "\"\nResource \"R" + n + "\" kg\nFlow \"R" + n + "\" from \"E" +
                n + "\" to \"E" + std::to_string(i / 2) + "\" quantity " + n + "\nInstance i" + n +
                " of \"E" + n + "\" { f: " + n + " }\n";
    }
    expect_same_graph(body);
    expect_same_graph(body + "Instance late of \"E1\" { f: 1 + 2 }\n");
    expect_same_graph(body + "Flow \"R1\" from \"Nobody\" to \"E1\"\n");
    expect_same_graph(body + "Entity \"a\\qb\"\n");
    expect_same_graph("Instance early of \"E1\" { f: 1 + 2 }\n" + body);
}

// Large files whose passes read them front to back are read in place rather than gathered: the
// same graph, and the same failure wherever it lies, also when one late declaration puts the file
// out of that order (it is then gathered after all).
TEST(DirectRoad, LargeFilesAlreadyInTheOrderOfThePasses) {
    std::string participants;
    std::string flows;
    for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(i);
        participants += "Entity \"E" + n + "\"\nRole \"O" + n + "\"\nResource \"R" + n + "\" kg\n";
        flows += "Flow \"R" + n + "\" from \"E" + n + "\" to \"E" + std::to_string(i / 2) +
                 "\" quantity " + n + "\n";
    }
    const std::string body = participants + flows + "Policy p as: a + b > 2\n";
    for (const std::string& tail :
         {std::string(), std::string("Entity \"a\\qb\"\n"), std::string("Policy p as: true\n"),
          std::string("Flow \"R1\" from \"Nobody\" to \"E1\"\n"), std::string("Entity \"E7\"\n"),
          std::string("Dimension \"DirectRoadOrder\"\n")}) {
        expect_same_graph(body + tail);
        expect_same_graph(participants + tail);
    }
    expect_same_graph("Entity \"E7\"\n" + participants);
    expect_same_graph("Entity \"a\\qb\"\n" + participants);
}

// Declaration nodes built on `workers` worker threads while it lives, whatever the file and the
// cores (the parse itself starts them only where they pay).
struct BuiltAheadOn {
    explicit BuiltAheadOn(size_t workers) { build_ahead_for_testing(workers); }
    ~BuiltAheadOn() { build_ahead_for_testing(std::nullopt); }
    BuiltAheadOn(const BuiltAheadOn&) = delete;
    BuiltAheadOn& operator=(const BuiltAheadOn&) = delete;
};

// Nodes built on worker threads ahead of the lowering: each example and golden input (and
// variants of it) followed by declarations enough to go round the workers' ring of blocks about
// twice, and files whose declarations fail to build in many places at once, words looked up by
// position on several workers side by side.
TEST(DirectRoad, NodesBuiltAheadOnWorkers) {
    const BuiltAheadOn workers(3);
    std::string padding;
    for (int i = 0; i < 700; ++i) {
        const std::string n = std::to_string(i);
        padding += "Entity \"Padding" + n + "\"\nPolicy padding" + n + " as: x > " + n + "\n";
    }
    const fs::path root(VOK_SOURCE_DIR);
    std::vector<std::string> texts = texts_in(root / "examples", true, 1 << 20);
    for (std::string& text : texts_in(root / "tests/golden", true, 1 << 20))
        texts.push_back(std::move(text));
    for (const std::string& text : texts)
        for (const std::string& source : variants(text, 3, 3))
            expect_same_graph(source + "\n" + padding);

    std::string failing = padding;
    for (int i = 0; i < 300; ++i) {
        const std::string n = std::to_string(i);
        failing += "Instance twice" + n + " of \"Padding1\" { f: 1, f: 2 }\n";
        failing += "Metric \"m" + n + "\" as: sum(f in flows: f.q) @severity \"loud\"\n";
    }
    expect_same_graph(failing);
    expect_same_graph(failing + padding);
}

// A large file with one declaration far larger than the rest, built on a worker while the others
// build around it: the graph, and the failure where there is one, stay the tree road's.
TEST(DirectRoad, OneVeryLargeDeclarationAmongMany) {
    const BuiltAheadOn workers(3);
    std::string body;
    for (int i = 0; i < 4000; ++i) {
        const std::string n = std::to_string(i);
        body += "Resource \"R" + n + "\" kg\nEntity \"E" + n + "\"\nFlow \"R" + n + "\" from \"E" +
                n + "\" to \"E" + std::to_string(i / 3) + "\" quantity " + n + "\nPolicy p" + n +
                " as: forall f in flows: (f.quantity > " + n + ")\n";
    }
    std::string large = "Policy large as: a";
    for (int i = 0; i < 20000; ++i)
        large += " + a";
    large += "\n";
    const size_t middle = body.find("Resource \"R2000\"");
    const std::string with_large = body.substr(0, middle) + large + body.substr(middle);
    expect_same_graph(with_large);
    expect_same_graph(large + body + large);
    expect_same_graph(with_large + "Entity \"a\\qb\"\n");
    expect_same_graph(with_large + "Flow \"R1\" from \"Nobody\" to \"E1\"\n");
}

// Texts read in parts side by side by the grammar (large ones are; here every one is) lower to the
// graph, or fail with the error, of the tree road: parts joined into the pass arrays in file order,
// and failures in several parts reported as the tree road reports them.
TEST(DirectRoad, TextsReadInParts) {
    grammar::read_in_parts_for_testing(4);
    const fs::path root(VOK_SOURCE_DIR);
    std::vector<std::string> texts = texts_in(root / "examples", true, 1 << 20);
    for (std::string& text : texts_in(root / "tests/golden", true, 1 << 20))
        texts.push_back(std::move(text));
    for (const std::string& text : texts)
        for (const std::string& source : variants(text, 8, 8))
            expect_same_graph(source);
    std::string body;
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        body += "Resource \"R" + n + "\" kg\nEntity \"E" + n + "\"\nFlow \"R" + n + "\" from \"E" +
                n + "\" to \"E0\" quantity " + n + "\nPolicy p" + n + " as: x > " + n + "\n";
    }
    expect_same_graph(body);
    expect_same_graph(body + "Entity \"a\\qb\"\n" + body +
                      "Flow \"R1\" from \"Nobody\" to \"E1\"\n");
    expect_same_graph(body + "Flow \"R1\" from \"Nobody\" to \"E1\"\n" + body +
                      "Entity \"a\\qb\"\n");
    expect_same_graph(body + "Entity \"E3\"\n" + body);
    grammar::read_in_parts_for_testing(0);
}

} // namespace
} // namespace vok
