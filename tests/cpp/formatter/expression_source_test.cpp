// Expressions in formatted source: the text form's layout in the grammar's spelling, read back
// by the parser to the same tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formatter/expression_source.h"
#include "formatter/format_test_util.h"
#include "parser/grammar/dsl_parser.h"

namespace vok {
namespace {

std::string condition_of(const std::string& condition) {
    std::string text = testing::formatted("Policy p as: " + condition);
    const std::string prefix = "Policy p\n    as: ";
    EXPECT_TRUE(text.starts_with(prefix)) << text;
    return text.substr(prefix.size(), text.size() - prefix.size() - 1);
}

struct SpellingCase {
    const char* source;
    const char* expected;
};

class Spelling : public ::testing::TestWithParam<SpellingCase> {};

TEST_P(Spelling, WritesTheGrammarsSpellingAndReadsBack) {
    const SpellingCase& c = GetParam();
    EXPECT_EQ(condition_of(c.source), c.expected);
    testing::expect_reads_back(std::string("Policy p as: ") + c.source);
}

INSTANTIATE_TEST_SUITE_P(
    Formatter, Spelling,
    ::testing::Values(
        SpellingCase{"a = \"x\"", "(a = \"x\")"},
        SpellingCase{"a or b and not c = 1 + 2 * -d",
                     "(a OR (b AND NOT (c = (1.0 + (2.0 * - d)))))"},
        SpellingCase{"s startswith \"a\" or s ENDSWITH \"b\"",
                     "((s STARTSWITH \"a\") OR (s ENDSWITH \"b\"))"},
        SpellingCase{"u Has_Role \"r\"", "(u HAS_ROLE \"r\")"},
        // A NOT or minus under a tighter operator needs parentheses the text form does not have.
        SpellingCase{"(not a) = b", "((NOT a) = b)"},
        SpellingCase{"(not a) + 1 < 2", "(((NOT a) + 1.0) < 2.0)"},
        SpellingCase{"-(not a) = 1", "(- (NOT a) = 1.0)"},
        SpellingCase{"(-z) as \"t\" = -z as \"t\"", "((- z) as \"t\" = - z as \"t\")"},
        SpellingCase{"(x as \"a\") as \"b\"", "(x as \"a\") as \"b\""},
        SpellingCase{"not not x", "NOT NOT x"},
        SpellingCase{"FORALL f IN Flows: (ok)", "forall f in flows: (ok)"},
        SpellingCase{"exists_unique r in relations: (r.a = 1)",
                     "exists_unique r in relations: (r.a = 1.0)"},
        SpellingCase{"SUM(f in flows over last 30 \"days\" where f.q > 0: f.q) > 1",
                     "(sum(f in flows over last 30 \"days\" where (f.q > 0.0): f.q) > 1.0)"},
        SpellingCase{"count(e in entities where true: 1) = count(flows)",
                     "(count(e in entities: 1.0) = count(flows))"},
        SpellingCase{"max(items.total) > min(Flows.q)", "(max(items.total) > min(flows.q))"},
        SpellingCase{"group_by(f in flows: f.r) { count(flows) > 1 }",
                     "group_by(f in flows: f.r) { (count(flows) > 1.0) }"},
        SpellingCase{"t during interval(\"a\\\"\", \"b\")",
                     "(t DURING interval(\"a\\\"\", \"b\"))"},
        SpellingCase{"t before \"2024-01-15T10:30:00-05:00\"",
                     "(t BEFORE \"2024-01-15T10:30:00-05:00\")"},
        // A string shaped like a time literal would read back as a time.
        SpellingCase{"a = \"\"\"2024-01-15T10:30:00Z\"\"\"",
                     "(a = \"\"\"2024-01-15T10:30:00Z\"\"\")"},
        SpellingCase{"a = \"tab\\there\\nquote\\\"back\\\\\"",
                     "(a = \"tab\\there\\nquote\\\"back\\\\\")"},
        SpellingCase{"q = 1.50 \"k\\\"g\" as \"M\"", "(q = 1.50 \"k\\\"g\" as \"M\")"},
        SpellingCase{"a = 100000000000000000000", "(a = 100000000000000000000)"},
        SpellingCase{"a = 0.0000001", "(a = 0.0000001)"},
        SpellingCase{"a = TRUE and b = False", "((a = true) AND (b = false))"},
        // A parenthesis opens an expression, where "not..." is the NOT operator: an operation
        // whose text begins with such a name stays bare, as precedence groups it anyway.
        SpellingCase{"x = notice * 2", "(x = notice * 2.0)"},
        SpellingCase{"x = NOTE.a - 1 - 2", "(x = NOTE.a - 1.0 - 2.0)"},
        SpellingCase{"x = nothing as \"t\" * 3 + 1", "(x = nothing as \"t\" * 3.0 + 1.0)"},
        SpellingCase{"x = 1 + notice * 2", "(x = (1.0 + notice * 2.0))"}));

std::string chain(const std::string& op, size_t terms, const std::string& first = "a") {
    std::string text = first;
    for (size_t i = 1; i < terms; ++i)
        text += " " + op + " t" + std::to_string(i);
    return text;
}

TEST(ExpressionSource, ShortChainsKeepTheTextFormsParentheses) {
    EXPECT_EQ(condition_of(chain("and", 4)), "(((a AND t1) AND t2) AND t3)");
    EXPECT_EQ(condition_of(chain("-", 3)), "((a - t1) - t2)");
}

// With a parenthesis per operation a long chain would nest beyond what the parser accepts; such
// an expression keeps only the parentheses that precedence requires.
TEST(ExpressionSource, DeepExpressionsKeepOnlyTheParenthesesPrecedenceNeeds) {
    EXPECT_EQ(condition_of(chain("or", 66)).substr(0, 15), "a OR t1 OR t2 O");
    EXPECT_EQ(condition_of(chain("or", 65)).substr(0, 15), std::string(64, '(').substr(0, 15));
    EXPECT_EQ(condition_of("(a or b) and " + chain("-", 70, "c") + " - (d - e) > -(not f)"),
              "(a OR b) AND c - t1 - t2 - t3 - t4 - t5 - t6 - t7 - t8 - t9 - t10 - t11 - t12 - "
              "t13 - t14 - t15 - t16 - t17 - t18 - t19 - t20 - t21 - t22 - t23 - t24 - t25 - t26 "
              "- t27 - t28 - t29 - t30 - t31 - t32 - t33 - t34 - t35 - t36 - t37 - t38 - t39 - t40 "
              "- t41 - t42 - t43 - t44 - t45 - t46 - t47 - t48 - t49 - t50 - t51 - t52 - t53 - t54 "
              "- t55 - t56 - t57 - t58 - t59 - t60 - t61 - t62 - t63 - t64 - t65 - t66 - t67 - t68 "
              "- t69 - (d - e) > - (NOT f)");
    for (const char* op : {"or", "and", "+", "-", "*", "/"}) {
        SCOPED_TRACE(op);
        testing::expect_reads_back("Policy p as: " + chain(op, 150) + " = 1");
    }
    testing::expect_reads_back("Policy p as: x = " + chain("+", 150, "notice") + " and " +
                               chain("and", 100));
    testing::expect_reads_back("Instance i of \"E\" { f: " + chain("*", 200) + " + " +
                               chain("-", 120) + " }");
    testing::expect_reads_back("Policy p as: " + chain("and", 20000));
    // NOT under a comparison needs a parenthesis per level in either layout.
    std::string nots = "a";
    for (int i = 0; i < 60; ++i)
        nots = "(not " + nots + ") = b" + std::to_string(i);
    testing::expect_reads_back("Policy p as: " + nots);
}

TEST(ExpressionSource, MixedOperatorsInADeepExpressionKeepTheirGrouping) {
    std::string text = "a";
    for (int i = 0; i < 120; ++i)
        text += (i % 3 ? " + " : " - ") + std::string("b * c / -d");
    testing::expect_reads_back("Policy p as: " + text + " > 0 or " + chain("or", 90) +
                               " and not x or (y or z) and w");
    std::string nested = "x";
    for (int i = 0; i < 40; ++i)
        nested = "forall v in flows: (" + nested + " and (p or q) and v.a - (b - c) = 1)";
    testing::expect_reads_back("Policy p as: " + nested);
    testing::expect_reads_back("Policy p as: x = " + chain("*", 80, "notice") + " as \"t\"");
}

// NOT and unary minus cost the grammar a rule each without a parenthesis: the formatter counts the
// rules the parser opens, not parentheses, so a text-form layout that the nesting guard would
// refuse is written with fewer parentheses.
TEST(ExpressionSource, NotChainsOverLongChainsReadBack) {
    std::string nots;
    for (int i = 0; i < 400; ++i)
        nots += "not ";
    testing::expect_reads_back("Policy p as: " + nots + chain("-", 64) + " = 1");
    testing::expect_reads_back("Metric \"m\" as: " + nots + chain("*", 60) + " = 1");
    testing::expect_reads_back("export Instance i of \"E\" { f: " + nots + "- - - " +
                               chain("+", 63) + " }");
    std::string deeper;
    for (int i = 0; i < 4000; ++i)
        deeper += "not ";
    for (int i = 0; i < 4000; ++i)
        deeper += "- ";
    testing::expect_reads_back("Policy p as: " + deeper + chain("-", 64) + " = 1");
}

// The count of rules the formatter works with is the deepest nesting the parser reaches reading
// the text back (or one more where a leaf's tried alternatives are counted generously).
TEST(ExpressionSource, CountsTheRulesTheParserOpens) {
    std::string nested = "x";
    for (int i = 0; i < 5; ++i)
        nested = "forall v in flows: (" + nested + " and count(y in flows where y.a > " + nested +
                 ": -y.b as \"t\") = 1)";
    for (const std::string& condition : std::vector<std::string>{
             "a", std::string("not - (a + b) * c as \"t\" < d"), chain("and", 30),
             "not " + chain("-", 64) + " = 1", nested,
             "group_by(x in flows where not x.a: x.b) { sum(y in flows over last 3 \"d\": y) > "
             "interval(\"a\", \"b\") }",
             "exists x in entities: (not x.y)"}) {
        for (const bool exported : {false, true}) {
            const std::string source =
                std::string(exported ? "export " : "") + "Policy p as: " + condition;
            auto ast = parse_source(source);
            ASSERT_TRUE(ast.ok()) << source;
            const auto& declaration = ast->declarations[0].node;
            const auto& policy = std::get<ast::Policy>(
                exported ? std::get<ast::Export>(declaration).declaration->node : declaration);
            const size_t counted =
                expression_source_rule_nesting(policy.expression, 4 + (exported ? 1 : 0));
            peg::ParseStats stats;
            ASSERT_TRUE(grammar::DslParser::parse(grammar::Rule::program,
                                                  testing::formatted(source), &stats)
                            .ok());
            EXPECT_GE(counted, stats.deepest_nesting) << source;
            EXPECT_LE(counted, stats.deepest_nesting + 1) << source;
        }
    }
}

} // namespace
} // namespace vok
