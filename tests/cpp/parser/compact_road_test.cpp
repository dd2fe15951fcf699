// The compact parser against the rule engine's road (oracle/rule_engine_road.h): on every example,
// golden input and fuzz-corpus input, on their prefixes and on mutations of them, parse_source must
// give what the rule engine and the builder give: the same error text and position, or the same
// syntax-tree JSON and formatted source. And the compact parser must really carry the load: it
// may leave a text to the rule engine only when the engine refuses it or nests near its limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/cancellation.h"
#include "golden.h"
#include "oracle/rule_engine_road.h"
#include "parser/grammar/compact_grammar.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> files_in(const fs::path& dir, size_t max_bytes) {
    std::vector<std::string> texts;
    if (!fs::exists(dir)) return texts;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.file_size() <= max_bytes)
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        const std::string name = path.filename().string();
        if (dir.filename() != "source_fuzz" && !name.ends_with(".vok")) continue;
        texts.push_back(testing::slurp(path));
    }
    return texts;
}

// Sources written to reach the corners of the grammar: keywords without word boundaries, ordered
// choice taking the first match, optional clauses abandoned half way, every operator level.
const std::vector<std::string> kCorners = {
    "Policy p as: notify = 1 andy = 2 or not not a",
    "Policy p as: a or b and not c = 1 + 2 * -d",
    "Policy p as: trueValue",
    "Policy p as: count(flowsTotal)",
    "Policy p as: counter > 5 and count(flows) >= 1 and sum(flows.quantity) <= 2",
    "Policy p as: - -x - - 5 * (a / b) as \"int\"",
    "Policy p as: x as \"decimal\" as \"int\"",
    "Policy p as: a.b.c",
    "Policy p as: forall e in entities: e.owner != \"\"",
    "Policy p as: @warehouse = @ warehouse",
    "Policy p as: not (a - (b - (c",
    "Policy p as: not - (not - (x))",
    "Policy p as: ((a)) and (not (b)) or -(c) contains \"x\" StartsWith y HAS_ROLE z",
    "Policy p as: sum(f in flows over last -5 \"days\" where f.q > 0: f.q) = 100 \"kg\"",
    "Policy p as: avg(f in flows: f.q) before \"2024-01-15T10:30:00Z\" during "
    "interval(\"a\", \"b\")",
    "Policy p as: group_by(f in flows where f.q > 0: f.r) { count(flows) > 1 }",
    "Policy p as: exists_unique x in Flows: (x.quantity > 0) and exists y in relations: (y)",
    "Policy p as: \"\"\"multi\nline\"\"\" = \"2024-01-15T10:30:00+02:00\" and 1e3",
    "Policy p per Constraint Obligation priority 5 @rationale \"why\" @tags [\"a\", \"b\"] "
    "v1.0.0 as: true",
    "Policy p per Constraint Obligation as: true",
    "Policyp as: TRUE\nInstancea of \"E\"",
    "Entity \"Customer\"\nentity \"C\" V 1.0.0 in sales\nEntity \"X\" @replaces \"Y\" v 2.0.0 "
    "@changes [\"a\"] in d",
    "Resource \"Money\" USD in finance\nResource \"M\" in finance\nResource \"M\" units\n"
    "Resource \"R\"\nEntity \"X\"",
    "Resource \"X\" unit",
    "Resource \"X\" unit in d\nResource \"Y\" unitx",
    "Flow \"Money\" @priority 5 @meta { \"a\": 1 \"b\": { \"c\": [\"x\"] }, } from \"A\" to \"B\" "
    "quantity 12.50",
    "Flow \"M\" from \"A\" to \"B\" quantity -0.5",
    "Pattern \"Code\" matches \"[A-Z]+\"\nRole \"Buyer\" in\nsales\nDimension \"Mass\"",
    "Relation \"Pays\" subject: \"Buyer\" predicate: \"pays\" object: \"Seller\" via: flow \"M\"",
    "Instance acme of \"Customer\" { name: \"ACME\", tier: 2 \n x: -1, }",
    "Instance a of \"E\" { x: 1, x: 2 }",
    "Unit \"g\" of \"Mass\" factor 0.001 base \"kg\"",
    "ConceptChange \"R\" @from_version v1.0.0 @to_version v2.0.0 @migration_policy manual "
    "@breaking_change true",
    "ConceptChange \"R\" @to_version v2.0.0",
    "Metric \"m\" as: 1 @refresh_interval 5 \"minutes\" @window 7 \"days\" @threshold 100 "
    "@severity \"WARNING\" @target 1.5 @unit \"u\"",
    "Metric \"m\" as: 1 @severity \"loud\"",
    "Metric \"m\" as: 1 @window 1 \"week\"",
    "Mapping \"m\" for proto { Entity \"C\" -> Node { label: \"P\", props: { \"k\": 1 }, "
    "active: true } Flow \"F\" -> E {} }",
    "Projection \"p\" for KG { Entity \"C\" { label: \"P\", properties: { \"n\" -> \"f\", } } }",
    "export Entity \"X\"\nexport export Entity \"Y\"",
    "@ namespace \"a\"\n@Version \"1\"\nimport { a, b as c, } from \"m\"\nimport * as x from "
    "\"n\"\n"
    "// c\nEntity \"A\" // t\n",
    "import {} from \"m\"",
    "Entity \"a\\u{41}\"",
    "Entity \"a\\qb\"",
    "Entity \"\"\"abc",
    "Policy p as: 3000000000 \"x\"",
    "Metric \"m\" as: sum(f in flows over last 3000000000 \"days\": f.q)",
    "\t\n  // only a comment",
    "",
};

