// The normalisation walk and the rules for binary nodes; see normalize.h.
//
// Bottom-up normalisation meets every prefix of a long chain once, and the group path flattens,
// sorts and rebuilds the chain each time. Three shortcuts keep that affordable without changing
// any result: operands are moved, in the boxes they live in, out of the trees that
// normalize_binary owns instead of copied; when both halves of the operand list are already in key
// order (as the left half is when an earlier normalisation built it) they are merged
// instead of sorted, which is what a stable sort would produce; and the pairwise absorption only
// tries pairs in which the operand that would absorb is the dual operator, the only pairs where it
// can apply.
#include "policy/normalize.h"

#include <algorithm>
#include <utility>

#include "common/deep_recursion.h"
#include "policy/normalize_key.h"
#include "json/value.h"

namespace vok {

namespace {

bool is_comparison(BinaryOp op) {
    switch (op) {
    case BinaryOp::Equal:
    case BinaryOp::NotEqual:
    case BinaryOp::GreaterThan:
    case BinaryOp::LessThan:
    case BinaryOp::GreaterThanOrEqual:
    case BinaryOp::LessThanOrEqual:
        return true;
    default:
        return false;
    }
}

// The comparison that holds exactly when `op` does not.
BinaryOp complement(BinaryOp op) {
    switch (op) {
    case BinaryOp::Equal:
        return BinaryOp::NotEqual;
    case BinaryOp::NotEqual:
        return BinaryOp::Equal;
    case BinaryOp::GreaterThan:
        return BinaryOp::LessThanOrEqual;
    case BinaryOp::LessThan:
        return BinaryOp::GreaterThanOrEqual;
    case BinaryOp::GreaterThanOrEqual:
        return BinaryOp::LessThan;
    default:
        return BinaryOp::GreaterThan;
    }
}

bool is_commutative(BinaryOp op) {
    return op == BinaryOp::And || op == BinaryOp::Or || op == BinaryOp::Equal ||
           op == BinaryOp::NotEqual || op == BinaryOp::Plus || op == BinaryOp::Multiply;
}

bool is_binary_of(const Expression& e, BinaryOp op) {
    const auto* binary = e.get_if<expr::Binary>();
    return binary != nullptr && binary->op == op;
}

BinaryOp dual_of(bool is_and) {
    return is_and ? BinaryOp::Or : BinaryOp::And;
}

// Whether `y` is the dual operator over a direct operand equal to `x`.
bool absorbs(const Expression& x, const Expression& y, bool is_and) {
    const auto* binary = y.get_if<expr::Binary>();
    if (binary == nullptr || binary->op != dual_of(is_and)) return false;
    return *binary->left == x || *binary->right == x;
}

// Operands travel in the boxes they already live in: sorting and filtering move pointers, not
// nodes, and only the chain's own binary nodes are made anew.
using Operands = std::vector<Box>;

// Appends the operands of the chain of `op` in `e`, moved out of it, left to right; without
// recursion, as a chain can be as long as the tree is deep.
void flatten_owned(BinaryOp op, Box e, Operands& out) {
    Operands pending;
    pending.push_back(std::move(e));
    while (!pending.empty()) {
        Box current = std::move(pending.back());
        pending.pop_back();
        if (auto* binary = current->get_if<expr::Binary>(); binary && binary->op == op) {
            pending.push_back(std::move(binary->right));
            pending.push_back(std::move(binary->left));
        } else {
            out.push_back(std::move(current));
        }
    }
}

bool key_less(const Box& a, const Box& b) {
    return compare_normalized_keys(*a, *b) < 0;
}

// Stable order by key text; operands from the left half stay before equal ones from the right.
void sort_operands(Operands& operands, size_t split) {
    auto middle = operands.begin() + std::ptrdiff_t(split);
    if (std::is_sorted(operands.begin(), middle, key_less) &&
        std::is_sorted(middle, operands.end(), key_less)) {
        std::inplace_merge(operands.begin(), middle, operands.end(), key_less);
    } else {
        std::stable_sort(operands.begin(), operands.end(), key_less);
    }
}

// Drops every operand equal to the last one kept (only neighbours are compared).
Operands without_neighbour_duplicates(Operands operands) {
    Operands kept;
    kept.reserve(operands.size());
    for (Box& operand : operands) {
        if (!kept.empty() && *kept.back() == *operand) continue;
        kept.push_back(std::move(operand));
    }
    return kept;
}

Operands without_absorbed(Operands operands, bool is_and) {
    const size_t n = operands.size();
    std::vector<size_t> duals;
    std::vector<bool> is_dual(n, false);
    for (size_t i = 0; i < n; ++i) {
        if (is_binary_of(*operands[i], dual_of(is_and))) {
            duals.push_back(i);
            is_dual[i] = true;
        }
    }
    if (duals.empty()) return operands;

    std::vector<bool> removed(n, false);
    for (size_t i = 0; i < n; ++i) {
        if (removed[i]) continue;
        if (is_dual[i]) {
            for (size_t j = i + 1; j < n; ++j) {
                if (removed[j]) continue;
                if (absorbs(*operands[i], *operands[j], is_and)) {
                    removed[j] = true;
                } else if (absorbs(*operands[j], *operands[i], is_and)) {
                    removed[i] = true;
                    break;
                }
            }
        } else {
            // Only a dual operand can absorb operand i, and operand i absorbs nothing.
            for (size_t j : duals) {
                if (j <= i || removed[j]) continue;
                if (absorbs(*operands[i], *operands[j], is_and)) removed[j] = true;
            }
        }
    }
    Operands kept;
    kept.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (!removed[i]) kept.push_back(std::move(operands[i]));
    }
    return kept;
}

Expression group_path(BinaryOp op, Expression left, Expression right) {
    Operands operands;
    flatten_owned(op, Box(std::move(left)), operands);
    const size_t split = operands.size();
    flatten_owned(op, Box(std::move(right)), operands);

    sort_operands(operands, split);
    operands = without_neighbour_duplicates(std::move(operands));
    if (op == BinaryOp::And || op == BinaryOp::Or) {
        operands = without_absorbed(std::move(operands), op == BinaryOp::And);
    }

    Box chain = std::move(operands.front());
    for (size_t i = 1; i < operands.size(); ++i) {
        chain = Box(expr::Binary{op, std::move(chain), std::move(operands[i])});
    }
    return std::move(*chain);
}

// The And and Or rules before the group path; nothing when the group path decides.
std::optional<Expression> simplify_boolean(BinaryOp op, Expression& left, Expression& right) {
    const bool is_and = op == BinaryOp::And;
    auto is_neutral = is_and ? is_true_literal : is_false_literal;
    auto is_dominant = is_and ? is_false_literal : is_true_literal;
    if (is_neutral(left)) return std::move(right);
    if (is_neutral(right)) return std::move(left);
    if (is_dominant(left) || is_dominant(right)) {
        return Expression::literal(json::Value(!is_and));
    }
    if (left == right) return std::move(left);
    if (absorbs(left, right, is_and)) return std::move(left);
    if (absorbs(right, left, is_and)) return std::move(right);
    return std::nullopt;
}

Expression normalized(const Box& child) {
    return with_stack_room([&] { return normalize_expression(*child); });
}

OptBox normalized(const OptBox& child) {
    if (!child) return std::nullopt;
    return Box(normalized(*child));
}

Expression normalize_not(const expr::Unary& n) {
    Expression operand = normalized(n.operand);
    if (auto* inner = operand.get_if<expr::Unary>(); inner && inner->op == UnaryOp::Not) {
        return std::move(*inner->operand);
    }
    if (auto* binary = operand.get_if<expr::Binary>(); binary && is_comparison(binary->op)) {
        binary->op = complement(binary->op);
        return operand;
    }
    return Expression::unary(UnaryOp::Not, std::move(operand));
}

} // namespace

