// Declarations: which whole files parse, and the pairs a few of them leave.
#include <gtest/gtest.h>

#include <string>

#include "grammar_test_util.h"

namespace vok {
namespace {

using grammar_test::declaration_shape;
using grammar_test::program_error;

class AcceptedFile : public ::testing::TestWithParam<std::string> {};

TEST_P(AcceptedFile, Parses) {
    EXPECT_EQ(program_error(GetParam()), "ok") << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, AcceptedFile,
    ::testing::Values(
        R"(Entity "Customer")", R"(entity "Customer" V 1.0.0 in sales)",
        R"(Entity "A" v 1.2.0 @replaces "B" v1.0.0 @ changes ["x", "y"] in d)",
        R"(Resource "Money" USD in finance)", R"(Resource "Money" in finance)",
        R"(Resource "Money" units)", "Resource \"X\"\nEntity \"Y\"", R"(Resource "X" unit in d)",
        R"(Resource "X" @replaces "Y" kg)", R"(Flow "Money" @priority 5 from "A" to "B")",
        R"(Flow "Money" from "A" to "B" quantity 10.5)",
        R"(Flow "M" @meta { "a": { "b": ["c"] }, "n": -1.5 } @on true from "A" to "B")",
        R"(Flow "M" @replaces "N" v1.0.0 @changes ["c"] from "A" to "B")",
        R"(Policy p per Constraint Obligation priority 5 @rationale "why" @tags ["a", "b"] v1.0.0 as: true)",
        R"(Policy p per Obligation Obligation priority 1 as: true)",
        R"(Policy p @tags "one" @rationale ["r"] as: x)", R"(Policyp as: true)",
        R"(Pattern "Code" matches "[A-Z]+")", R"(Role "Buyer" in sales)", R"(Dimension "Mass")",
        R"(Instance acme of "Customer" { name: "ACME", tier: 2 })",
        R"(Instance acme of "Customer")", R"(Instancea of "E")",
        R"(Instance a of "E" { x: 1 y: "2", z: 3 "kg", })", R"(Instance a of "E" {})",
        R"(Relation "Pays" subject: "Buyer" predicate: "pays" object: "Seller" via: flow "Money")",
        R"(Relation "Pays" subject : "B" predicate : "p" object : "S")",
        R"(Unit "g" of "Mass" factor 0.001 base "kg")",
        R"(ConceptChange "Rename" @from_version v1.0.0 @to_version v2.0.0 @migration_policy manual @breaking_change true)",
        R"(ConceptChange "R")",
        R"(Metric "m" as: 1 @refresh_interval 5 "minutes" @window 7 "days" @threshold 100)",
        R"(Metric "m" as: x @unit "u" @severity "warning" @target 1.5)",
        R"(Mapping "m" for calm { Entity "Customer" -> Node { label: "Person", props: { "k": 1 }, active: true } })",
        R"(Mapping "m" for kg { Entity "A" -> N {} Flow "B" -> E { x: "y" } })",
        R"(Mapping "m" for calm { Entity "A" -> N { o: { "a": 1 "b": 2 } } })",
        R"(Mapping "m" for calm { Entity "A" -> N { o: { "a": 1, "b": 2, } } })",
        R"(Mapping "m" for calm { Entity "A" -> N { o: {} } })",
        R"(Projection "p" for kg { Entity "Customer" { label: "Person", properties: { "name" -> "fullName", } } })",
        R"(Projection "p" for SBVR { Resource "R" {} })", R"(export Entity "X")",
        R"(EXPORT Dimension "D")"));

class RejectedFile : public ::testing::TestWithParam<std::string> {};

TEST_P(RejectedFile, FailsToParse) {
    EXPECT_NE(program_error(GetParam()), "ok") << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, RejectedFile,
    ::testing::Values(R"(Resource "X" unit)", R"(Entity "X" @priority 5)",
                      R"(Resource "X" @priority 5)", R"(Flow "M" from "A" to "B" @priority 5)",
                      R"(Flow "M" from "A")", R"(Entity Customer)", R"(Entity "X" in "d")",
                      R"(Entity "X" in)", R"(Policy p per Constraint Obligation as: true)",
                      R"(Policy p as true)", R"(Policy "p" as: true)",
                      R"(Relation "P" predicate: "p" subject: "B" object: "S")",
                      R"(Relation "P" subject: "B" predicate: "p" object: "S" via: "M")",
                      R"(Unit "g" of "Mass" factor 0.001)", R"(Unit "g" factor 0.001 base "kg")",
                      R"(Unit "g" of "Mass" base "kg" factor 1)",
                      R"(ConceptChange "R" @from_version 1.0.0)", R"(ConceptChange "R" @other x)",
                      R"(Metric "m" @unit "x" as: 1)", R"(Metric "m" as: 1 @refresh_interval 5)",
                      R"(export export Entity "X")", R"(Mapping "m" for json { })",
                      R"(Mapping "m" for calm { Entity "A" -> N { a: 1 } })",
                      R"(Mapping "m" for calm { Entity "A" -> N { }, Entity "B" -> N { } })",
                      R"(Mapping "m" for calm { Thing "A" -> N { } })",
                      R"(Projection "p" for kg { Entity "C" { p: { "a": "b" } } })",
                      R"(Instance a of "E" { x = 1 })", R"(Instance "a" of "E")",
                      R"(Dimension Mass)", R"(Entity "A" Entity "B" garbage)"));

TEST(DeclarationShape, EntityWithVersionAndDomain) {
    EXPECT_EQ(declaration_shape(R"(entity "Customer" V 1.0.0 in sales)"),
              R"(entity_decl(name(string_literal ""Customer"") version "1.0.0" )"
              R"(in_keyword "in " identifier "sales"))");
}

TEST(DeclarationShape, ResourceUnitAndDomainAlternatives) {
    const std::string name = R"(name(string_literal ""M""))";
    EXPECT_EQ(declaration_shape(R"(Resource "M" USD in finance)"),
              "resource_decl(" + name +
                  R"( identifier "USD" in_keyword "in " identifier "finance"))");
    EXPECT_EQ(declaration_shape(R"(Resource "M" in finance)"),
              "resource_decl(" + name + R"( in_keyword "in " identifier "finance"))");
    EXPECT_EQ(declaration_shape(R"(Resource "M" units)"),
              "resource_decl(" + name + R"( identifier "units"))");
    EXPECT_EQ(declaration_shape(R"(Resource "M" unit in d)"),
              "resource_decl(" + name + R"( identifier "unit" in_keyword "in " identifier "d"))");
    // The reserved word of the next declaration is not taken for a unit.
    EXPECT_EQ(declaration_shape("Resource \"M\"\nEntity \"X\""), "resource_decl(" + name + ")");
    EXPECT_EQ(
        declaration_shape("Resource \"M\" @changes [\"c\"]\nflow \"M\" from \"A\" to \"B\""),
        "resource_decl(" + name +
            R"( resource_annotation(ea_changes "changes" string_array(string_literal ""c""))))");
}

TEST(DeclarationShape, FlowWithFreeAnnotation) {
    EXPECT_EQ(declaration_shape(R"(Flow "Money" @priority 5 from "A" to "B" quantity 2)"),
              R"(flow_decl(string_literal ""Money"" flow_annotation(identifier "priority" )"
              R"(annotation_value(number "5")) string_literal ""A"" string_literal ""B"" )"
              R"(number "2"))");
}

TEST(DeclarationShape, KeywordNeedsNoSeparatorBeforeAnIdentifier) {
    EXPECT_EQ(declaration_shape(R"(Instancea of "E")"),
              R"(instance_decl(identifier "a" string_literal ""E""))");
    const std::string policy = declaration_shape("Policyp as: true");
    EXPECT_EQ(policy.rfind(R"(policy_decl(identifier "p" expression()", 0), 0u) << policy;
}

TEST(DeclarationShape, ExportWrapsTheInnerDeclaration) {
    EXPECT_EQ(declaration_shape(R"(export Entity "X")"),
              R"(export_decl(declaration_inner(entity_decl(name(string_literal ""X"")))))");
}

TEST(DeclarationShape, MappingTargetFormatsAndNestedObjects) {
    EXPECT_EQ(declaration_shape(R"(Mapping "m" for protobuf {})"),
              R"(mapping_decl(string_literal ""m"" target_format "protobuf"))");
    EXPECT_EQ(declaration_shape(R"(Mapping "m" for proto {})"),
              R"(mapping_decl(string_literal ""m"" target_format "proto"))");
    EXPECT_EQ(
        declaration_shape(
            R"(Mapping "m" for calm { Entity "A" -> N { o: { "a": 1 "b": { "c": true } } } })"),
        R"(mapping_decl(string_literal ""m"" target_format "calm" mapping_rule(primitive_type "Entity" )"
        R"(string_literal ""A"" target_structure(identifier "N" mapping_field(identifier "o" )"
        R"(object_literal(string_literal ""a"" annotation_value(number "1") string_literal ""b"" )"
        R"(annotation_value(object_literal(string_literal ""c"" annotation_value(boolean "true")))))))))");
}

TEST(DeclarationShape, SpanEndsAfterTriviaWhenTheLastElementMatchedNothing) {
    auto result = parse_program("Entity \"A\"  // note\nEntity \"B\"");
    ASSERT_TRUE(result.ok());
    auto declarations = result->root()->children();
    declarations.next(); // file_header
    const grammar::DslPair first = *declarations.next();
    EXPECT_EQ(first.as_str(), "Entity \"A\"  // note\n");
    const grammar::DslPair second = *declarations.next();
    EXPECT_EQ(second.as_str(), "Entity \"B\"");
    EXPECT_EQ(second.line_col(), (peg::LineCol{2, 1}));
}

} // namespace
} // namespace vok