// Each input, whole, cut at `cuts` points, and with one of a few bytes inserted or one deleted
// at `edits` points.
std::vector<std::string> variants(const std::string& text, size_t cuts, size_t edits) {
    std::vector<std::string> out{text};
    if (text.empty()) return out;
    const size_t cut_stride = std::max<size_t>(1, text.size() / cuts);
    for (size_t n = 0; n < text.size(); n += cut_stride)
        out.push_back(text.substr(0, n));
    static const char* const kInserts[] = {"(", ")", "-", "not ", "\"", "@", "{", ",", " ", "."};
    const size_t edit_stride = std::max<size_t>(1, text.size() / edits);
    size_t k = 0;
    for (size_t n = 0; n < text.size(); n += edit_stride, ++k) {
        out.push_back(text.substr(0, n) + text.substr(n + 1));
        out.push_back(text.substr(0, n) + kInserts[k % std::size(kInserts)] + text.substr(n));
    }
    return out;
}

// A declaration as records whose `next` counts from the declaration's own pair.
struct TakenDeclaration {
    grammar::Rule rule;
    std::vector<std::array<uint32_t, 4>> records;
    friend bool operator==(const TakenDeclaration&, const TakenDeclaration&) = default;
};

TakenDeclaration taken(grammar::Rule rule, const peg::PairRecord* records, uint32_t count,
                       uint32_t first) {
    TakenDeclaration d{rule, {}};
    for (uint32_t i = 0; i < count; ++i)
        d.records.push_back(
            {records[i].start, records[i].end, records[i].next - first, records[i].rule});
    return d;
}

struct CollectingSink final : grammar::DeclarationSink {
    void take(grammar::Rule rule, const peg::PairRecord* records, uint32_t count,
              uint32_t first) override {
        declarations.push_back(taken(rule, records, count, first));
    }
    std::unique_ptr<grammar::DeclarationSink> part() override {
        return std::make_unique<CollectingSink>();
    }
    void join(grammar::DeclarationSink& part) override {
        auto& joined = static_cast<CollectingSink&>(part).declarations;
        declarations.insert(declarations.end(), joined.begin(), joined.end());
        ++joins;
    }
    void discard() override {
        declarations.clear();
        ++discards;
    }
    std::vector<TakenDeclaration> declarations;
    size_t joins = 0;
    size_t discards = 0;
};

