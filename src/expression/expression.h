// Expression: the one tree type for policy conditions, metric formulas and instance field values.
//
// A tagged union of thirteen variants (their order is their identity wherever an order matters).
// Children are owned through `Box`, a pointer with value semantics: copying an expression copies
// the whole tree, comparing compares it, destroying destroys it; no child is ever shared.
//
// Trees have no depth bound (expansion over a large graph builds chains as long as the graph), so
// nothing here may recurse on the thread's stack without limit: destruction is iterative, and
// copying and comparing recurse through `with_stack_room`.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/rare_fields.h"
#include "decimal/decimal.h"
#include "json/value.h"

namespace vok {

// The operator and function sets; their rows, words included, are in expression_enums.def.
enum class UnaryOp : uint8_t {
#define VOK_UNARY_OP(Name, ...) Name,
#include "expression/expression_enums.def"
};

enum class BinaryOp : uint8_t {
#define VOK_BINARY_OP(Name, ...) Name,
#include "expression/expression_enums.def"
};

enum class Quantifier : uint8_t {
#define VOK_QUANTIFIER(Name, ...) Name,
#include "expression/expression_enums.def"
};

enum class AggregateFunction : uint8_t {
#define VOK_AGGREGATE_FUNCTION(Name, ...) Name,
#include "expression/expression_enums.def"
};

// Member names, in value order: the JSON forms use them, and the Python enumeration classes are
// expanded from the same rows.
inline constexpr std::array kUnaryOpNames = {
#define VOK_UNARY_OP(Name, ...) std::string_view(#Name),
#include "expression/expression_enums.def"
};
inline constexpr std::array kBinaryOpNames = {
#define VOK_BINARY_OP(Name, ...) std::string_view(#Name),
#include "expression/expression_enums.def"
};
inline constexpr std::array kQuantifierNames = {
#define VOK_QUANTIFIER(Name, ...) std::string_view(#Name),
#include "expression/expression_enums.def"
};
inline constexpr std::array kAggregateFunctionNames = {
#define VOK_AGGREGATE_FUNCTION(Name, ...) std::string_view(#Name),
#include "expression/expression_enums.def"
};

inline std::string_view name_of(UnaryOp op) {
    return kUnaryOpNames[static_cast<size_t>(op)];
}
inline std::string_view name_of(BinaryOp op) {
    return kBinaryOpNames[static_cast<size_t>(op)];
}
inline std::string_view name_of(Quantifier q) {
    return kQuantifierNames[static_cast<size_t>(q)];
}
inline std::string_view name_of(AggregateFunction f) {
    return kAggregateFunctionNames[static_cast<size_t>(f)];
}

// The time window of an aggregation comprehension, held as written (not checked or normalised).
struct WindowSpec {
    uint64_t duration = 0;
    std::string unit;
    friend bool operator==(const WindowSpec&, const WindowSpec&) = default;
};

class Expression;

// An owning pointer with value semantics, for child expressions. Never null once constructed
// from a value; an optional child is std::optional<Box>.
class Box {
public:
    explicit Box(Expression&& e);
    explicit Box(const Expression& e);
    Box(const Box& other);
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& other);
    Box& operator=(Box&&) noexcept = default;
    ~Box() = default;

    Expression& operator*() const { return *p_; }
    Expression* operator->() const { return p_.get(); }
    Expression* get() const { return p_.get(); }
    // Hands the tree over, or takes one back (used by the destructor, which takes trees apart).
    std::unique_ptr<Expression> release() { return std::move(p_); }
    void adopt(std::unique_ptr<Expression> tree) noexcept { p_ = std::move(tree); }
    // Destroys the tree now.
    void reset() { p_.reset(); }

    friend bool operator==(const Box& a, const Box& b);

private:
    std::unique_ptr<Expression> p_;
};

using OptBox = std::optional<Box>;

