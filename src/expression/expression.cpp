// Box and Expression; see expression.h. Copying and comparing recurse through with_stack_room;
// destruction takes trees apart in place, without recursing or allocating.
#include "expression/expression.h"

#include <atomic>
#include <type_traits>

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

namespace {

// Boxed nodes destroyed so far, by every thread (no thread-local storage: a Python object may be
// freed on a thread that never ran the module's code). Added to without a locked instruction, as
// often as trees are destroyed: two threads adding at once may lose one's count, which only
// makes the estimate it feeds a little low.
std::atomic<size_t> g_nodes_destroyed{0};

void count_destroyed(size_t nodes) {
    if (nodes == 0) return;
    g_nodes_destroyed.store(g_nodes_destroyed.load(std::memory_order_relaxed) + nodes,
                            std::memory_order_relaxed);
}

// The variants that hold no child box.
constexpr uint32_t kLeafKinds = 1u << static_cast<int>(ExpressionKind::Literal) |
                                1u << static_cast<int>(ExpressionKind::QuantityLiteral) |
                                1u << static_cast<int>(ExpressionKind::TimeLiteral) |
                                1u << static_cast<int>(ExpressionKind::IntervalLiteral) |
                                1u << static_cast<int>(ExpressionKind::Variable) |
                                1u << static_cast<int>(ExpressionKind::MemberAccess);

bool is_leaf_kind(size_t kind) {
    return kind >= 32 || ((kLeafKinds >> kind) & 1u) != 0;
}

// Calls `f(box, leaf)` for each child slot of a node that holds a node, in slot order; `leaf` says
// whether that node is of a variant that holds no child box.
template <class F> void for_each_child(Expression& e, F&& f) {
    std::visit(
        [&](auto& n) {
            for_each_child_slot(n, [&](auto& slot) {
                Box* box = box_in(slot);
                if (box != nullptr && box->get() != nullptr)
                    f(*box, is_leaf_kind(box->get()->node().index()));
            });
        },
        e.node());
}

// Frees the children of a node that hold no child box (mostly leaves) and returns the first slot
// that holds a node which may have children, or nullptr.
Box* free_leaf_children(Expression& e, size_t& destroyed) {
    Box* found = nullptr;
    for_each_child(e, [&](Box& box, bool leaf) {
        if (leaf) {
            box.reset();
            ++destroyed;
        } else if (found == nullptr) {
            found = &box;
        }
    });
    return found;
}

// The first child slot of a node with children. Slots are visited in a fixed order whose first
// slot is always a Box (collection, left, operand): pointer reversal keeps the chain of nodes it
// has yet to finish there.
Box& first_slot(Expression& e) {
    Box* slot = nullptr;
    std::visit(
        [&](auto& n) {
            for_each_child_slot(n, [&](auto& s) {
                if constexpr (std::is_same_v<std::remove_cvref_t<decltype(s)>, Box>) {
                    if (slot == nullptr) slot = &s;
                }
            });
        },
        e.node());
    return *slot;
}

// Takes a tree apart by pointer reversal: the nodes whose children are still to be destroyed form
// a chain through their first slot. A node joins it only once its children before the one being
// taken apart are gone, so that slot is free. Nothing is allocated, whatever the tree's shape, but
// each node is reached again after each of its subtrees, which costs a cache miss apiece on a
// large tree.
void dismantle_by_reversal(std::unique_ptr<Expression> current, size_t& destroyed) noexcept {
    std::unique_ptr<Expression> waiting;
    while (current != nullptr) {
        if (Box* child = free_leaf_children(*current, destroyed)) {
            std::unique_ptr<Expression> next = child->release();
            first_slot(*current).adopt(std::move(waiting));
            waiting = std::move(current);
            current = std::move(next);
            continue;
        }
        current.reset(); // childless now: nothing below it to destroy
        ++destroyed;
        if (waiting == nullptr) break;
        current = std::move(waiting);
        waiting = first_slot(*current).release();
    }
}

// How many subtrees may wait at once in the destructor's own list.
constexpr size_t kWaitingTrees = 64;
// The most child slots a variant has (GroupBy's).
constexpr size_t kMostChildren = 4;

} // namespace

size_t expression_nodes_destroyed() noexcept {
    return g_nodes_destroyed.load(std::memory_order_relaxed);
}

bool is_literal_true(const Expression& e) {
    const auto* literal = e.get_if<expr::Literal>();
    return literal != nullptr && literal->value.is_bool() && literal->value.as_bool();
}

Expression::~Expression() {
    // Leaves own nothing below them, and neither do the shells a move leaves behind: most
    // expressions destroyed while a tree is being built are one or the other.
    // (A node left valueless by a failed copy owns nothing either.)
    if (!is_leaf_kind(node_.index())) dismantle();
}

void Expression::dismantle() noexcept {
    // Each node is freed as soon as its children are out: its leaves right after it, its other
    // children put on a list of their own first. So each node is reached once, as fast as by
    // recursion, without recursing or allocating. The list is a small array, which holds every
    // subtree still waiting for common shapes (chains, balanced trees) of any size; a subtree that
    // finds it full is taken apart by pointer reversal instead.
    Expression* waiting[kWaitingTrees];
    size_t count = 0;
    size_t destroyed = 0;
    // A node is freed before its leaves, in the order the nodes were made, which spares malloc
    // work when it merges free neighbours.
    Expression* leaves[kMostChildren];
    size_t leaf_count = 0;
    const auto take_children = [&](Expression& e) {
        for_each_child(e, [&](Box& box, bool leaf) {
            if (leaf) {
                leaves[leaf_count++] = box.release().release();
            } else if (count < kWaitingTrees) {
                waiting[count++] = box.release().release();
            } else {
                dismantle_by_reversal(box.release(), destroyed);
            }
        });
    };
    const auto free_leaves = [&] {
        destroyed += leaf_count;
        while (leaf_count > 0)
            delete leaves[--leaf_count];
    };
    take_children(*this);
    free_leaves();
    while (count > 0) {
        std::unique_ptr<Expression> tree(waiting[--count]);
        take_children(*tree);
        tree.reset(); // childless now
        ++destroyed;
        free_leaves();
    }
    count_destroyed(destroyed);
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
