// Destroying large expression trees: the destructor against the recursive teardown it replaced.
//
// usage: expression_teardown_bench [NODES [ROUNDS]]   (defaults 1,000,000 and 5)
// Three shapes of about NODES nodes each: the left-leaning chain `a + a + ... + a` (what parsing a
// long operator chain gives), a balanced binary tree built from its leaves up, and the balanced
// tree Python code builds by `t = Expression.binary(op, t, t)` over and over, each step copying
// the tree twice, so that its nodes lie in memory in the order a copy allocates them. Each round
// builds the tree afresh, the same way for both teardowns, and times only its destruction; the
// two teardowns alternate, so that both meet the machine in the same state. The reference
// releases children depth-first by recursion down to 256 levels and from a growing work list
// below that, as trees were destroyed before destruction had to work without allocating; it is
// the figure to stay close to.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <variant>
#include <vector>

#include "bench_support.h"
#include "expression/expression.h"

namespace {

using vok::Box;
using vok::Expression;
using vok::OptBox;

// Each shape's builder returns the tree and sets `made` to its number of nodes.
Expression chain(long nodes, long& made) {
    Expression tree = Expression::variable("a");
    made = 1;
    for (; made + 2 <= nodes; made += 2)
        tree = Expression::binary(vok::BinaryOp::Plus, std::move(tree), Expression::variable("a"));
    return tree;
}

Expression balanced(long nodes, long& made) {
    std::vector<Expression> level;
    for (long i = 0; i < (nodes + 1) / 2; ++i)
        level.push_back(Expression::variable("a"));
    made = static_cast<long>(level.size());
    while (level.size() > 1) {
        std::vector<Expression> next;
        for (size_t i = 0; i + 1 < level.size(); i += 2)
            next.push_back(Expression::binary(vok::BinaryOp::And, std::move(level[i]),
                                              std::move(level[i + 1])));
        if (level.size() % 2 == 1) next.push_back(std::move(level.back()));
        made += static_cast<long>(level.size() / 2);
        level = std::move(next);
    }
    return std::move(level.front());
}

// Doubles as often as brings the count nearest to `nodes` (2^20 - 1 for a million).
Expression doubled(long nodes, long& made) {
    Expression tree = Expression::variable("a");
    made = 1;
    while (2 * made + 1 - nodes < nodes - made) {
        const Expression& operand = tree;
        tree = Expression::binary(vok::BinaryOp::Plus, Expression(operand), Expression(operand));
        made = 2 * made + 1;
    }
    return tree;
}

// Calls `f` with every child of `e`, moved out, in slot order (the shapes here have no others).
template <class F> void release_children(Expression& e, F&& f) {
    auto take = [&](Box& slot) {
        if (slot.get() != nullptr) f(slot.release());
    };
    std::visit(
        [&](auto& n) {
            using T = std::remove_cvref_t<decltype(n)>;
            if constexpr (std::is_same_v<T, vok::expr::Binary>) {
                take(n.left), take(n.right);
            } else if constexpr (std::is_same_v<T, vok::expr::Unary>) {
                take(n.operand);
            }
        },
        e.node());
}

void recursive_teardown(std::unique_ptr<Expression> e, int depth) {
    if (depth < 256) {
        release_children(*e, [&](std::unique_ptr<Expression> child) {
            recursive_teardown(std::move(child), depth + 1);
        });
        return;
    }
    std::vector<std::unique_ptr<Expression>> pending;
    auto push = [&](std::unique_ptr<Expression> child) { pending.push_back(std::move(child)); };
    release_children(*e, push);
    e.reset();
    while (!pending.empty()) {
        std::unique_ptr<Expression> next = std::move(pending.back());
        pending.pop_back();
        release_children(*next, push);
    }
}

using Build = Expression (*)(long, long&);

double time_teardown(Build build, long nodes, bool reference, long& made) {
    auto tree = std::make_unique<Expression>(build(nodes, made));
    const auto start = std::chrono::steady_clock::now();
    if (reference) {
        recursive_teardown(std::move(tree), 0);
    } else {
        tree.reset();
    }
    return bench::seconds_since(start);
}

} // namespace

int main(int argc, char** argv) {
    const long nodes = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    struct Shape {
        const char* name;
        Build build;
    };
    for (const Shape& shape :
         {Shape{"chain", chain}, Shape{"balanced", balanced}, Shape{"doubled", doubled}}) {
        double destructor = 1e9, reference = 1e9;
        long made = 0;
        for (int round = 0; round < rounds; ++round) {
            destructor = std::min(destructor, time_teardown(shape.build, nodes, false, made));
            reference = std::min(reference, time_teardown(shape.build, nodes, true, made));
        }
        std::printf("%-8s %ld nodes: destructor %.1f ms, recursive teardown %.1f ms (%.2fx)\n",
                    shape.name, made, destructor * 1e3, reference * 1e3, destructor / reference);
    }
    return 0;
}
