// The grammar's work stays linear in its input: inputs built to make ordered choice retry the same
// expression rules at the same positions cost a bounded number of rule calls per byte, and the
// syntax errors they end in are worded as without the memo that bounds them.
#include <gtest/gtest.h>

#include <string>

#include "grammar_test_util.h"

namespace vok {
namespace {

struct Family {
    const char* prefix;
    const char* unit;
    const char* suffix;
};

class AdversarialFamily : public testing::TestWithParam<Family> {};

size_t rule_calls(grammar::Rule start, const std::string& text) {
    peg::ParseStats stats;
    (void)grammar::DslParser::parse(start, text, &stats);
    return stats.rule_calls;
}

std::string build(const Family& family, size_t count) {
    std::string text = family.prefix;
    for (size_t i = 0; i < count; ++i)
        text += family.unit;
    return text + family.suffix;
}

// Without the memo each repetition doubled the work, so 22 of them took seconds and failed here.
TEST_P(AdversarialFamily, CostsABoundedNumberOfRuleCallsPerByte) {
    const Family& family = GetParam();
    for (const size_t count : {4u, 12u, 22u}) {
        const std::string text = build(family, count);
        const size_t calls = rule_calls(grammar::Rule::program, text);
        EXPECT_LE(static_cast<double>(calls), static_cast<double>(grammar::kMaxRuleCallsPerByte) *
                                                  static_cast<double>(text.size()))
            << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, AdversarialFamily,
    testing::Values(Family{"Policy p as: ", "( not-", ""}, Family{"Policy p as: ", "( not -", "x"},
                    Family{"Policy p as: ", "not (", ""}, Family{"Policy p as: ", "- (", ""},
                    Family{"Policy p as: ", "not - (", "a"}, Family{"Policy p as: ", "(", ""},
                    Family{"Policy p as: ", "forall x in flows: ( not-", ""},
                    Family{"Policy p as: ", "count(x in flows where ( not-", ""},
                    Family{"Policy p as: ", "( not- sum(x in flows: ", "1"},
                    Family{"Policy p as: ", "exists y in entities: ( - not ", ""},
                    Family{"Policy p as: ", "group_by(x in flows: ( not-", ""},
                    Family{"Instance i of \"E\" { f: ", "( not-", "}"},
                    Family{"Metric \"m\" as: ", "not - ( - ", "1"}));

TEST(Backtracking, LongAdversarialInputEndsQuickly) {
    // A thousand repetitions end in the nesting refusal; the work up to it stays linear.
    const Family family{"Policy p as: ", "( not-", ""};
    const std::string text = build(family, 1000);
    auto result = grammar::DslParser::parse(grammar::Rule::program, text);
    ASSERT_FALSE(result.ok());
    EXPECT_LE(static_cast<double>(rule_calls(grammar::Rule::program, text)),
              static_cast<double>(grammar::kMaxRuleCallsPerByte) *
                  static_cast<double>(text.size()));
}

TEST(Backtracking, RememberedFailuresChangeNoMessage) {
    using grammar_test::shape;
    // The messages of the grammar without the failure memo.
    EXPECT_EQ(shape(grammar::Rule::program, "Policy p as: ( not-( not-( not-"),
              "<Syntax error at 1:32: expected primary_expr>");
    EXPECT_EQ(shape(grammar::Rule::program, "Policy p as: not - (a b"),
              "<Syntax error at 1:23: expected comparison_op, add_op, or mul_op>");
    EXPECT_EQ(shape(grammar::Rule::program, "Policy p as: count(x in flows where ( not- y : 1"),
              "<Syntax error at 1:46: expected comparison_op, add_op, or mul_op>");
}

} // namespace
} // namespace vok
