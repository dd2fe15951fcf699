// Normal forms, canonical key texts and stable hashes of expressions.
//
// The hash is checked against byte streams written out here from the published layout and hashed
// with the system's libxxhash; the shortcuts of the group path are checked against a plain
// reference (flatten, stable sort by key text, neighbour deduplication, pairwise absorption).
#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "expression/expression_text.h"
#include "policy/normalize.h"
#include "policy/normalize_key.h"
#include "policy/normalized_expression.h"

namespace vok {
namespace {

Expression var(const std::string& name) {
    return Expression::variable(name);
}
Expression lit(json::Value v) {
    return Expression::literal(std::move(v));
}
Expression bin(BinaryOp op, Expression l, Expression r) {
    return Expression::binary(op, std::move(l), std::move(r));
}
Expression op_and(Expression l, Expression r) {
    return bin(BinaryOp::And, std::move(l), std::move(r));
}
Expression op_or(Expression l, Expression r) {
    return bin(BinaryOp::Or, std::move(l), std::move(r));
}
Expression op_not(Expression x) {
    return Expression::unary(UnaryOp::Not, std::move(x));
}
Expression quantity(const std::string& value, const std::string& unit) {
    return expr::QuantityLiteral{*Decimal::parse(value), unit};
}
Expression count_of(const std::string& collection) {
    return Expression::aggregation(AggregateFunction::Count, var(collection), std::nullopt,
                                   std::nullopt);
}

std::string normal_text(const Expression& e) {
    return expression_text(normalize_expression(e));
}

uint64_t hash_of(const Expression& e) {
    return NormalizedExpression(e).stable_hash();
}

TEST(Normalize, CommutativeOperatorsOrderTheirOperands) {
    for (BinaryOp op : {BinaryOp::And, BinaryOp::Or, BinaryOp::Equal, BinaryOp::NotEqual,
                        BinaryOp::Plus, BinaryOp::Multiply}) {
        NormalizedExpression ba(bin(op, var("b"), var("a")));
        NormalizedExpression ab(bin(op, var("a"), var("b")));
        EXPECT_EQ(ba, ab) << name_of(op);
        EXPECT_EQ(ba.stable_hash(), ab.stable_hash());
        EXPECT_EQ(expression_text(ba.expression()), "(a " + std::string(word_of(op)) + " b)");
    }
    for (BinaryOp op :
         {BinaryOp::Minus, BinaryOp::Divide, BinaryOp::LessThan, BinaryOp::Contains}) {
        NormalizedExpression ba(bin(op, var("b"), var("a")));
        EXPECT_NE(ba, NormalizedExpression(bin(op, var("a"), var("b")))) << name_of(op);
        EXPECT_EQ(expression_text(ba.expression()), "(b " + std::string(word_of(op)) + " a)");
    }
}

TEST(Normalize, ChainsBecomeOneLeftNestedSortedChain) {
    for (const Expression& e : {op_and(op_and(var("c"), var("b")), var("a")),
                                op_and(var("a"), op_and(var("b"), var("c"))),
                                op_and(var("c"), op_and(var("a"), var("b")))}) {
        EXPECT_EQ(normal_text(e), "((a AND b) AND c)");
    }
    EXPECT_EQ(normal_text(op_and(op_and(var("a"), var("b")), var("a"))), "(a AND b)");
    // A chain of another operator is one operand.
    EXPECT_EQ(normal_text(op_and(op_or(var("b"), var("a")), var("c"))), "((a OR b) AND c)");
}

TEST(Normalize, Negation) {
    EXPECT_EQ(normal_text(op_not(op_not(var("x")))), "x");
    EXPECT_EQ(normal_text(op_not(op_not(op_not(var("x"))))), "NOT x");
    EXPECT_EQ(normal_text(op_not(op_and(var("b"), var("a")))), "NOT (a AND b)");
    EXPECT_EQ(normal_text(op_not(Expression::unary(UnaryOp::Negate, var("x")))), "NOT - x");
    EXPECT_EQ(normal_text(op_not(lit(true))), "NOT true");
    const std::pair<BinaryOp, const char*> complements[] = {
        {BinaryOp::Equal, "(a != b)"},
        {BinaryOp::NotEqual, "(a == b)"},
        {BinaryOp::GreaterThan, "(a <= b)"},
        {BinaryOp::LessThan, "(a >= b)"},
        {BinaryOp::GreaterThanOrEqual, "(a < b)"},
        {BinaryOp::LessThanOrEqual, "(a > b)"}};
    for (const auto& [op, expected] : complements) {
        EXPECT_EQ(normal_text(op_not(bin(op, var("a"), var("b")))), expected) << name_of(op);
    }
    // The complemented comparison is not normalised again: b != a keeps its order.
    EXPECT_EQ(normal_text(op_not(bin(BinaryOp::Equal, var("b"), var("a")))), "(a != b)");
}

TEST(Normalize, BooleanLiteralsAndAbsorption) {
    const std::pair<Expression, const char*> cases[] = {
        {op_and(var("x"), lit(true)), "x"},
        {op_and(var("x"), lit(false)), "false"},
        {op_or(var("x"), lit(true)), "true"},
        {op_or(var("x"), lit(false)), "x"},
        {op_and(lit(true), lit(false)), "false"},
        {op_or(lit(false), lit(true)), "true"},
        {op_and(var("x"), var("x")), "x"},
        {op_and(var("x"), op_or(var("x"), var("y"))), "x"},
        {op_and(op_or(var("y"), var("x")), var("x")), "x"},
        {op_or(var("x"), op_and(var("x"), var("y"))), "x"},
        // Only direct operands absorb: a stays first in its sorted disjunction, where it is no
        // direct operand of the outer one; x sorts last and becomes one.
        {op_and(var("a"), op_or(op_or(var("a"), var("p")), var("q"))), "(((a OR p) OR q) AND a)"},
        {op_and(var("x"), op_or(op_or(var("x"), var("p")), var("q"))), "x"},
        // Absorption inside a longer chain.
        {op_and(op_and(var("c"), op_or(var("a"), var("z"))), var("a")), "(a AND c)"},
        {bin(BinaryOp::Plus, var("a"), var("a")), "a"},
        {bin(BinaryOp::Equal, var("a"), var("a")), "a"},
        {bin(BinaryOp::Minus, var("a"), var("a")), "(a - a)"},
    };
    for (const auto& [e, expected] : cases) {
        EXPECT_EQ(normal_text(e), expected) << expression_text(e);
    }
}

TEST(Normalize, LiteralsAreNeverRewritten) {
    Expression one = lit(json::Value::from_u64(1));
    Expression one_float = lit(json::Value::from_f64(1.0));
    EXPECT_NE(render_normalized_expression(one), render_normalized_expression(one_float));
    EXPECT_NE(hash_of(one), hash_of(one_float));
    // Structurally equal, yet hashed apart: the scale is part of the text.
    Expression hundred = quantity("100", "USD");
    Expression hundred_cents = quantity("100.00", "USD");
    EXPECT_EQ(hundred, hundred_cents);
    EXPECT_NE(NormalizedExpression(hundred), NormalizedExpression(hundred_cents));
    EXPECT_EQ(render_normalized_expression(hundred_cents), "Quant(100.00, \"USD\")");
}

TEST(Normalize, SecondNormalisationMaySimplifyFurther) {
    Expression cba = op_and(var("c"), op_and(var("b"), var("a")));
    NormalizedExpression once(cba);
    NormalizedExpression twice(once.expression());
    EXPECT_EQ(once, twice);

    Expression p = count_of("p");
    Expression q = count_of("q");
    Expression e = op_and(p, op_and(q, op_or(op_and(p, q), var("w"))));
    Expression first = normalize_expression(e);
    EXPECT_EQ(expression_text(first),
              "((COUNT(p) AND COUNT(q)) AND ((COUNT(p) AND COUNT(q)) OR w))");
    EXPECT_EQ(normal_text(first), "(COUNT(p) AND COUNT(q))");
}

TEST(NormalizeKey, TextsOfEveryVariant) {
    Expression items = var("items");
    auto comprehension = [&](std::optional<WindowSpec> window, std::optional<std::string> unit) {
        return Expression(expr::AggregationComprehension{
            AggregateFunction::Sum, "f", Box(var("flows")), std::move(window), Box(lit(true)),
            Box(Expression(expr::MemberAccess{"f", "quantity"})), std::move(unit)});
    };
    const std::pair<Expression, const char*> cases[] = {
        {var("a"), "Var(a)"},
        {lit(json::Value::from_u64(5)), "Lit(5)"},
        {lit(json::Value("a\"b")), "Lit(\"a\\\"b\")"},
        {op_and(var("a"), var("b")), "Bin(And, Var(a), Var(b))"},
        {quantity("100", "USD"), "Quant(100, \"USD\")"},
        {quantity("1.50", "a\"\\\t\r\n\x01"), "Quant(1.50, \"a\\\"\\\\\\t\\r\\n\\u{1}\")"},
        {expr::TimeLiteral{"2024-01-01T00:00:00Z"}, "Time(2024-01-01T00:00:00Z)"},
        {expr::IntervalLiteral{"s", "e"}, "Int(s, e)"},
        {Expression::unary(UnaryOp::Negate, var("x")), "Un(Negate, Var(x))"},
        {expr::Cast{Box(var("x")), "Money"}, "Cast(Var(x), \"Money\")"},
        {Expression::quantifier(Quantifier::ExistsUnique, "f", var("flows"), lit(true)),
         "Quant(ExistsUnique, f, Var(flows), Lit(true))"},
        {expr::MemberAccess{"user", "name"}, "Mem(user, name)"},
        {count_of("items"), "Agg(Count, Var(items), None, None)"},
        {Expression::aggregation(AggregateFunction::Avg, items, "q", lit(false)),
         "Agg(Avg, Var(items), q, Lit(false))"},
        {comprehension(std::nullopt, std::nullopt),
         "AggComp(Sum, f, Var(flows), None, Lit(true), Mem(f, quantity), None)"},
        {comprehension(WindowSpec{30, "days"}, "kg"),
         "AggComp(Sum, f, Var(flows), WindowSpec { duration: 30, unit: \"days\" }, Lit(true), "
         "Mem(f, quantity), kg)"},
        {expr::GroupBy{"f", Box(var("flows")), std::nullopt, Box(var("k")), Box(lit(true))},
         "Group(f, Var(flows), None, Var(k), Lit(true))"},
    };
    for (const auto& [e, expected] : cases) {
        EXPECT_EQ(render_normalized_expression(e), expected);
    }
    // The lazy comparison agrees with comparing the whole texts, prefixes included.
    for (const auto& [a, text_a] : cases) {
        for (const auto& [b, text_b] : cases) {
            int whole = std::string_view(text_a).compare(text_b);
            EXPECT_EQ(compare_normalized_keys(a, b), (whole > 0) - (whole < 0))
                << text_a << " vs " << text_b;
        }
    }
    EXPECT_LT(compare_normalized_keys(var("a"), var("ab")), 0);
    EXPECT_EQ(compare_normalized_keys(var("ab"), var("ab")), 0);
}

// ---- The byte stream, written out independently ----

class Stream {
public:
    Stream& u64(uint64_t v) {
        for (int i = 0; i < 8; ++i)
            bytes_.push_back(static_cast<char>(v >> (8 * i)));
        return *this;
    }
    Stream& byte(uint8_t b) {
        bytes_.push_back(static_cast<char>(b));
        return *this;
    }
    Stream& text(const std::string& s) {
        bytes_ += s;
        return byte(0xFF);
    }
    Stream& var(const std::string& name) { return u64(4).text(name); }
    uint64_t hash() const { return XXH64(bytes_.data(), bytes_.size(), 0); }

private:
    std::string bytes_;
};

uint64_t stream_hash(const Expression& e) {
    XXH64_state_t* state = XXH64_createState();
    XXH64_reset(state, 0);
    hash_normalized_expression(e, *state);
    uint64_t digest = XXH64_digest(state);
    XXH64_freeState(state);
    return digest;
}

TEST(StableHash, MatchesTheByteStreamOfEveryVariant) {
    const unsigned char variable_a[] = {4, 0, 0, 0, 0, 0, 0, 0, 0x61, 0xFF};
    EXPECT_EQ(hash_of(var("a")), XXH64(variable_a, sizeof variable_a, 0));

    auto window_comprehension = Expression(expr::AggregationComprehension{
        AggregateFunction::Max, "f", Box(var("flows")), WindowSpec{7, "days"}, Box(var("p")),
        Box(var("x")), std::string("kg")});
    auto bare_comprehension = Expression(
        expr::AggregationComprehension{AggregateFunction::Min, "f", Box(var("flows")), std::nullopt,
                                       Box(var("p")), Box(var("x")), std::nullopt});
    const std::pair<Expression, Stream> cases[] = {
        {lit(json::Value::from_f64(2.5)), Stream().u64(0).text("2.5")},
        {quantity("100.00", "USD"), Stream().u64(1).text("100.00").text("USD")},
        {expr::TimeLiteral{"t"}, Stream().u64(2).text("t")},
        {expr::IntervalLiteral{"s", "e"}, Stream().u64(3).text("s").text("e")},
        {var("é"), Stream().var("é")},
        {expr::GroupBy{"g", Box(var("c")), Box(var("w")), Box(var("k")), Box(var("b"))},
         Stream().u64(5).text("g").var("c").byte(1).var("w").var("k").var("b")},
        {expr::GroupBy{"g", Box(var("c")), std::nullopt, Box(var("k")), Box(var("b"))},
         Stream().u64(5).text("g").var("c").byte(0).var("k").var("b")},
        {bin(BinaryOp::During, var("a"), var("b")), Stream().u64(6).u64(19).var("a").var("b")},
        {Expression::unary(UnaryOp::Negate, var("a")), Stream().u64(7).u64(1).var("a")},
        {expr::Cast{Box(var("a")), "Money"}, Stream().u64(8).var("a").text("Money")},
        {Expression::quantifier(Quantifier::Exists, "f", var("c"), var("b")),
         Stream().u64(9).u64(1).text("f").var("c").var("b")},
        {expr::MemberAccess{"o", "m"}, Stream().u64(10).text("o").text("m")},
        {Expression::aggregation(AggregateFunction::Sum, var("c"), "q", var("w")),
         Stream().u64(11).u64(1).var("c").u64(1).text("q").byte(1).var("w")},
        {count_of("c"), Stream().u64(11).u64(0).var("c").u64(0).byte(0)},
        {window_comprehension, Stream()
                                   .u64(12)
                                   .u64(3)
                                   .text("f")
                                   .var("flows")
                                   .byte(1)
                                   .u64(7)
                                   .text("days")
                                   .var("p")
                                   .var("x")
                                   .u64(1)
                                   .text("kg")},
        {bare_comprehension,
         Stream().u64(12).u64(2).text("f").var("flows").byte(0).var("p").var("x").u64(0)},
    };
    for (const auto& [e, stream] : cases) {
        EXPECT_EQ(stream_hash(e), stream.hash()) << render_normalized_expression(e);
    }
    // Every case above is its own normal form, so the pair's hash is the same.
    for (const auto& [e, stream] : cases) {
        EXPECT_EQ(hash_of(e), stream.hash()) << render_normalized_expression(e);
    }
}

// ---- The group path against a plain reference ----

Expression reference_group(BinaryOp op, const Expression& left, const Expression& right) {
    std::vector<Expression> operands = flatten_binary_chain(op, left);
    for (Expression& e : flatten_binary_chain(op, right))
        operands.push_back(std::move(e));
    std::stable_sort(operands.begin(), operands.end(), [](const auto& a, const auto& b) {
        return render_normalized_expression(a) < render_normalized_expression(b);
    });
    std::vector<Expression> kept;
    for (Expression& e : operands) {
        if (kept.empty() || !(kept.back() == e)) kept.push_back(std::move(e));
    }
    if (op == BinaryOp::And || op == BinaryOp::Or) {
        bool is_and = op == BinaryOp::And;
        std::vector<bool> removed(kept.size(), false);
        for (size_t i = 0; i < kept.size(); ++i) {
            if (removed[i]) continue;
            for (size_t j = i + 1; j < kept.size(); ++j) {
                if (removed[j]) continue;
                if (absorb_operand(kept[i], kept[j], is_and)) {
                    removed[j] = true;
                } else if (absorb_operand(kept[j], kept[i], is_and)) {
                    removed[i] = true;
                    break;
                }
            }
        }
        std::vector<Expression> rest;
        for (size_t i = 0; i < kept.size(); ++i) {
            if (!removed[i]) rest.push_back(std::move(kept[i]));
        }
        kept = std::move(rest);
    }
    Expression chain = kept[0];
    for (size_t i = 1; i < kept.size(); ++i)
        chain = bin(op, chain, kept[i]);
    return chain;
}

Expression random_tree(std::mt19937& rng, int depth) {
    const char* names[] = {"a", "b", "c", "ab"};
    if (depth == 0 || rng() % 4 == 0) return var(names[rng() % 4]);
    const BinaryOp ops[] = {BinaryOp::And, BinaryOp::Or, BinaryOp::Plus, BinaryOp::Minus};
    BinaryOp op = ops[rng() % 4];
    Expression left = random_tree(rng, depth - 1);
    return bin(op, std::move(left), random_tree(rng, depth - 1));
}

TEST(Normalize, GroupPathAgreesWithTheReference) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        Expression left = normalize_expression(random_tree(rng, 4));
        Expression right = normalize_expression(random_tree(rng, 4));
        for (BinaryOp op : {BinaryOp::And, BinaryOp::Or, BinaryOp::Plus}) {
            if (op != BinaryOp::Plus) {
                // The boolean rules come first; only the group path is compared.
                if (left == right || absorb_operand(left, right, op == BinaryOp::And) ||
                    absorb_operand(right, left, op == BinaryOp::And)) {
                    continue;
                }
            }
            Expression expected = reference_group(op, left, right);
            Expression actual = normalize_binary(op, left, right);
            ASSERT_EQ(render_normalized_expression(actual), render_normalized_expression(expected))
                << expression_text(left) << " / " << expression_text(right);
        }
    }
}