bool is_true_literal(const Expression& e) {
    const auto* literal = e.get_if<expr::Literal>();
    return literal != nullptr && literal->value.is_bool() && literal->value.as_bool();
}

bool is_false_literal(const Expression& e) {
    const auto* literal = e.get_if<expr::Literal>();
    return literal != nullptr && literal->value.is_bool() && !literal->value.as_bool();
}

std::optional<Expression> absorb_operand(const Expression& x, const Expression& y, bool is_and) {
    if (!absorbs(x, y, is_and)) return std::nullopt;
    return x;
}

std::vector<Expression> flatten_binary_chain(BinaryOp op, const Expression& e) {
    std::vector<Expression> out;
    std::vector<const Expression*> pending{&e};
    while (!pending.empty()) {
        const Expression* current = pending.back();
        pending.pop_back();
        if (const auto* binary = current->get_if<expr::Binary>(); binary && binary->op == op) {
            pending.push_back(binary->right.get());
            pending.push_back(binary->left.get());
        } else {
            out.push_back(*current);
        }
    }
    return out;
}

Expression normalize_binary(BinaryOp op, Expression left, Expression right) {
    if (op == BinaryOp::And || op == BinaryOp::Or) {
        if (auto simplified = simplify_boolean(op, left, right)) return std::move(*simplified);
    }
    if (!is_commutative(op)) return Expression::binary(op, std::move(left), std::move(right));
    return group_path(op, std::move(left), std::move(right));
}

Expression normalize_expression(const Expression& e) {
    return std::visit(
        [&](const auto& n) -> Expression {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::GroupBy>) {
                Expression collection = normalized(n.collection);
                OptBox filter = normalized(n.filter);
                Expression key = normalized(n.key);
                Expression condition = normalized(n.condition);
                return expr::GroupBy{n.variable, Box(std::move(collection)), std::move(filter),
                                     Box(std::move(key)), Box(std::move(condition))};
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                Expression left = normalized(n.left);
                Expression right = normalized(n.right);
                return normalize_binary(n.op, std::move(left), std::move(right));
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                if (n.op == UnaryOp::Not) return normalize_not(n);
                return Expression::unary(n.op, normalized(n.operand));
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                return expr::Cast{Box(normalized(n.operand)), n.target_type};
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                Expression collection = normalized(n.collection);
                Expression condition = normalized(n.condition);
                return Expression::quantifier(n.quantifier, n.variable, std::move(collection),
                                              std::move(condition));
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                Expression collection = normalized(n.collection);
                return expr::Aggregation{n.function, Box(std::move(collection)), n.field,
                                         normalized(n.filter)};
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                Expression collection = normalized(n.collection);
                Expression predicate = normalized(n.predicate);
                Expression projection = normalized(n.projection);
                return expr::AggregationComprehension{n.function,
                                                      n.variable,
                                                      Box(std::move(collection)),
                                                      n.window,
                                                      Box(std::move(predicate)),
                                                      Box(std::move(projection)),
                                                      n.target_unit};
            } else {
                // Literals, variables and member accesses are kept as they are.
                return n;
            }
        },
        e.node());
}

} // namespace vok
