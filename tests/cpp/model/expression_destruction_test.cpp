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

// Shapes that keep many subtrees waiting at once (each level's second subtree waits while the
// chain goes on, or a tree branches widely): those past the destructor's own short list are
// taken apart by pointer reversal, still without memory, and every node is counted.
TEST(ExpressionDestruction, ShapesThatKeepManySubtreesWaiting) {
    const auto small = [] { return Expression::unary(UnaryOp::Not, var("s")); };
    Expression right_chain = var("x");
    size_t right_boxed = 0;
    for (int i = 0; i < 100'000; ++i) {
        right_chain = Expression::binary(BinaryOp::And, small(), std::move(right_chain));
        right_boxed += 3;
    }
    Expression wide = var("x");
    size_t wide_boxed = 0;
    for (int i = 0; i < 300; ++i) {
        Expression branch = small();
        for (int j = 0; j < 200; ++j)
            branch = Expression::unary(UnaryOp::Not, std::move(branch));
        wide = expr::GroupBy{"g", Box(small()), Box(std::move(branch)), Box(small()),
                             Box(std::move(wide))};
        wide_boxed += 2 + 202 + 2 + 1;
    }
    for (auto* shape : {&right_chain, &wide}) {
        const size_t boxed = shape == &right_chain ? right_boxed : wide_boxed;
        auto owned = std::make_unique<Expression>(std::move(*shape));
        const size_t before = expression_nodes_destroyed();
        {
            const AllocationsFail failing;
            owned.reset();
        }
        EXPECT_EQ(expression_nodes_destroyed() - before, boxed);
    }
}

} // namespace
} // namespace vok
