// Box and Expression; see expression.h. Copying and comparing recurse through with_stack_room;
// destruction beyond a small depth moves children onto a work list instead of recursing.
#include "expression/expression.h"

#include "common/deep_recursion.h"

namespace vok {

Box::Box(Expression&& e) : p_(std::make_unique<Expression>(std::move(e))) {}

Box::Box(const Expression& e)
    : p_(with_stack_room([&] { return std::make_unique<Expression>(e); })) {}

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

// Calls `f` with each child slot of a node (a Box, or an OptBox for an optional child).
template <class T, class F> void for_each_child_slot(T& n, F&& f) {
    if constexpr (std::is_same_v<T, expr::GroupBy>) {
        f(n.collection), f(n.filter), f(n.key), f(n.condition);
    } else if constexpr (std::is_same_v<T, expr::Binary>) {
        f(n.left), f(n.right);
    } else if constexpr (std::is_same_v<T, expr::Unary> || std::is_same_v<T, expr::Cast>) {
        f(n.operand);
    } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
        f(n.collection), f(n.condition);
    } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
        f(n.collection), f(n.filter);
    } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
        f(n.collection), f(n.predicate), f(n.projection);
    }
}

Box* box_in(Box& slot) {
    return &slot;
}
Box* box_in(OptBox& slot) {
    return slot ? &*slot : nullptr;
}

} // namespace

void Expression::take_children(std::vector<std::unique_ptr<Expression>>& out) {
    std::visit(
        [&](auto& n) {
            for_each_child_slot(n, [&](auto& slot) {
                Box* box = box_in(slot);
                if (box == nullptr) return;
                if (auto p = box->release()) out.push_back(std::move(p));
            });
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

namespace {

// The variants that hold no child box.
constexpr uint32_t kLeafKinds = 1u << static_cast<int>(ExpressionKind::Literal) |
                                1u << static_cast<int>(ExpressionKind::QuantityLiteral) |
                                1u << static_cast<int>(ExpressionKind::TimeLiteral) |
                                1u << static_cast<int>(ExpressionKind::IntervalLiteral) |
                                1u << static_cast<int>(ExpressionKind::Variable) |
                                1u << static_cast<int>(ExpressionKind::MemberAccess);

} // namespace

Expression::~Expression() {
    // Leaves own nothing below them, and neither do the shells a move leaves behind: most
    // expressions destroyed while a tree is being built are one or the other.
    // (A node left valueless by a failed copy owns nothing either.)
    const size_t kind = node_.index();
    if (kind >= 32 || ((kLeafKinds >> kind) & 1u) != 0) return;
    const bool done = std::visit(
        [](auto& n) {
            bool owning = false;
            for_each_child_slot(n, [&](auto& slot) {
                const Box* box = box_in(slot);
                owning = owning || (box != nullptr && box->get() != nullptr);
            });
            if (!owning) return true;
            if (t_destroy_depth >= kRecursiveDestroyDepth) return false;
            // Children are released here, while the depth counter covers them.
            ++t_destroy_depth;
            size_t released = 0;
            for_each_child_slot(n, [&](auto& slot) {
                Box* box = box_in(slot);
                if (box != nullptr && box->get() != nullptr) ++released, box->reset();
            });
            --t_destroy_depth;
            t_nodes_destroyed += released;
            return true;
        },
        node_);
    if (done) return;
    // Too deep to recurse further: the rest of the tree is taken apart from a work list.
    std::vector<std::unique_ptr<Expression>> pending;
    take_children(pending);
    while (!pending.empty()) {
        std::unique_ptr<Expression> e = std::move(pending.back());
        pending.pop_back();
        ++t_nodes_destroyed;
        e->take_children(pending);
    }
}

Expression Expression::binary(BinaryOp op, Expression&& left, Expression&& right) {
    return expr::Binary{op, Box(std::move(left)), Box(std::move(right))};
}

Expression Expression::unary(UnaryOp op, Expression&& operand) {
    return expr::Unary{op, Box(std::move(operand))};
}

Expression Expression::quantifier(Quantifier q, std::string variable, Expression&& collection,
                                  Expression&& condition) {
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
