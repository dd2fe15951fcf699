// Deep nesting ends in an orderly refusal, at once and well within a small thread stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "grammar_test_util.h"

namespace vok {
namespace {

std::string repeat(std::string_view unit, size_t count) {
    std::string text;
    text.reserve(unit.size() * count);
    for (size_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

const std::string kDeepParens = "Policy p as: " + repeat("(", 100000) + "a" + repeat(")", 100000);

bool is_nesting_error(const std::string& message) {
    return message.find(": nesting too deep: more than 10000 nested grammar rules") !=
           std::string::npos;
}

// Runs `body` on a thread with a stack of `bytes` (more under sanitizers, whose frames are
// several times larger).
void run_with_stack(size_t bytes, const std::function<void()>& body) {
#if defined(__SANITIZE_ADDRESS__)
    bytes *= 8;
#endif
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    auto trampoline = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(
        pthread_create(&thread, &attributes, trampoline, const_cast<std::function<void()>*>(&body)),
        0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(Nesting, DeepParenthesesAreRefusedWhereTheLimitIsHit) {
    EXPECT_EQ(grammar_test::program_error(kDeepParens),
              "Syntax error at 1:1013: nesting too deep: more than 10000 nested grammar rules");
    auto lone = parse_expression(repeat("(", 100000));
    ASSERT_FALSE(lone.ok());
    EXPECT_TRUE(is_nesting_error(lone.error().to_string())) << lone.error().to_string();
}

TEST(Nesting, EveryRecursiveFormIsBounded) {
    const std::string deep_objects = "Flow \"M\" @meta " + repeat("{\"a\": ", 100000) + "1" +
                                     repeat("}", 100000) + " from \"A\" to \"B\"";
    const std::string deep_mapping =
        "Mapping \"m\" for calm { Entity \"A\" -> N { f: " + repeat("{ \"k\": ", 100000) + "true" +
        repeat("}", 100000) + " } }";
    for (const std::string& source :
         {deep_objects, deep_mapping, "Policy p as: " + repeat("not ", 100000) + "a",
          "Policy p as: " + repeat("- ", 100000) + "a",
          "Metric \"m\" as: " + repeat("count(x in flows: ", 100000),
          "Instance i of \"E\" { f: " + repeat("(", 100000) + " }"}) {
        EXPECT_TRUE(is_nesting_error(grammar_test::program_error(source))) << source.substr(0, 40);
    }
}

TEST(Nesting, NonRecursiveRunsFailAsOrdinarySyntaxErrors) {
    // `[` opens a string array, whose elements are strings, and `{` an object literal, whose
    // keys are: neither nests without a key in between.
    EXPECT_EQ(grammar_test::program_error("Flow \"M\" @x " + repeat("[", 100000)),
              "Syntax error at 1:14: expected string_literal");
    EXPECT_EQ(grammar_test::program_error("Flow \"M\" @x " + repeat("{", 100000)),
              "Syntax error at 1:14: expected string_literal");
}

TEST(Nesting, ModerateNestingParsesAndUnclosedNestingFailsNormally) {
    EXPECT_EQ(
        grammar_test::program_error("Policy p as: " + repeat("(", 90) + "a" + repeat(")", 90)),
        "ok");
    const std::string unclosed =
        grammar_test::program_error("Policy p as: " + repeat("(", 90) + "a");
    EXPECT_FALSE(is_nesting_error(unclosed));
    EXPECT_NE(unclosed, "ok");
}

// The refusal ends the run where the limit is hit: the rule engine's work is that of the text
// before that point (byte 1012, within the grammar's budget per byte), however long the rest, and
// it is not run a second time to word the error.
TEST(Nesting, RefusalStopsAtOnceAndFitsASmallStack) {
    std::string message;
    peg::ParseStats stats;
    run_with_stack(1 << 20, [&] {
        message = grammar_test::program_error(kDeepParens);
        EXPECT_FALSE(grammar::DslParser::parse(grammar::Rule::program, kDeepParens, &stats).ok());
    });
    EXPECT_TRUE(is_nesting_error(message));
    EXPECT_EQ(stats.deepest_nesting, grammar::kMaxRuleNesting);
    EXPECT_LE(stats.rule_calls, grammar::kMaxRuleCallsPerByte * 1013);
}

// Nesting just inside the limit parses on a small stack: the engine continues on heap segments.
TEST(Nesting, InputsJustInsideTheLimitParseOnASmallStack) {
    const std::vector<std::string> sources = {
        "Policy p as: " + repeat("(", 990) + "a" + repeat(")", 990),
        "Policy p as: " + repeat("not ", 9000) + "a", "Policy p as: " + repeat("- ", 9000) + "a",
        "Flow \"M\" @meta " + repeat("{\"a\": ", 4900) + "1" + repeat("}", 4900) +
            " from \"A\" to \"B\""};
    run_with_stack(1 << 20, [&] {
        for (const std::string& source : sources)
            EXPECT_EQ(grammar_test::program_error(source), "ok") << source.substr(0, 40);
    });
}

} // namespace
} // namespace vok