// ---- Depth ----

// One level of every compound variant in turn, each over the deeper tree and small leaves.
Expression wrap(int level, Expression inner) {
    std::string name = "v" + std::to_string(level);
    switch (level % 11) {
    case 0:
        return op_and(std::move(inner), var(name));
    case 1:
        return op_or(var(name), std::move(inner));
    case 2:
        return op_not(std::move(inner));
    case 3:
        return Expression::unary(UnaryOp::Negate, std::move(inner));
    case 4:
        return expr::Cast{Box(std::move(inner)), "T"};
    case 5:
        return Expression::quantifier(Quantifier::ForAll, "f", var("flows"), std::move(inner));
    case 6:
        return Expression::aggregation(AggregateFunction::Sum, std::move(inner), "q", var(name));
    case 7:
        return expr::AggregationComprehension{AggregateFunction::Avg,
                                              "f",
                                              Box(var("flows")),
                                              WindowSpec{1, "days"},
                                              Box(lit(true)),
                                              Box(std::move(inner)),
                                              std::nullopt};
    case 8:
        return expr::GroupBy{"g", Box(var("c")), std::nullopt, Box(var("k")),
                             Box(std::move(inner))};
    case 9:
        return bin(BinaryOp::Plus, var(name), std::move(inner));
    default:
        return bin(BinaryOp::Minus, std::move(inner), var(name));
    }
}