// What a sink must receive: each declaration's own pair and descendants, found by walking the
// whole tree.
std::vector<TakenDeclaration> walked_declarations(const std::string& source) {
    auto records = grammar::parse_program_compact(source);
    const grammar::DslTree tree(source, std::move(*records));
    std::vector<TakenDeclaration> found;
    for (const grammar::DslPair& top : tree.pairs()) {
        for (const grammar::DslPair& child : top.children()) {
            if (child.rule() != grammar::Rule::declaration) continue;
            for (grammar::DslPair pair : child.children()) {
                while (pair.rule() == grammar::Rule::export_decl ||
                       pair.rule() == grammar::Rule::declaration_inner)
                    pair = *pair.children().peek();
                std::vector<peg::PairRecord> own;
                for (uint32_t i = pair.index(); i < pair.end_index(); ++i) {
                    const grammar::DslPair at = tree.pair_at(i);
                    own.push_back(peg::PairRecord{static_cast<uint32_t>(at.start()),
                                                  static_cast<uint32_t>(at.end()), at.end_index(),
                                                  static_cast<uint16_t>(at.rule())});
                }
                found.push_back(taken(pair.rule(), own.data(), static_cast<uint32_t>(own.size()),
                                      pair.index()));
            }
        }
    }
    return found;
}

// With a sink the compact parser hands over exactly the declarations the tree would hold, in
// file order, and keeps only the program's frame.
void expect_sunk_declarations(const std::string& source) {
    CollectingSink sink;
    auto frame = grammar::parse_program_compact(source, &sink);
    EXPECT_EQ(frame.has_value(), sink.complete) << source;
    if (!frame) return;
    EXPECT_EQ(sink.declarations, walked_declarations(source)) << source;
    const grammar::DslTree tree(source, std::move(*frame));
    for (const grammar::DslPair& top : tree.pairs())
        for (const grammar::DslPair& child : top.children())
            EXPECT_TRUE(child.rule() == grammar::Rule::file_header ||
                        child.rule() == grammar::Rule::EOI)
                << source;
}

void expect_same_road(const std::string& source) {
    expect_sunk_declarations(source);
    const std::string expected = oracle::observable(oracle::parse_source(source), source.size());
    const std::string actual = oracle::observable(parse_source(source), source.size());
    ASSERT_EQ(actual, expected) << "source:\n" << source;
    // The compact parser gives up only where the rule engine refuses or nests deeply.
    peg::ParseStats stats;
    const bool engine_accepts =
        grammar::DslParser::parse(grammar::Rule::program, source, &stats).ok();
    if (engine_accepts && stats.deepest_nesting < grammar::kMaxRuleNesting / 2) {
        EXPECT_TRUE(grammar::parse_program_compact(source).has_value()) << source;
    }
}

TEST(CompactRoad, CornersOfTheGrammarAndTheirVariants) {
    for (const std::string& text : kCorners)
        for (const std::string& source : variants(text, 40, 40))
            expect_same_road(source);
}

TEST(CompactRoad, ExamplesAndGoldenInputsAndTheirVariants) {
    std::vector<std::string> texts = files_in(fs::path(VOK_SOURCE_DIR) / "examples", 1 << 20);
    for (std::string& text : files_in(fs::path(VOK_SOURCE_DIR) / "tests/golden", 1 << 20))
        texts.push_back(std::move(text));
    ASSERT_GE(texts.size(), 10u);
    for (const std::string& text : texts)
        for (const std::string& source : variants(text, 60, 60))
            expect_same_road(source);
}

TEST(CompactRoad, FuzzCorpusOfTheSourceTarget) {
    const auto texts = files_in(fs::path(VOK_SOURCE_DIR) / "fuzz/corpus/source_fuzz", 1 << 16);
    for (const std::string& text : texts)
        for (const std::string& source : variants(text, 2, 2))
            expect_same_road(source);
}

