// Destroying expression trees of any depth and shape needs no memory (a destructor that throws
// where memory has run out ends the process), and counts the boxed nodes it frees.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
        // Copies (Python code gets one of every operand it passes) lie in memory in another
        // order than trees built bottom-up; they are freed alike.
        auto copy = std::make_unique<Expression>(tree);
        auto owned = std::make_unique<Expression>(std::move(tree));
        for (auto* shape : {&owned, &copy}) {
            const size_t before = expression_nodes_destroyed();
            {
                const AllocationsFail failing;
                shape->reset();
            }
            EXPECT_EQ(expression_nodes_destroyed() - before, boxed) << depth;
        }
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

// Shapes that keep many subtrees waiting at once: a chain down either side whose other operand at
// each level has children of its own (one of the two sides keeps every level's operand waiting,
// whichever child the destructor takes apart first), or trees that branch widely at every level.
// Those past the destructor's own short list are taken apart by pointer reversal, still without
// memory, and every node is counted.
TEST(ExpressionDestruction, ShapesThatKeepManySubtreesWaiting) {
    const auto small = [] { return Expression::unary(UnaryOp::Not, var("s")); };
    std::vector<std::pair<Expression, size_t>> shapes;
    for (const bool operand_first : {true, false}) {
        Expression chain = var("x");
        size_t boxed = 0;
        for (int i = 0; i < 100'000; ++i) {
            chain = operand_first ? Expression::binary(BinaryOp::And, small(), std::move(chain))
                                  : Expression::binary(BinaryOp::And, std::move(chain), small());
            boxed += 3;
        }
        shapes.emplace_back(std::move(chain), boxed);
    }
    // The wide trees go on down GroupBy's last slot, or down its first with deep branches in all
    // the later ones (the optional filter among them).
    const auto branch = [&] {
        Expression e = small();
        for (int j = 0; j < 200; ++j)
            e = Expression::unary(UnaryOp::Not, std::move(e));
        return e;
    };
    Expression wide = var("x");
    size_t wide_boxed = 0;
    Expression wide_first = var("x");
    size_t wide_first_boxed = 0;
    for (int i = 0; i < 300; ++i) {
        wide = expr::GroupBy{"g", Box(small()), Box(branch()), Box(small()), Box(std::move(wide))};
        wide_boxed += 2 + 202 + 2 + 1;
        wide_first = expr::GroupBy{"g", Box(std::move(wide_first)), Box(branch()), Box(branch()),
                                   Box(branch())};
        wide_first_boxed += 1 + 3 * 202;
    }
    shapes.emplace_back(std::move(wide), wide_boxed);
    shapes.emplace_back(std::move(wide_first), wide_first_boxed);
    for (auto& [shape, boxed] : shapes) {
        auto owned = std::make_unique<Expression>(std::move(shape));
        const size_t before = expression_nodes_destroyed();
        {
            const AllocationsFail failing;
            owned.reset();
        }
        EXPECT_EQ(expression_nodes_destroyed() - before, boxed);
    }
}

// A node left valueless (its variant's emplace threw) owns nothing. Wherever it sits (the next
// node taken apart, a later child freed with its parent, inside a subtree that waits or that
// pointer reversal takes apart), it is freed and counted like a leaf.
TEST(ExpressionDestruction, ValuelessNodesAnywhere) {
    const expr::Variable long_name{std::string(100, 'n')};
    const auto valueless = [&] {
        Expression e = var("v");
        t_fail_next_allocation = true;
        EXPECT_THROW(e.node().emplace<expr::Variable>(long_name), std::bad_alloc);
        EXPECT_TRUE(e.node().valueless_by_exception());
        return e;
    };
    for (const bool operand_first : {true, false}) {
        Expression chain = valueless();
        size_t boxed = 0;
        for (int i = 0; i < 200; ++i) {
            Expression operand =
                i % 2 == 0 ? valueless() : Expression::unary(UnaryOp::Not, valueless());
            boxed += i % 2 == 0 ? 2 : 3;
            chain = operand_first
                        ? Expression::binary(BinaryOp::Or, std::move(operand), std::move(chain))
                        : Expression::binary(BinaryOp::Or, std::move(chain), std::move(operand));
        }
        auto owned = std::make_unique<Expression>(std::move(chain));
        const size_t before = expression_nodes_destroyed();
        {
            const AllocationsFail failing;
            owned.reset();
        }
        EXPECT_EQ(expression_nodes_destroyed() - before, boxed) << operand_first;
    }
}

} // namespace
} // namespace vok
