// Box and Expression; see expression.h. Copying and comparing recurse through with_stack_room;
// destruction beyond a small depth moves children onto a work list instead of recursing.
#include "expression/expression.h"

#include "common/deep_recursion.h"

namespace vok {

Box::Box(Expression e) : p_(std::make_unique<Expression>(std::move(e))) {}

Box::Box(const Box& other)
    : p_(with_stack_room([&] { return std::make_unique<Expression>(*other.p_); })) {}

Box& Box::operator=(const Box& other) {
    if (this != &other) *this = Box(other);
    return *this;
}

bool operator==(const Box& a, const Box& b) {
    return with_stack_room([&] { return *a.p_ == *b.p_; });
}

namespace {

void take(Box& box, std::vector<std::unique_ptr<Expression>>& out) {
    if (auto p = box.release()) out.push_back(std::move(p));
}

void take(OptBox& box, std::vector<std::unique_ptr<Expression>>& out) {
    if (box) take(*box, out);
}

} // namespace

void Expression::take_children(std::vector<std::unique_ptr<Expression>>& out) {
    std::visit(
        [&](auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::GroupBy>) {
                take(n.collection, out), take(n.filter, out), take(n.key, out);
                take(n.condition, out);
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                take(n.left, out), take(n.right, out);
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                take(n.operand, out);
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                take(n.operand, out);
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                take(n.collection, out), take(n.condition, out);
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                take(n.collection, out), take(n.filter, out);
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                take(n.collection, out), take(n.predicate, out), take(n.projection, out);
            }
        },
        node_);
}

namespace {

// Trees up to this depth are destroyed by plain recursion (no allocation); deeper ones are taken
// apart from an explicit list so that any depth uses a constant amount of stack.
constexpr int kRecursiveDestroyDepth = 256;
thread_local int t_destroy_depth = 0;
thread_local size_t t_nodes_destroyed = 0;

} // namespace

size_t expression_nodes_destroyed() noexcept {
    return t_nodes_destroyed;
}

bool is_literal_true(const Expression& e) {
    const auto* literal = e.get_if<expr::Literal>();
    return literal != nullptr && literal->value.is_bool() && literal->value.as_bool();
}

Expression::~Expression() {
    ++t_nodes_destroyed;
    std::vector<std::unique_ptr<Expression>> pending;
    if (t_destroy_depth < kRecursiveDestroyDepth) {
        // Children are released here, while the depth counter covers them.
        ++t_destroy_depth;
        std::visit(
            [](auto& n) {
                using T = std::decay_t<decltype(n)>;
                if constexpr (std::is_same_v<T, expr::GroupBy>) {
                    n.collection.reset(), n.filter.reset(), n.key.reset(), n.condition.reset();
                } else if constexpr (std::is_same_v<T, expr::Binary>) {
                    n.left.reset(), n.right.reset();
                } else if constexpr (std::is_same_v<T, expr::Unary> ||
                                     std::is_same_v<T, expr::Cast>) {
                    n.operand.reset();
                } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                    n.collection.reset(), n.condition.reset();
                } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                    n.collection.reset(), n.filter.reset();
                } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                    n.collection.reset(), n.predicate.reset(), n.projection.reset();
                }
            },
            node_);
        --t_destroy_depth;
        return;
    }
    take_children(pending);
    while (!pending.empty()) {
        std::unique_ptr<Expression> e = std::move(pending.back());
        pending.pop_back();
        e->take_children(pending);
    }
}

Expression Expression::binary(BinaryOp op, Expression left, Expression right) {
    return expr::Binary{op, Box(std::move(left)), Box(std::move(right))};
}

Expression Expression::unary(UnaryOp op, Expression operand) {
    return expr::Unary{op, Box(std::move(operand))};
}

Expression Expression::quantifier(Quantifier q, std::string variable, Expression collection,
                                  Expression condition) {
    return expr::Quantifier{q, std::move(variable), Box(std::move(collection)),
                            Box(std::move(condition))};
}

Expression Expression::aggregation(AggregateFunction function, Expression collection,
                                   std::optional<std::string> field,
                                   std::optional<Expression> filter) {
    OptBox filter_box;
    if (filter) filter_box.emplace(std::move(*filter));
    return expr::Aggregation{function, Box(std::move(collection)), std::move(field),
                             std::move(filter_box)};
}

} // namespace vok