std::string repeat(std::string_view unit, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

// Around the rule engine's nesting limit the compact parser leaves the text to the engine, so a
// refusal for depth falls exactly where it fell.
TEST(CompactRoad, NestingNearTheLimit) {
    for (size_t n : {600, 980, 990, 995, 1000, 1005, 1010, 1100}) {
        expect_same_road("Policy p as: " + repeat("(", n) + "a" + repeat(")", n));
        expect_same_road("Instance i of \"E\" { f: " + repeat("(", n) + "a" + repeat(")", n) +
                         " }");
    }
    for (size_t n : {4900, 4990, 4996, 5000, 9980, 9990, 9995, 10000}) {
        expect_same_road("Policy p as: " + repeat("not ", n) + "a");
        expect_same_road("Policy p as: " + repeat("-", n) + "a");
        expect_same_road("Flow \"M\" @m " + repeat("{\"a\": ", n / 2) + "1" + repeat("}", n / 2) +
                         " from \"A\" to \"B\"");
    }
}

// `not - (` reads two ways (`not` as a keyword, or as a name followed by `-`), so a chain of them
// that fails inside would have the compact parser try its innermost group once per way of reading
// the chain, until its work bound (eight steps per byte of the whole text) gave up. The failed
// groups are remembered: the chain fails after work linear in its length, with the text after it
// left unread, and the rule engine words the error as always.
TEST(CompactRoad, ChainsThatReadTwoWaysFailInLinearWork) {
    for (size_t n : {5, 12, 40, 200}) {
        const std::string source = "Policy p as: " + repeat("not - (", n) + "x";
        expect_same_road(source);
        expect_same_road(source + repeat(")", n));
    }
    // The work is counted through the cancellation checks the parser makes, one per 4096 steps.
    size_t checks = 0;
    const CancellationScope counting(
        [](void* count) {
            ++*static_cast<size_t*>(count);
            return false;
        },
        &checks);
    const std::string after = repeat("Entity \"Padding\"\n", 20000);
    for (size_t n : {40, 340, 600}) {
        for (const char* bad : {"\x7f", "\xad", " y"}) {
            const std::string chain = "Policy p as: " + repeat("not-(", n) + "x" + bad;
            for (const std::string& source : {chain, chain + repeat(")", n) + "\n" + after}) {
                checks = 0;
                EXPECT_FALSE(grammar::parse_program_compact(source).has_value());
                EXPECT_LT(checks * 4096, source.size()) << "n=" << n << ", " << source.size();
            }
        }
        expect_same_road("Policy p as: " + repeat("not-(", n) + "x\xad");
    }
}

// Strings that end far from where they start (or never end) are scanned once per start, however
// often backtracking tries them: where they end must not change, also when a closing quote, a fence
// or an escape lies across the end of the first, short scan.
TEST(CompactRoad, StringsThatRunLong) {
    std::vector<std::string> sources;
    for (const size_t length :
         {1u, 200u, 250u, 251u, 252u, 253u, 254u, 255u, 256u, 257u, 300u, 5000u}) {
        const std::string body(length, 'x');
        sources.push_back("Entity \"" + body + "\"\nEntity \"B\"\n");
        sources.push_back("Entity \"\"\"" + body + "\"\"\"\nEntity \"B\"\n");
        sources.push_back("Entity \"\"\"" + body + "\"\" \"\"\"\n");
        sources.push_back("Entity \"" + body + "\\u{1F600}\\n\"\n");
        sources.push_back("Entity \"" + body + "\\q\"\n");
        sources.push_back("Policy p as: x = \"" + body + "\" and y = \"\"\"" + body + "\"\"\"\n");
        // Never closed, with declarations (and their quotes) after it.
        sources.push_back("Entity \"" + body + repeat("\nEntity E", 40));
        sources.push_back("Entity \"\"\"" + body + repeat("\nEntity \"E\"", 40));
    }
    // Backtracking that retries an unclosed fence at the same places, in a long file.
    const std::string nested = "Policy p as: " + repeat("( not-", 30) + "\"\"\" x";
    sources.push_back(nested + repeat("\nEntity \"Padding\"", 400));
    sources.push_back(nested + "\"\"\"" + repeat("\nEntity \"Padding\"", 400));
    sources.push_back("Policy p as: " + repeat("( not-", 30) + "\" x" + repeat("\nEntity E", 400));
    for (const std::string& source : sources)
        expect_same_road(source);
}

// A text read in parts side by side hands the sink what one reading does, wherever the parts
// start: inside a string, inside an expression that runs over lines, before a declaration that
// fails. Parts must also really be taken over, so they are counted.
TEST(CompactRoad, TextsReadInParts) {
    std::vector<std::string> sources;
    for (const std::string& text : files_in(fs::path(VOK_SOURCE_DIR) / "examples", 1 << 20))
        for (std::string& source : variants(text, 10, 10))
            sources.push_back(std::move(source));
    for (const std::string& corner : kCorners)
        sources.push_back(repeat(corner + "\nEntity \"E\"\n", 8));
    const std::string lines = repeat("Entity \"A\"\nPolicy p as: a and\nflow > 1 or\nentity\n", 12);
    const std::string strings = repeat("Entity \"\"\"\nEntity \"X\"\nPolicy q as: b\n\"\"\"\n", 12);
    for (const std::string& body : {lines, strings, lines + strings}) {
        sources.push_back(body);
        sources.push_back(body + "Entity \"unclosed\n" + body);
        sources.push_back(body + "Policy broken as: (a\n" + body);
        sources.push_back("@namespace \"n\"\nimport * as x from \"y\"\n" + body);
    }
    // Parts that nest near the rule engine's limit, or backtrack past their work bound.
    const std::string around = repeat("Entity \"E\"\n", 20);
    for (const size_t n : {600, 1005})
        sources.push_back(around + "Policy p as: " + repeat("(", n) + "a" + repeat(")", n) + "\n" +
                          around);
    sources.push_back(around + "Policy p as: " + repeat("not ", 9990) + "a\n" + around);
    sources.push_back(around + "Policy p as: " + repeat("not - (", 40) + "x\n" + around);
    size_t joins = 0;
    for (const std::string& source : sources) {
        CollectingSink whole;
        const bool read_whole = grammar::parse_program_compact(source, &whole).has_value();
        grammar::read_in_parts_for_testing(4);
        CollectingSink in_parts;
        const bool read_in_parts = grammar::parse_program_compact(source, &in_parts).has_value();
        grammar::read_in_parts_for_testing(0);
        EXPECT_EQ(read_in_parts, read_whole) << source;
        EXPECT_EQ(in_parts.complete, read_in_parts) << source;
        if (read_whole && read_in_parts) {
            EXPECT_EQ(in_parts.declarations, whole.declarations) << source;
        }
        joins += in_parts.joins;
    }
    EXPECT_GT(joins, sources.size());
}

// What the compact parser took from a text it then refuses, in parts or not, is discarded before
// the rule engine reads the text again.
TEST(CompactRoad, RefusedTextsLeaveNothingInTheSink) {
    const std::string body = repeat("Entity \"A\"\nPolicy p as: a and\nflow > 1\n", 40);
    const std::string nested = "Policy p as: " + repeat("(", 1005) + "a" + repeat(")", 1005) + "\n";
    for (const size_t parts : {1, 4}) {
        grammar::read_in_parts_for_testing(parts);
        for (const std::string& source :
             {body, body + "Entity \"unclosed\n" + body, body + nested + body, body + "Entity\n"}) {
            CollectingSink sink;
            (void)grammar::DslParser::parse_program(source, &sink);
            EXPECT_EQ(sink.discards, sink.complete ? 0u : 1u) << source;
            EXPECT_EQ(sink.declarations.empty(), !sink.complete) << source;
        }
    }
    grammar::read_in_parts_for_testing(0);
}

} // namespace
} // namespace vok