TEST(Normalize, AMillionLevelsNeedNoThreadStack) {
    constexpr int kDepth = 1'000'000;
    Expression tree = var("x");
    for (int level = 0; level < kDepth; ++level)
        tree = wrap(level, std::move(tree));

    NormalizedExpression normal(tree);
    EXPECT_EQ(normal.expression(), normal.expression());
    EXPECT_EQ(NormalizedExpression(normal.expression()), normal);
    std::string key = render_normalized_expression(normal.expression());
    EXPECT_EQ(key.rfind("Bin(And, Bin(Minus, Bin(Plus, Group(", 0), 0u) << key.substr(0, 40);
    EXPECT_GT(expression_text(normal.expression()).size(), size_t(kDepth));
    Expression copy = normal.expression();
    EXPECT_EQ(compare_normalized_keys(copy, normal.expression()), 0);
}

TEST(Normalize, DeepJsonLiterals) {
    json::Value value = json::Value::from_u64(1);
    for (int level = 0; level < 200'000; ++level) {
        json::Array items;
        items.push_back(std::move(value));
        value = json::Value(std::move(items));
    }
    Expression deep = lit(std::move(value));
    NormalizedExpression normal(deep);
    EXPECT_EQ(normal.expression(), deep);
    EXPECT_EQ(render_normalized_expression(deep).size(), 200'000 * 2 + 6);
    EXPECT_EQ(expression_text(deep).size(), 200'000 * 2 + 1);
}

TEST(Normalize, LongCommutativeChains) {
    constexpr int kLength = 2'000;
    Expression chain = var("x");
    std::mt19937 rng(7);
    for (int i = 0; i < kLength; ++i) {
        chain = op_and(std::move(chain), var("v" + std::to_string(rng() % 100'000)));
    }
    std::vector<Expression> operands =
        flatten_binary_chain(BinaryOp::And, normalize_expression(chain));
    EXPECT_TRUE(std::is_sorted(operands.begin(), operands.end(), [](const auto& a, const auto& b) {
        return compare_normalized_keys(a, b) < 0;
    }));
    EXPECT_TRUE(std::adjacent_find(operands.begin(), operands.end()) == operands.end());
}

} // namespace
} // namespace vok
