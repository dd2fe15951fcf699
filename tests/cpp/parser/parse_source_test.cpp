// parse_source: header, imports, every declaration kind, positions and the builders' messages.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/cancellation.h"
#include "oracle/rule_engine_road.h"
#include "parser/parse_source.h"

namespace vok {
namespace {

Ast parsed(std::string_view source) {
    auto ast = parse_source(source);
    EXPECT_TRUE(ast.ok()) << source << "\n" << (ast.ok() ? "" : ast.error().to_string());
    return ast.ok() ? std::move(*ast) : Ast{};
}

std::string error_of(std::string_view source) {
    auto ast = parse_source(source);
    return ast.ok() ? "<no error>" : ast.error().to_string();
}

TEST(ParseSource, EmptyFilesAndHeaders) {
    for (const char* source : {"", "  // only a comment\n\n"}) {
        Ast ast = parsed(source);
        EXPECT_FALSE(ast.metadata.namespace_ || ast.metadata.version || ast.metadata.owner ||
                     ast.metadata.profile);
        EXPECT_TRUE(ast.imports.empty());
        EXPECT_TRUE(ast.declarations.empty());
    }
    Ast ast = parsed("@NAMESPACE \"a\"\n@namespace \"b\"\n@ version \"1.0\"\n@Owner \"me\"\n"
                     "@profile \"cloud\"\nimport { a, b as c, } from \"m\"\nimport * as x from "
                     "\"n\"\n");
    EXPECT_EQ(ast.metadata.namespace_, "b");
    EXPECT_EQ(ast.metadata.version, "1.0");
    EXPECT_EQ(ast.metadata.owner, "me");
    EXPECT_EQ(ast.metadata.profile, "cloud");
    ASSERT_EQ(ast.imports.size(), 2u);
    EXPECT_EQ(ast.imports[0].specifier.kind, ImportSpecifier::Kind::Named);
    ASSERT_EQ(ast.imports[0].specifier.items.size(), 2u);
    EXPECT_EQ(ast.imports[0].specifier.items[0].name, "a");
    EXPECT_FALSE(ast.imports[0].specifier.items[0].alias);
    EXPECT_EQ(ast.imports[0].specifier.items[1].alias, "c");
    EXPECT_EQ(ast.imports[0].from_module, "m");
    EXPECT_EQ(ast.imports[1].specifier.kind, ImportSpecifier::Kind::Wildcard);
    EXPECT_EQ(ast.imports[1].specifier.alias, "x");
}

TEST(ParseSource, Positions) {
    Ast ast = parsed("Entity \"A\"\n\n\n\tEntity \"B\"\nRole \"\xC3\xA9\" Entity \"C\"");
    ASSERT_EQ(ast.declarations.size(), 4u);
    EXPECT_EQ(ast.declarations[0].line, 1u);
    EXPECT_EQ(ast.declarations[1].line, 4u);
    EXPECT_EQ(ast.declarations[1].column, 2u);
    // Columns count characters: the two-byte letter counts once.
    EXPECT_EQ(ast.declarations[3].line, 5u);
    EXPECT_EQ(ast.declarations[3].column, 10u);
}

TEST(ParseSource, AnnotationKeysLowercaseWithTheFinalSigma) {
    Ast ast = parsed("Flow \"R\" @\u03a3\u0391\u03a3 true @\u0130D 1 from \"A\" to \"B\"");
    const auto& flow = std::get<ast::Flow>(ast.declarations.at(0).node);
    EXPECT_NE(flow.annotations.find("\u03c3\u03b1\u03c2"), nullptr);
    EXPECT_NE(flow.annotations.find("i\u0307d"), nullptr);
}

TEST(ParseSource, ExportKeepsBothPositions) {
    Ast ast = parsed("\n  export   Entity \"X\"");
    ASSERT_EQ(ast.declarations.size(), 1u);
    EXPECT_EQ(ast.declarations[0].line, 2u);
    EXPECT_EQ(ast.declarations[0].column, 3u);
    const auto& e = std::get<ast::Export>(ast.declarations[0].node);
    EXPECT_EQ(e.declaration->column, 12u);
    EXPECT_EQ(std::get<ast::Entity>(e.declaration->node).name, "X");
}

TEST(ParseSource, Declarations) {
    Ast ast = parsed(R"(
entity "Customer" V 1.0.0 @replaces "Client" v 0.9.0 @changes ["a", "b"] in sales
Resource "Money" USD in finance
Resource "Cash" in finance
Resource "Units" units
Flow "Money" @priority 5 @Note "x" @meta { "k": [ "v" ], "n": true } from "A" to "B" quantity 12.50
Pattern "Code" matches "[A-Z]+"
Role "Buyer" in sales
Relation "Pays" subject: "Buyer" predicate: "pays" object: "Seller" via: flow "Money"
Dimension "Mass"
Unit "g" of "Mass" factor 0.001 base "kg"
Policy p per Constraint Permission priority -5 @rationale "why" @rationale "because" @tags ["a", "b"] @tags "c" v1.0.0 as: true
Instance acme of "Customer" { tier: 2, name: "ACME", when: "2024-01-15T10:30:00Z", q: 5 "kg" }
ConceptChange "Rename" @from_version v1.0.0 @to_version v2.0.0 @migration_policy manual @breaking_change true
Metric "m" as: count(flows) @refresh_interval 5 "minutes" @window 7 "days" @threshold 100 @severity "WARNING" @target 1.5 @unit "x"
Mapping "m" for PROTO { Entity "Customer" -> Node { label: "Person", props: { "k": 1 }, active: true } Flow "f" -> Edge { } }
Projection "p" for kg { Entity "Customer" { label: "Person", properties: { "name" -> "fullName", } } }
)");
    ASSERT_EQ(ast.declarations.size(), 16u);
    const auto& entity = std::get<ast::Entity>(ast.declarations[0].node);
    EXPECT_EQ(entity.version, "1.0.0");
    EXPECT_EQ(entity.domain, "sales");
    EXPECT_EQ(entity.annotations.find("replaces")->as_string(), "Client v0.9.0");
    EXPECT_EQ(entity.annotations.find("changes")->as_array().size(), 2u);

    const auto& money = std::get<ast::Resource>(ast.declarations[1].node);
    EXPECT_EQ(money.unit_name, "USD");
    EXPECT_EQ(money.domain, "finance");
    const auto& cash = std::get<ast::Resource>(ast.declarations[2].node);
    EXPECT_FALSE(cash.unit_name);
    EXPECT_EQ(cash.domain, "finance");
    EXPECT_EQ(std::get<ast::Resource>(ast.declarations[3].node).unit_name, "units");

    const auto& flow = std::get<ast::Flow>(ast.declarations[4].node);
    EXPECT_EQ(flow.quantity->to_string(), "12.50");
    EXPECT_EQ(*flow.annotations.find("priority"), json::Value::from_f64(5.0));
    EXPECT_EQ(flow.annotations.find("note")->as_string(), "x");
    EXPECT_TRUE(flow.annotations.find("meta")->is_object());

    const auto& relation = std::get<ast::Relation>(ast.declarations[7].node);
    EXPECT_EQ(relation.via_flow, "Money");
    EXPECT_EQ(std::get<ast::UnitDeclaration>(ast.declarations[9].node).factor.to_string(), "0.001");

    const auto& policy = std::get<ast::Policy>(ast.declarations[10].node);
    EXPECT_EQ(policy.metadata.kind, PolicyKind::Constraint);
    EXPECT_EQ(policy.metadata.modality, DeonticModality::Permission);
    EXPECT_EQ(policy.metadata.priority, -5);
    EXPECT_EQ(policy.metadata.rationale, "because");
    EXPECT_EQ(policy.metadata.tags, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(policy.version, "1.0.0");

    const auto& instance = std::get<ast::Instance>(ast.declarations[11].node);
    EXPECT_EQ(instance.fields.size(), 4u);

    const auto& change = std::get<ast::ConceptChange>(ast.declarations[12].node);
    EXPECT_EQ(change.from_version, "1.0.0");
    EXPECT_EQ(change.migration_policy, "manual");
    EXPECT_TRUE(change.breaking_change);

    const auto& metric = std::get<ast::Metric>(ast.declarations[13].node);
    EXPECT_EQ(metric.metadata.refresh_interval->seconds, 300);
    EXPECT_EQ(metric.metadata.window->seconds, 7 * 86400);
    EXPECT_EQ(metric.metadata.severity, MetricSeverity::Warning);
    EXPECT_EQ(metric.metadata.threshold->to_string(), "100");

    const auto& mapping = std::get<ast::MappingDecl>(ast.declarations[14].node);
    EXPECT_EQ(mapping.target, TargetFormat::Protobuf);
    ASSERT_EQ(mapping.rules.size(), 2u);
    EXPECT_EQ(mapping.rules[0].fields.size(), 3u);
    EXPECT_TRUE(mapping.rules[1].fields.empty());

    const auto& projection = std::get<ast::ProjectionDecl>(ast.declarations[15].node);
    EXPECT_EQ(projection.target, TargetFormat::Kg);
    EXPECT_EQ(projection.overrides[0].fields.find("properties")->get("name")->as_string(),
              "fullName");
}

TEST(ParseSource, PolicyWithoutPerClauseHasNoMetadata) {
    Ast ast = parsed("Policy p as: true");
    const auto& m = std::get<ast::Policy>(ast.declarations[0].node).metadata;
    EXPECT_FALSE(m.kind || m.modality || m.priority || m.rationale);
    EXPECT_TRUE(m.tags.empty());
}

TEST(ParseSource, BuilderMessages) {
    const std::pair<const char*, const char*> cases[] = {
        {"Instance a of \"E\" { x: 1, x: 2 }",
         "Grammar error: Duplicate field name 'x' at line 1, column 27"},
        {"Metric \"m\" as: 1 @severity \"high\"",
         "Grammar error: Unknown severity 'high' at 1:28 (expected one of: info, warning, error, "
         "critical)"},
        {"ConceptChange \"c\"", "Grammar error: Missing cc_from_version annotation"},
        {"ConceptChange \"c\" @from_version v1.0.0 @to_version v2.0.0",
         "Grammar error: Missing cc_migration_policy annotation"},
        {"Metric \"m\" as: 1 @window 2 \"weeks\"",
         "Grammar error: Invalid duration unit 'weeks' at 1:28 (allowed: second(s)/s, "
         "minute(s)/m, hour(s)/h, day(s)/d)"},
        {"Policy p per Constraint Obligation priority 9999999999 as: true",
         "Invalid quantity: Invalid number: 9999999999"},
        {"Foo", "Syntax error at 1:1: expected program"},
        {"Entity \"abc", "Syntax error at 1:8: expected name"},
        {"Entity \"a\\qb\"", "Syntax error at 1:8: expected name"},
    };
    for (auto [source, message] : cases)
        EXPECT_EQ(error_of(source), message) << source;
}

// A pair of the tree being built, read from the cancellation check while build_ast runs: records
// given back read as zeros.
std::optional<grammar::DslPair> probe;
bool probe_given_back = false;

bool read_probe(void*) {
    probe_given_back = probe_given_back || probe->end() == 0;
    return false;
}

// A tree handed over whole gives its records back while build_ast reads it (in large blocks, so
// this takes a large file), from the compact parser or the rule engine: the same syntax tree, and
// the same failure wherever it lies.
TEST(ParseSource, TreeGivenAwayWhileItIsBuilt) {
    const std::string header = "@namespace \"n\"\nimport * as x from \"y\"\n";
    std::string first;
    std::string second;
    for (int i = 0; i < 10000; ++i) {
        const std::string n = std::to_string(i);
        std::string& half = i < 5000 ? first : second;
        half += "Entity \"E" + n + "\"\nexport Flow \"R" + n + "\" from \"E" + n + "\" to \"E1\"\n";
        half += "Policy p" + n + " as: forall f in flows: (f.quantity > " + n + ")\n";
    }
    const std::string failing =
        "Metric \"m\" as: sum(f in flows over last 3000000000 \"d\": f.q)\n";
    for (const std::string& body : {first + second, first + second + failing,
                                    failing + first + second, first + failing + second}) {
        const std::string source = header + body;
        for (const bool compact : {true, false}) {
            auto tree = compact ? grammar::DslParser::parse_program(source)
                                : grammar::DslParser::parse(grammar::Rule::program, source);
            ASSERT_TRUE(tree.ok());
            const std::string kept = oracle::observable(build_ast(*tree), source.size());
            probe = tree->pair_at(1);
            ASSERT_GT(probe->end(), 0u);
            probe_given_back = false;
            {
                const CancellationScope scope(read_probe, nullptr);
                EXPECT_EQ(oracle::observable(build_ast(std::move(*tree)), source.size()), kept);
            }
            EXPECT_EQ(probe_given_back, !body.starts_with(failing));
        }
    }
}

} // namespace
} // namespace vok
