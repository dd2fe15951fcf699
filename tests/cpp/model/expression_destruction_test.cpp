// Destroying expression trees of any depth and shape needs no memory (a destructor that throws
// where memory has run out ends the process), and counts the boxed nodes it frees.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <utility>

#include "expression/expression.h"
#include "failing_allocations.h"

namespace vok {
namespace {

Expression var(const char* name) {
    return Expression::variable(name);
}

// A chain `depth` deep down the first slot of every variant that has children, with a second
// subtree hanging off each level: every kind of slot (Box and OptBox, first and later) is
// taken apart. Returns the tree and its count of boxed nodes.
std::pair<Expression, size_t> mixed_tree(int depth) {
    Expression e = var("x");
    size_t boxed = 0;
    for (int i = 0; i < depth; ++i) {
        switch (i % 6) {
        case 0:
            e = Expression::unary(UnaryOp::Not, std::move(e));
            boxed += 1;
            break;
        case 1:
            e = Expression::binary(BinaryOp::And, std::move(e),
                                   Expression::binary(BinaryOp::Or, var("a"), var("b")));
            boxed += 4;
            break;
        case 2:
            e = Expression::binary(BinaryOp::Plus, var("c"), std::move(e));
            boxed += 2;
            break;
        case 3:
            e = Expression::quantifier(Quantifier::ForAll, "f", std::move(e),
                                       Expression::unary(UnaryOp::Not, var("d")));
            boxed += 3;
            break;
        case 4:
            e = expr::GroupBy{"g", Box(var("items")), Box(std::move(e)), Box(var("k")),
                              Box(var("cond"))};
            boxed += 4;
            break;
        default:
            e = expr::Aggregation{AggregateFunction::Count, Box(std::move(e)), std::nullopt,
                                  Box(Expression::unary(UnaryOp::Not, var("z")))};
            boxed += 3;
            break;
        }
    }
    return {std::move(e), boxed};
}

TEST(ExpressionDestruction, NeedsNoMemoryAndCountsWhatItFrees) {
    for (const int depth : {1, 7, 300, 120'000}) {
        auto [tree, boxed] = mixed_tree(depth);
        auto owned = std::make_unique<Expression>(std::move(tree));
        const size_t before = expression_nodes_destroyed();
        {
            const AllocationsFail failing;
            owned.reset();
        }
        EXPECT_EQ(expression_nodes_destroyed() - before, boxed) << depth;
    }
}

TEST(ExpressionDestruction, ALongChainOnTheSecondSlotToo) {
    Expression e = var("x");
    for (int i = 0; i < 200'000; ++i)
        e = Expression::binary(BinaryOp::Plus, var("a"), std::move(e));
    auto owned = std::make_unique<Expression>(std::move(e));
    const AllocationsFail failing;
    owned.reset();
}

} // namespace
} // namespace vok
