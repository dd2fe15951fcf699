// Box and Expression; see expression.h. Copying and comparing recurse through with_stack_room;
// destruction takes trees apart in place, without recursing or allocating.
#include "expression/expression.h"

#include <atomic>
#include <memory>
#include <new>
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

// Calls `f(box)` for each child slot of a node that holds a node, in slot order. A node of a leaf
// variant (or one left valueless, which std::visit would throw on) has none.
template <class F> void for_each_child(Expression& e, F&& f) {
    if (is_leaf_kind(e.node().index())) return;
    std::visit(
        [&](auto& n) {
            for_each_child_slot(n, [&](auto& slot) {
                Box* box = box_in(slot);
                if (box != nullptr && box->get() != nullptr) f(*box);
            });
        },
        e.node());
}

// Frees a node that holds no child any more. Its destructor would only look for children again,
// which adds much of what freeing the node costs; the node's value is destroyed and its memory
// handed back directly instead, as `delete` would.
void free_node(Expression* e) noexcept {
    static_assert(sizeof(Expression) == sizeof(Expression::Node),
                  "an Expression holds nothing but its node");
    static_assert(alignof(Expression) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    std::destroy_at(&e->node());
    ::operator delete(e);
}

// Frees the children of a node that hold no child box (mostly leaves) and returns the first slot
// that holds a node which may have children, or nullptr.
Box* free_leaf_children(Expression& e, size_t& destroyed) {
    Box* found = nullptr;
    for_each_child(e, [&](Box& box) {
        if (is_leaf_kind(box->node().index())) {
            free_node(box.release().release());
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
        free_node(current.release()); // childless now: nothing below it to destroy
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
    // Leaves own nothing below them. (A node left valueless by a failed copy owns nothing either;
    // the shells a move leaves behind find no child in dismantle() and return at once.)
    if (!is_leaf_kind(node_.index())) dismantle();
}

void Expression::dismantle() noexcept {
    // Nodes are reached in the order a copy allocates them: a node, then its first child's
    // subtree, then the others' in slot order. That walks a copied tree's memory straight
    // through, as recursion did, and the first child, which a copy puts right after its parent, is
    // taken apart next without a look beforehand. The later children wait in a small array, which
    // holds every subtree still waiting for balanced trees and chains of any size; only a chain
    // down the first slot whose other operands have children (`x == 1 or x == 2 or ...`) fills
    // it, and the operands that find it full, mostly small, are taken apart by pointer reversal
    // as they come. Each node is reached once and freed as soon as its children are out, without
    // recursing or allocating.
    Expression* waiting[kWaitingTrees];
    size_t count = 0;
    size_t destroyed = 0;
    Expression* later[kMostChildren - 1];
    size_t later_count = 0;
    // Moves the children out of a node and returns its first; the others are kept in `later`.
    const auto take_children = [&](Expression& e) {
        Expression* first = nullptr;
        for_each_child(e, [&](Box& box) {
            Expression* child = box.release().release();
            if (first == nullptr) {
                first = child;
            } else {
                // A later child may lie a whole subtree further on; its line is fetched while
                // the parent is freed.
                __builtin_prefetch(child);
                later[later_count++] = child;
            }
        });
        return first;
    };
    // Leaves among the later children are freed right after their parent: a chain `a + b + c`
    // is then freed in exactly the reverse of the order it was allocated in, and as malloc hands
    // out first what was freed last, the next chain built lies in memory as this one did. (Leaves
    // left waiting would be freed out of that order, and a program that builds and drops chains
    // again and again would find each more scattered than the last.) The others wait, the second
    // child on top.
    const auto settle_later = [&] {
        while (later_count > 0) {
            Expression* child = later[--later_count];
            if (is_leaf_kind(child->node().index())) {
                free_node(child);
                ++destroyed;
            } else if (count < kWaitingTrees) {
                waiting[count++] = child;
            } else {
                dismantle_by_reversal(std::unique_ptr<Expression>(child), destroyed);
            }
        }
    };
    Expression* next = take_children(*this);
    settle_later();
    for (;;) {
        if (next == nullptr) {
            if (count == 0) break;
            next = waiting[--count];
        }
        Expression* node = next;
        next = take_children(*node);
        free_node(node);
        ++destroyed;
        settle_later();
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