// The thirteen variants. Names live in their own namespace because the variant `Quantifier`
// shares its name with the enumeration it holds.
namespace expr {

struct Literal {
    json::Value value;
    friend bool operator==(const Literal&, const Literal&) = default;
};
struct QuantityLiteral {
    Decimal value;
    std::string unit;
    friend bool operator==(const QuantityLiteral&, const QuantityLiteral&) = default;
};
struct TimeLiteral {
    std::string timestamp;
    friend bool operator==(const TimeLiteral&, const TimeLiteral&) = default;
};
struct IntervalLiteral {
    std::string start;
    std::string end;
    friend bool operator==(const IntervalLiteral&, const IntervalLiteral&) = default;
};
struct Variable {
    std::string name;
    friend bool operator==(const Variable&, const Variable&) = default;
};
struct GroupBy {
    std::string variable;
    Box collection;
    OptBox filter;
    Box key;
    Box condition;
    friend bool operator==(const GroupBy&, const GroupBy&) = default;
};
struct Binary {
    BinaryOp op;
    Box left;
    Box right;
    friend bool operator==(const Binary&, const Binary&) = default;
};
struct Unary {
    UnaryOp op;
    Box operand;
    friend bool operator==(const Unary&, const Unary&) = default;
};
struct Cast {
    Box operand;
    std::string target_type;
    friend bool operator==(const Cast&, const Cast&) = default;
};
struct Quantifier {
    vok::Quantifier quantifier;
    std::string variable;
    Box collection;
    Box condition;
    friend bool operator==(const Quantifier&, const Quantifier&) = default;
};
struct MemberAccess {
    std::string object;
    std::string member;
    friend bool operator==(const MemberAccess&, const MemberAccess&) = default;
};
struct Aggregation {
    AggregateFunction function;
    Box collection;
    RareOptional<std::string> field;
    OptBox filter;
    friend bool operator==(const Aggregation&, const Aggregation&) = default;
};
struct AggregationComprehension {
    AggregateFunction function;
    std::string variable;
    Box collection;
    RareOptional<WindowSpec> window;
    Box predicate;
    Box projection;
    RareOptional<std::string> target_unit;
    friend bool operator==(const AggregationComprehension&,
                           const AggregationComprehension&) = default;
};

} // namespace expr

// The variants, in variant order (the order of Expression::Node, checked below).
enum class ExpressionKind : uint8_t {
#define VOK_EXPRESSION_VARIANT(Name) Name,
#include "expression/expression_enums.def"
};

inline constexpr std::array kExpressionVariantNames = {
#define VOK_EXPRESSION_VARIANT(Name) std::string_view(#Name),
#include "expression/expression_enums.def"
};

class Expression {
public:
    using Node = std::variant<expr::Literal, expr::QuantityLiteral, expr::TimeLiteral,
                              expr::IntervalLiteral, expr::Variable, expr::GroupBy, expr::Binary,
                              expr::Unary, expr::Cast, expr::Quantifier, expr::MemberAccess,
                              expr::Aggregation, expr::AggregationComprehension>;

    template <class T, class = std::enable_if_t<std::is_constructible_v<Node, T&&>>>
    Expression(T&& node) : node_(std::forward<T>(node)) {} // NOLINT: a node is an expression
    Expression(const Expression&) = default;
    Expression(Expression&&) noexcept = default;
    Expression& operator=(const Expression&) = default;
    Expression& operator=(Expression&&) noexcept = default;
    ~Expression();

    // Shorthand constructors; operands are moved into boxes of their own.
    static Expression literal(json::Value value) { return expr::Literal{std::move(value)}; }
    static Expression variable(std::string name) { return expr::Variable{std::move(name)}; }
    static Expression binary(BinaryOp op, Expression&& left, Expression&& right);
    static Expression unary(UnaryOp op, Expression&& operand);
    static Expression quantifier(Quantifier q, std::string variable, Expression&& collection,
                                 Expression&& condition);
    static Expression aggregation(AggregateFunction function, Expression collection,
                                  std::optional<std::string> field,
                                  std::optional<Expression> filter);

    ExpressionKind kind() const { return static_cast<ExpressionKind>(node_.index()); }
    std::string_view variant_name() const { return kExpressionVariantNames[node_.index()]; }
    const Node& node() const { return node_; }
    Node& node() { return node_; }
    template <class T> const T* get_if() const { return std::get_if<T>(&node_); }
    template <class T> T* get_if() { return std::get_if<T>(&node_); }

    // Structural equality; quantity values compare as numbers (1.50 equals 1.5).
    friend bool operator==(const Expression& a, const Expression& b) { return a.node_ == b.node_; }

private:
    // Destroys every node below this one without recursing or allocating.
    void dismantle() noexcept;

    Node node_;
};

// How many boxed (heap-allocated) expression nodes the process has destroyed so far; the graph
// compares two readings to learn about how much memory dropping its policies and metrics freed
// (nodes other threads destroyed in between count too, which only makes it hand memory back
// sooner).
size_t expression_nodes_destroyed() noexcept;

// Whether the expression is exactly the literal true (an aggregation without a filter has one).
bool is_literal_true(const Expression& e);

// Each variant row names its struct, and the struct sits at the row's position in Node.
static_assert(std::variant_size_v<Expression::Node> == kExpressionVariantNames.size());
#define VOK_EXPRESSION_VARIANT(Name)                                                               \
    static_assert(                                                                                 \
        std::is_same_v<std::variant_alternative_t<static_cast<size_t>(ExpressionKind::Name),       \
                                                  Expression::Node>,                               \
                       expr::Name>);
#include "expression/expression_enums.def"

} // namespace vok
