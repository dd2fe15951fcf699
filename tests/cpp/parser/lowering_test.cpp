// Lowering: source text and syntax trees into graphs, with every failure's kind and text.
//
// The unit registry is process-wide and shared by every test of this executable, so every unit
// symbol declared here ("lw_...") is used by one test only.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/cancellation.h"
#include "concept_id/concept_id.h"
#include "parser/lowering.h"
#include "parser/lowering_name_table.h"
#include "parser/lowering_units.h"
#include "parser/parse_source.h"
#include "units/unit_registry.h"
#include "json/writer.h"

namespace vok {
namespace {

using Kind = ParserError::Kind;

ParseResult<Graph> lower(std::string_view source, const LoweringOptions& options = {}) {
    auto ast = parse_source(source);
    EXPECT_TRUE(ast.ok()) << source << "\n" << (ast.ok() ? "" : ast.error().to_string());
    if (!ast.ok()) return Err(ast.error());
    return ast_to_graph(*ast, options);
}

Graph lowered(std::string_view source) {
    auto graph = lower(source);
    EXPECT_TRUE(graph.ok()) << source << "\n" << (graph.ok() ? "" : graph.error().to_string());
    return graph.ok() ? std::move(*graph) : Graph();
}

std::string error_text(std::string_view source) {
    auto graph = lower(source);
    return graph.ok() ? "<no error>" : graph.error().to_string();
}

std::optional<Unit> registered(std::string_view symbol) {
    auto unit = UnitRegistry::read()->get_unit(symbol);
    return unit.ok() ? std::optional<Unit>(*unit) : std::nullopt;
}

std::string id(const char* ns, const char* name) {
    return concept_id_for(ns, name).to_string();
}

TEST(Lowering, FailuresAndTheirKinds) {
    const std::string roles = "Role \"S\" in x\nRole \"O\" in y\n";
    const std::string cc = " @from_version v1.0.0 @to_version v2.0.0 @migration_policy m "
                           "@breaking_change false\n";
    struct Case {
        std::string source;
        std::string error;
        Kind kind;
    };
    const Case cases[] = {
        {"@profile \"cloudy\"",
         "Validation error: Unknown profile: 'cloudy'. Available profiles: default, cloud, data",
         Kind::Validation},
        {"@profile \"Cloud\"",
         "Validation error: Unknown profile: 'Cloud'. Available profiles: default, cloud, data",
         Kind::Validation},
        // Entities D in a and b, referenced from a third namespace.
        {"Entity \"D\" in b\nEntity \"D\" in a\nResource \"R\"\nFlow \"R\" from \"D\" to \"D\"",
         "Validation error: Ambiguous reference 'D' found in namespaces: a, b", Kind::Validation},
        {"Flow \"Money\" from \"A\" to \"B\"", "Undefined entity: A at 0:0", Kind::UndefinedEntity},
        {"Entity \"A\"\nFlow \"Money\" from \"A\" to \"B\"", "Undefined entity: B at 0:0",
         Kind::UndefinedEntity},
        {"Entity \"A\"\nFlow \"Money\" from \"A\" to \"A\"", "Undefined resource: Money at 0:0",
         Kind::UndefinedResource},
        {"Entity \"A\"\nEntity \"A\"",
         "Duplicate declaration: Entity 'A' already declared in namespace 'default' at 0:0",
         Kind::DuplicateDeclaration},
        {"Entity \"A\" in s\nexport Entity \"A\" in s",
         "Duplicate declaration: Entity 'A' already declared in namespace 's' at 0:0",
         Kind::DuplicateDeclaration},
        {"Resource \"R\" kg\nResource \"R\" g",
         "Duplicate declaration: Resource 'R' already declared in namespace 'default' at 0:0",
         Kind::DuplicateDeclaration},
        {"@namespace \"n\"\nRole \"X\"\nRole \"X\" in n",
         "Duplicate declaration: Role 'X' already declared in namespace 'n' at 0:0",
         Kind::DuplicateDeclaration},
        // Relation names are unique whatever the namespaces of their roles.
        {roles + "Relation \"r\" subject: \"S\" predicate: \"p\" object: \"O\"\n"
                 "Relation \"r\" subject: \"O\" predicate: \"q\" object: \"S\"",
         "Duplicate declaration: Relation 'r' already declared at 0:0", Kind::DuplicateDeclaration},
        {roles + "Relation \"r\" subject: \"Nobody\" predicate: \"p\" object: \"Nope\"",
         "Grammar error: Undefined subject role 'Nobody'", Kind::Grammar},
        {roles + "Relation \"r\" subject: \"S\" predicate: \"p\" object: \"Nope\"",
         "Grammar error: Undefined object role 'Nope'", Kind::Grammar},
        {roles + "Relation \"r\" subject: \"S\" predicate: \"p\" object: \"O\" via: flow \"Gold\"",
         "Undefined resource: Gold at 0:0", Kind::UndefinedResource},
        {"Pattern \"P\" matches \"a\"\nPattern \"P\" matches \"b\"",
         "Grammar error: Pattern with ID " + id("default", "P") + " already exists", Kind::Grammar},
        {"Policy p as: true\nPolicy p as: false",
         "Grammar error: Failed to add policy 'p': Policy with ID " + id("default", "p") +
             " already exists",
         Kind::Grammar},
        {"@namespace \"m\"\nMetric \"m\" as: 1\nMetric \"m\" as: 2",
         "Grammar error: Failed to add metric 'm': Metric with ID " + id("m", "m") +
             " already exists",
         Kind::Grammar},
        {"Mapping \"x\" for calm { }\nMapping \"x\" for kg { }",
         "Grammar error: Failed to add mapping: Mapping with ID " + id("default", "x") +
             " already exists",
         Kind::Grammar},
        {"Projection \"x\" for calm { }\nProjection \"x\" for kg { }",
         "Grammar error: Failed to add projection: Projection with ID " + id("default", "x") +
             " already exists",
         Kind::Grammar},
        // Concept changes are keyed in the namespace "default" whatever the file's namespace.
        {"@namespace \"other\"\nConceptChange \"C\"" + cc + "ConceptChange \"C\"" + cc,
         "Grammar error: Failed to add concept change: ConceptChange with ID " +
             id("default", "C") + " already exists",
         Kind::Grammar},
        {"Entity \"E\" v1.2.99999999999",
         "Grammar error: Invalid entity version '1.2.99999999999': Invalid patch version",
         Kind::Grammar},
        {"@version \"1.0\"\nPolicy p as: true",
         "Grammar error: Invalid policy version '1.0': Version must be in format "
         "major.minor.patch",
         Kind::Grammar},
        // The built-in kg is named "kilogram"; a declared unit is named after its symbol.
        {"Unit \"kg\" of \"Mass\" factor 1 base \"kg\"",
         "Grammar error: Conflicting unit 'kg' already registered (existing: dimension=Mass, "
         "base_factor=1, base_unit=kg; new: dimension=Mass, base_factor=1, base_unit=kg)",
         Kind::Grammar},
        {"Unit \"lw_zero\" of \"Mass\" factor 0 base \"kg\"",
         "Grammar error: Failed to register unit: Unit base_factor cannot be zero", Kind::Grammar},
        {"Entity \"E\"\nInstance i of \"E\" { a: x = 1 }", "Unsupported expression 'binary'",
         Kind::UnsupportedExpression},
        {"Entity \"E\"\nInstance i of \"E\"\nInstance i of \"E\"",
         "Grammar error: Failed to add entity instance 'i': Entity instance 'i' already exists",
         Kind::Grammar},
        // Another entity type gives another id; the name alone still collides.
        {"Entity \"E\"\nEntity \"F\"\nInstance i of \"E\"\nInstance i of \"F\"",
         "Grammar error: Failed to add entity instance 'i': Entity instance 'i' already exists",
         Kind::Grammar},
        // The type must be declared in the instance's (the file's) namespace.
        {"@namespace \"n\"\nEntity \"E\" in other\nInstance i of \"E\"",
         "Grammar error: Failed to add entity instance 'i': Entity 'E' not found in namespace "
         "'n'",
         Kind::Grammar},
    };
    for (const Case& c : cases) {
        auto graph = lower(c.source);
        ASSERT_FALSE(graph.ok()) << c.source;
        EXPECT_EQ(graph.error().to_string(), c.error) << c.source;
        EXPECT_EQ(graph.error().kind(), c.kind) << c.source;
    }
    EXPECT_FALSE(registered("lw_zero"));
    EXPECT_EQ(error_text("Pattern \"P\" matches \"(\"")
                  .rfind("Grammar error: Invalid regex for pattern 'P': ", 0),
              0u);
}

TEST(Lowering, InstanceFieldsThatNeedEvaluating) {
    const std::pair<const char*, const char*> cases[] = {
        {"-1", "unary"},
        {"not x", "unary"},
        {"x as \"int\"", "cast"},
        {"a.b", "member_access"},
        {"count(flows)", "aggregation"},
        {"sum(f in flows: f.quantity)", "aggregation_comprehension"},
        {"forall f in flows: (f.quantity > 0)", "quantifier"},
        {"interval(\"2024-01-01T00:00:00Z\", \"2024-02-01T00:00:00Z\")", "interval_literal"},
        {"group_by(f in flows: f.resource) { true }", "group_by"},
    };
    for (const auto& [value, kind] : cases) {
        EXPECT_EQ(error_text(std::string("Entity \"E\"\nInstance i of \"E\" { a: ") + value + " }"),
                  std::string("Unsupported expression '") + kind + "'")
            << value;
    }
}

TEST(Lowering, ProfileAndNamespace) {
    auto ast = parse_source("Entity \"A\"\nRole \"X\"\nPolicy p as: true\n");
    ASSERT_TRUE(ast.ok());
    auto graph = ast_to_graph(*ast, {});
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(ast->metadata.profile, "default");
    EXPECT_FALSE(ast->metadata.namespace_);
    EXPECT_EQ(graph->entities().begin()->first, concept_id_for("default", "A"));
    EXPECT_EQ(graph->roles().begin()->second.namespace_, "default");
    EXPECT_EQ(graph->policies().begin()->second.namespace_, "default");

    // Options fill what the header leaves out, and the effective profile is written back.
    const LoweringOptions options{"fallback", "data", false};
    graph = lower("Entity \"A\"", options);
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(graph->entities().begin()->second.namespace_, "fallback");
    ast = parse_source("@namespace \"hdr\"\n@profile \"cloud\"\nEntity \"A\"");
    graph = ast_to_graph(*ast, options);
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(ast->metadata.profile, "cloud");
    EXPECT_EQ(graph->entities().begin()->second.namespace_, "hdr");

    EXPECT_EQ(
        lower("Entity \"A\"", {std::nullopt, "nope", false}).error().to_string(),
        "Validation error: Unknown profile: 'nope'. Available profiles: default, cloud, data");
    EXPECT_TRUE(lower("@profile \"cloudy\"", {std::nullopt, std::nullopt, true}).ok());
    ast = parse_source("Entity \"A\"");
    EXPECT_TRUE(ast_to_graph(*ast, {std::nullopt, "nope", true}).ok());
    EXPECT_EQ(ast->metadata.profile, "nope");
}

TEST(Lowering, ResolveReference) {
    Graph graph;
    NameTable<Entity> table(graph, &Graph::entities, &Graph::find_entity_by_name);
    for (auto [ns, name] : {std::pair{"b", "D"}, std::pair{"a", "D"}, std::pair{"z", "Only"}})
        ASSERT_TRUE(graph.add_entity(Entity::make(name, ns)).ok());

    EXPECT_EQ(*resolve_reference(table, "D", "a"), concept_id_for("a", "D"));
    EXPECT_EQ(*resolve_reference(table, "Only", "elsewhere"), concept_id_for("z", "Only"));
    EXPECT_EQ(*resolve_reference(table, "Nope", "a"), std::nullopt);
    EXPECT_EQ(*resolve_reference(table, "only", "z"), std::nullopt);
    auto ambiguous = resolve_reference(table, "D", "c");
    ASSERT_FALSE(ambiguous.ok());
    EXPECT_EQ(ambiguous.error(),
              ParserError::validation("Ambiguous reference 'D' found in namespaces: a, b"));
}

TEST(Lowering, FlowsAndRelationsResolveAcrossNamespaces) {
    // Every reference names something declared further down: the passes, not the declaration
    // order, decide what is known.
    Graph graph = lowered("@namespace \"a\"\n"
                          "Flow \"R\" from \"D\" to \"E\" quantity 2.50\nFlow \"R\" from \"E\" to "
                          "\"D\"\nInstance i of \"D\"\n"
                          "Relation \"Pays\" subject: \"S\" predicate: \"pays\" object: \"S\" via: "
                          "flow \"R\"\n"
                          "Entity \"D\" in b\nEntity \"D\"\nEntity \"E\" in b\nResource \"R\" in "
                          "b\nRole \"S\" in c\n");
    ASSERT_EQ(graph.flows().size(), 2u);
    const Flow& flow = graph.flows().begin()->second;
    EXPECT_EQ(flow.from_id, concept_id_for("a", "D")); // the file's own namespace wins
    EXPECT_EQ(flow.to_id, concept_id_for("b", "E"));   // a single match elsewhere is taken
    EXPECT_EQ(flow.resource_id, concept_id_for("b", "R"));
    EXPECT_EQ(flow.quantity.to_string(), "2.50");
    EXPECT_EQ(flow.namespace_, "a");
    EXPECT_TRUE((++graph.flows().begin())->second.quantity.is_zero());

    const Relation& relation = graph.relations().begin()->second;
    EXPECT_EQ(relation.namespace_, "a");
    EXPECT_EQ(relation.subject_role_id, concept_id_for("c", "S"));
    EXPECT_EQ(relation.predicate, "pays");
    // The via clause names the resource that the flow carries.
    EXPECT_EQ(relation.via_flow_id, concept_id_for("b", "R"));
    EXPECT_EQ(graph.entity_instances().size(), 1u);
}

TEST(Lowering, EntityAnnotations) {
    Graph graph = lowered("Entity \"E\" v1.2.3 @replaces \"Old\" v0.1.0 @changes [\"a\", \"b\"]");
    const Entity& entity = graph.entities().begin()->second;
    EXPECT_EQ(entity.version, (SemanticVersion{1, 2, 3}));
    EXPECT_EQ(entity.replaces, "Old v0.1.0");
    EXPECT_EQ(entity.changes, (std::vector<std::string>{"a", "b"}));

    // A tree may hold what the grammar never writes: only the strings of "changes" are kept,
    // and a "replaces" that is not a string is ignored.
    Ast ast;
    json::Object annotations;
    annotations.insert_or_assign("changes",
                                 json::Array{json::Value("one"), json::Value::from_f64(2),
                                             json::Value("three"), json::Value(true)});
    annotations.insert_or_assign("replaces", json::Value::from_f64(5));
    ast.declarations.push_back(
        Spanned{ast::Entity{"M", std::nullopt, annotations, std::nullopt}, 1, 1});
    auto mixed = ast_to_graph(ast, {});
    ASSERT_TRUE(mixed.ok());
    const Entity& m = mixed->entities().begin()->second;
    EXPECT_EQ(m.changes, (std::vector<std::string>{"one", "three"}));
    EXPECT_FALSE(m.replaces);
    EXPECT_TRUE(m.attributes.empty());
}

TEST(Lowering, PoliciesTakeTheFileVersion) {
    Graph graph = lowered("@version \"2.1.0\"\n@namespace \"pol\"\nPolicy inherits as: true\n"
                          "Policy own per Derivation Prohibition priority 7 @rationale \"why\" "
                          "@tags [\"a\", \"b\"] v3.0.1 as: x > 1\n");
    const Policy* inherits = graph.policies().find(concept_id_for("pol", "inherits"));
    const Policy* own = graph.policies().find(concept_id_for("pol", "own"));
    ASSERT_TRUE(inherits && own);
    EXPECT_EQ(inherits->version, (SemanticVersion{2, 1, 0}));
    EXPECT_EQ(inherits->kind, PolicyKind::Constraint);
    EXPECT_EQ(inherits->modality, DeonticModality::Obligation);
    EXPECT_EQ(own->version, (SemanticVersion{3, 0, 1}));
    EXPECT_EQ(own->kind, PolicyKind::Derivation);
    EXPECT_EQ(own->modality, DeonticModality::Prohibition);
    EXPECT_EQ(own->priority, 7);
    EXPECT_EQ(own->rationale, "why");
    EXPECT_EQ(own->tags, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(lowered("Policy p as: true").policies().begin()->second.version,
              (SemanticVersion{1, 0, 0}));
    // The policy's own version is read first, so the bad file version is never parsed.
    EXPECT_EQ(error_text("@version \"1.0\"\nPolicy p v2.0.0 as: true"), "<no error>");
}

TEST(Lowering, ExportLowersLikeTheDeclarationItWraps) {
    const std::vector<std::string> declarations = {
        "Entity \"A\" v1.0.0 in s",
        "Entity \"B\"",
        "Resource \"R\" kg",
        "Flow \"R\" from \"A\" to \"B\" quantity 3",
        "Policy p as: true",
        "Metric \"m\" as: 1",
        "Instance i of \"B\" { n: 1 }",
        "Role \"X\"",
        "Relation \"r\" subject: \"X\" predicate: \"p\" object: \"X\"",
        "ConceptChange \"C\" @from_version v1.0.0 @to_version v2.0.0 @migration_policy m "
        "@breaking_change true"};
    std::string plain, exported;
    for (const std::string& d : declarations) {
        plain += d + "\n";
        exported += "export " + d + "\n";
    }
    Graph a = lowered(plain);
    Graph b = lowered(exported);
    ASSERT_EQ(b.entities().size(), 2u);
    for (const auto& [id, entity] : a.entities()) {
        ASSERT_NE(b.get_entity(id), nullptr);
        EXPECT_EQ(b.get_entity(id)->version, entity.version);
    }
    EXPECT_EQ(b.flows().size(), 1u);
    EXPECT_EQ(b.relations().begin()->second.id, a.relations().begin()->second.id);
    EXPECT_EQ(b.entity_instances().begin()->second.fields,
              a.entity_instances().begin()->second.fields);
    EXPECT_EQ(b.policies().begin()->second.id, a.policies().begin()->second.id);
    EXPECT_EQ(b.metrics().begin()->second, a.metrics().begin()->second);
    EXPECT_EQ(b.concept_changes().begin()->second, a.concept_changes().begin()->second);
}

TEST(Lowering, ResourceUnits) {
    Graph graph = lowered("Resource \"Plain\"\nResource \"Heavy\" kg\nResource \"Odd\" lw_odd");
    auto unit_of = [&](const char* name) {
        return graph.get_resource(concept_id_for("default", name))->unit;
    };
    EXPECT_EQ(unit_of("Plain"), *registered("units"));
    EXPECT_EQ(unit_of("Heavy").name, "kilogram");
    // An unregistered symbol lowers as a counted unit of its own name and stays unregistered.
    EXPECT_EQ(unit_of("Odd"),
              Unit("lw_odd", "lw_odd", DimensionKind::Count, Decimal::from_u64(1), "lw_odd"));
    EXPECT_FALSE(registered("lw_odd"));
}

TEST(Lowering, DeclaredUnitsAndDimensions) {
    Graph graph = lowered("Dimension \"lw_dim\"\nDimension \"Mass\"\n"
                          "Unit \"lw_k\" of \"LW_DIM\" factor 1000.5 base \"lw_b\"\n"
                          "Resource \"R\" lw_k\n");
    const Unit k = *registered("lw_k");
    EXPECT_EQ(k,
              Unit("lw_k", "lw_k", Dimension::custom("lw_dim"), *Decimal::parse("1000.5"), "lw_b"));
    EXPECT_EQ(graph.resources().begin()->second.unit, k);
    // A new dimension gets an empty base unit; a known one keeps its own.
    auto registry = UnitRegistry::read();
    EXPECT_EQ(*registry->base_unit_of(Dimension::custom("lw_dim")), "");
    EXPECT_EQ(*registry->base_unit_of(DimensionKind::Mass), "kg");
}

TEST(Lowering, RedeclaringAUnit) {
    // The same new unit twice in one file and again in another lowering, the factor written
    // differently: one unit.
    const std::string same = "Unit \"lw_same\" of \"Mass\" factor 2.5 base \"kg\"\n";
    lowered(same + same);
    lowered("Unit \"lw_same\" of \"mass\" factor 2.50 base \"kg\"");
    const std::string existing = "(existing: dimension=Mass, base_factor=2.5, base_unit=kg; new: ";
    const std::pair<const char*, const char*> conflicts[] = {
        {"Mass\" factor 3 base \"kg", "dimension=Mass, base_factor=3, base_unit=kg)"},
        {"Length\" factor 2.5 base \"kg", "dimension=Length, base_factor=2.5, base_unit=kg)"},
        {"Mass\" factor 2.5 base \"g", "dimension=Mass, base_factor=2.5, base_unit=g)"},
    };
    for (const auto& [declaration, settings] : conflicts) {
        EXPECT_EQ(error_text(std::string("Unit \"lw_same\" of \"") + declaration + "\""),
                  "Grammar error: Conflicting unit 'lw_same' already registered " + existing +
                      settings);
    }
}

TEST(Lowering, UnitsOfAFailedLoweringAreNotRegistered) {
    // Failing in the unit pass itself, after a good declaration, and failing in a later pass.
    EXPECT_EQ(error_text("Unit \"lw_gone\" of \"Time\" factor 7 base \"s\"\n"
                         "Unit \"kg\" of \"Mass\" factor 1 base \"kg\"\n"
                         "Unit \"lw_never\" of \"Time\" factor 7 base \"s\"\n")
                  .rfind("Grammar error: Conflicting unit 'kg'", 0),
              0u);
    EXPECT_EQ(error_text("Dimension \"lw_gone_dim\"\n"
                         "Unit \"lw_later\" of \"lw_gone_dim\" factor 9 base \"s\"\n"
                         "Flow \"X\" from \"A\" to \"B\""),
              "Undefined entity: A at 0:0");
    for (const char* symbol : {"lw_gone", "lw_never", "lw_later"})
        EXPECT_FALSE(registered(symbol)) << symbol;
    EXPECT_EQ(UnitRegistry::read()->base_unit_of(Dimension::custom("lw_gone_dim")), nullptr);
    // So a later file may declare the same symbols otherwise, and its resources see its units.
    Graph graph = lowered("Unit \"lw_later\" of \"Mass\" factor 3 base \"kg\"\n"
                          "Unit \"lw_gone\" of \"Time\" factor 8 base \"s\"\n"
                          "Resource \"T\" lw_later");
    EXPECT_EQ(graph.resources().begin()->second.unit.base_factor, Decimal::from_u64(3));
    EXPECT_EQ(registered("lw_gone")->base_factor, Decimal::from_u64(8));
}

// A check that asks to stop at its first consultation, which comes after a full poll interval.
bool stop_now(void*) {
    return true;
}

TEST(Lowering, CancelledLoweringRegistersNothing) {
    std::string source = "Dimension \"lw_cancel_dim\"\n"
                         "Unit \"lw_cancel\" of \"lw_cancel_dim\" factor 2 base \"lw_cancel\"\n";
    for (uint32_t i = 0; i < 2 * kCancellationPollInterval; ++i)
        source += "Entity \"E" + std::to_string(i) + "\"\n";
    auto ast = parse_source(source);
    ASSERT_TRUE(ast.ok());
    {
        const CancellationScope scope(stop_now, nullptr);
        EXPECT_THROW((void)ast_to_graph(*ast, LoweringOptions{}), OperationCancelled);
    }
    EXPECT_FALSE(registered("lw_cancel"));
    EXPECT_EQ(UnitRegistry::read()->base_unit_of(Dimension::custom("lw_cancel_dim")), nullptr);
    EXPECT_EQ(lowered(source).entities().size(), 2 * kCancellationPollInterval);
    EXPECT_TRUE(registered("lw_cancel"));
}

// The symbols of a file are checked when its lowering starts and again when they are committed;
// what another lowering registered in between decides the second check, for all of them at once.
TEST(Lowering, CommitChecksTheUnitsAgain) {
    auto ast = parse_source("Unit \"lw_c1\" of \"Time\" factor 2 base \"s\"\n"
                            "Unit \"lw_c2\" of \"Time\" factor 3 base \"s\"\n"
                            "Unit \"lw_c3\" of \"Time\" factor 4 base \"s\"\n");
    ASSERT_TRUE(ast.ok());
    std::vector<AstNode*> nodes;
    for (Spanned& declaration : ast->declarations)
        nodes.push_back(&declaration.node);
    auto register_meanwhile = [](const char* symbol, const char* factor) {
        ASSERT_TRUE(UnitRegistry::write()
                        ->register_unit(
                            Unit(symbol, symbol, DimensionKind::Time, *Decimal::parse(factor), "s"))
                        .ok());
    };

    auto conflicting = DeclaredUnits::check(nodes);
    ASSERT_TRUE(conflicting.ok());
    register_meanwhile("lw_c2", "5");
    auto refused = std::move(*conflicting).commit();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().to_string(),
              "Grammar error: Conflicting unit 'lw_c2' already registered (existing: "
              "dimension=Time, base_factor=5, base_unit=s; new: dimension=Time, base_factor=3, "
              "base_unit=s)");
    EXPECT_FALSE(registered("lw_c1"));
    EXPECT_FALSE(registered("lw_c3"));

    // The same unit registered meanwhile is no conflict; it stays as it is.
    auto unit_files = parse_source("Unit \"lw_c4\" of \"Time\" factor 2 base \"s\"\n"
                                   "Unit \"lw_c5\" of \"Time\" factor 3 base \"s\"\n");
    ASSERT_TRUE(unit_files.ok());
    nodes = {&unit_files->declarations[0].node, &unit_files->declarations[1].node};
    auto agreeing = DeclaredUnits::check(nodes);
    ASSERT_TRUE(agreeing.ok());
    EXPECT_EQ(agreeing->unit_for("lw_c5").base_factor, Decimal::from_u64(3));
    register_meanwhile("lw_c5", "3.0");
    EXPECT_TRUE(std::move(*agreeing).commit().ok());
    EXPECT_EQ(registered("lw_c4")->base_factor, Decimal::from_u64(2));
    EXPECT_EQ(registered("lw_c5")->base_factor.to_string(), "3.0");
}

// The check asked between stretches of a long unit pass may lower files of its own on the same
// thread (a Python signal handler may): no lock of the registry is held then, and what they
// register is checked again when the first file commits.
TEST(Lowering, ChecksBetweenStretchesMayRegisterUnitsThemselves) {
    std::string source = "Unit \"lw_p_first\" of \"Time\" factor 2 base \"s\"\n";
    for (int i = 0; i < 5000; ++i)
        source += "Unit \"lw_p" + std::to_string(i) + "\" of \"Time\" factor 3 base \"s\"\n";
    auto ast = parse_source(source);
    ASSERT_TRUE(ast.ok());
    std::vector<AstNode*> nodes;
    for (Spanned& declaration : ast->declarations)
        nodes.push_back(&declaration.node);
    int consultations = 0;
    const CancellationScope scope(
        [](void* count) {
            if ((*static_cast<int*>(count))++ == 0) {
                // One lowering reads the registry, another registers a symbol of the outer file
                // otherwise than it declares it.
                EXPECT_EQ(lowered("Resource \"R\" kg").resources().size(), 1u);
                lowered("Unit \"lw_p_first\" of \"Time\" factor 9 base \"s\"");
            }
            return false;
        },
        &consultations);
    auto checked = DeclaredUnits::check(nodes);
    ASSERT_TRUE(checked.ok());
    EXPECT_GE(consultations, 2); // one a stretch
    EXPECT_EQ(registered("lw_p_first")->base_factor, Decimal::from_u64(9));
    auto committed = std::move(*checked).commit();
    ASSERT_FALSE(committed.ok());
    EXPECT_EQ(committed.error().to_string(),
              "Grammar error: Conflicting unit 'lw_p_first' already registered (existing: "
              "dimension=Time, base_factor=9, base_unit=s; new: dimension=Time, base_factor=2, "
              "base_unit=s)");
    EXPECT_FALSE(registered("lw_p0"));
}

TEST(Lowering, InstancesMetricsMappingsProjectionsAndConceptChanges) {
    Graph graph = lowered(
        "@namespace \"ops\"\nEntity \"E\"\n"
        "Instance i of \"E\" { text: \"hi\", n: 5, flag: true, q: 12.50 \"kg\", "
        "at: \"2024-01-15T10:30:00Z\", ref: someone }\n"
        "Metric \"m\" as: count(flows) @refresh_interval 5 \"minutes\" @unit \"kg\" "
        "@threshold 10.5 @severity \"warning\" @target 75 @window 7 \"days\"\n"
        "Mapping \"map\" for kg { Entity \"A\" -> Node { label: \"x\" } Flow \"F\" -> Edge { } }\n"
        "Projection \"proj\" for protobuf { Resource \"R\" { unit: \"kg\" } }\n"
        "ConceptChange \"C\" @from_version v1.0.0 @to_version v2.0.0 @migration_policy manual "
        "@breaking_change true\n");

    const Instance& instance = graph.entity_instances().begin()->second;
    EXPECT_EQ(instance.id, concept_id_for("ops", "E:i"));
    EXPECT_EQ(json::to_compact_string(json::Value(instance.fields)),
              "{\"at\":\"2024-01-15T10:30:00Z\",\"flag\":true,\"n\":5.0,"
              "\"q\":{\"unit\":\"kg\",\"value\":\"12.50\"},\"ref\":\"someone\",\"text\":\"hi\"}");

    const Metric* m = graph.metrics().find(concept_id_for("ops", "m"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->expression.kind(), ExpressionKind::Aggregation);
    EXPECT_EQ(m->refresh_interval, TimeSpan{300});
    EXPECT_EQ(m->unit, "kg");
    EXPECT_EQ(m->threshold, Decimal::parse("10.5").value());
    EXPECT_EQ(m->severity, MetricSeverity::Warning);
    EXPECT_EQ(m->target, Decimal::from_u64(75));
    EXPECT_EQ(m->window, TimeSpan{7 * 86400});

    const Mapping* map = graph.mappings().find(concept_id_for("ops", "map"));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->target_format, TargetFormat::Kg);
    ASSERT_EQ(map->rules.size(), 2u);
    EXPECT_EQ(map->rules[1].target_type, "Edge");
    const Projection* proj = graph.projections().find(concept_id_for("ops", "proj"));
    ASSERT_NE(proj, nullptr);
    EXPECT_EQ(proj->target_format, TargetFormat::Protobuf);
    EXPECT_EQ(proj->overrides.at(0).primitive_type, "Resource");

    const ConceptChange* change = graph.concept_changes().find(concept_id_for("default", "C"));
    ASSERT_NE(change, nullptr);
    EXPECT_EQ(*change, (ConceptChange{change->id, "C", "1.0.0", "2.0.0", "manual", true}));
}

TEST(Lowering, ParseToGraph) {
    EXPECT_EQ(parse_to_graph("import { X } from \"missing\"\nEntity \"A\"")->entities().size(), 1u);
    EXPECT_EQ(parse_to_graph("Entity").error().kind(), Kind::Syntax);
    EXPECT_EQ(parse_to_graph("@profile \"cloudy\"").error().kind(), Kind::Validation);
}

} // namespace
} // namespace vok
