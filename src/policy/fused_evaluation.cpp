// Policy evaluation in one pass; the definitions behind fused_evaluation.h.
#include "policy/fused_evaluation.h"

#include <cmath>
#include <exception>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "policy/aggregation.h"
#include "policy/evaluation.h"
#include "policy/expansion.h"
#include "policy/quantifier_items.h"
#include "policy/runtime_value.h"
#include "policy/substitution.h"

namespace vok {

namespace {

// Stands for any expanded node that is neither a literal nor resolvable to a value (an And/Or
// chain, a Unary, a Binary left for evaluation): resolving it fails with the same text.
const Expression& compound_node() {
    static const Expression node = Expression::unary(UnaryOp::Not, Expression::literal(nullptr));
    return node;
}

// What expansion made of a sub-expression, as far as anything around it can observe: a literal
// value, or an expression that evaluation may resolve.
struct Reduced {
    bool is_literal = false;
    json::Value value;
    const Expression* expression = nullptr;
    std::unique_ptr<Expression> owned;

    static Reduced literal(json::Value v) {
        Reduced r;
        r.is_literal = true;
        r.value = std::move(v);
        return r;
    }
    static Reduced node(const Expression& e) {
        Reduced r;
        r.expression = &e;
        return r;
    }
    static Reduced of(Expression e) {
        if (auto* l = e.get_if<expr::Literal>()) return literal(std::move(l->value));
        if (e.kind() == ExpressionKind::Binary || e.kind() == ExpressionKind::Unary)
            return node(compound_node());
        Reduced r;
        r.owned = std::make_unique<Expression>(std::move(e));
        r.expression = r.owned.get();
        return r;
    }
    bool is_true() const { return is_literal && value.is_bool() && value.as_bool(); }
    Expression to_expression() && {
        if (is_literal) return Expression::literal(std::move(value));
        return *expression;
    }
    Operand operand() const {
        return is_literal ? Operand{&value, nullptr} : Operand{nullptr, expression};
    }
};

using Reduction = Result<Reduced, PolicyError>;

// The variables bound by the enclosing quantifiers, group-by and comprehensions, outermost first.
// A quantifier or group-by hides an outer binding of the same name; a comprehension or an
// aggregation filter does not (the outer item was substituted before they bind theirs), so its
// own binding of a name already bound stays without effect.
class Bindings {
public:
    explicit Bindings(const Graph& graph) : graph_(graph) {}

    void push(std::string_view name, ItemRef item, bool shadows) {
        int hidden = -1;
        bool visible = true;
        for (size_t i = 0; i < stack_.size(); ++i) {
            if (!stack_[i].visible || stack_[i].name != name) continue;
            if (shadows) {
                stack_[i].visible = false;
                hidden = int(i);
            } else {
                visible = false;
            }
        }
        stack_.push_back({name, item, visible, hidden});
    }

    void pop() {
        if (stack_.back().hidden >= 0) stack_[size_t(stack_.back().hidden)].visible = true;
        stack_.pop_back();
    }

    bool empty() const { return stack_.empty(); }

    // Whether a visible binding other than `own` would take the reference `reference` first.
    bool taken_by_other(std::string_view reference, std::string_view own) const {
        for (const Binding& b : stack_) {
            if (!b.visible || b.name == own) continue;
            if (reference == b.name ||
                (reference.size() > b.name.size() && reference.starts_with(b.name) &&
                 reference[b.name.size()] == '.'))
                return true;
        }
        return false;
    }

    // The value a variable reference takes, or nothing when no binding reaches it.
    std::optional<json::Value> variable(std::string_view reference) const {
        for (const Binding& b : stack_) {
            if (!b.visible) continue;
            if (reference == b.name) return b.item.materialize(graph_);
            auto value = bound_reference(
                reference, b.name, [&](std::string_view key) { return b.item.field(graph_, key); });
            if (value) return value;
        }
        return std::nullopt;
    }

    // The binding and key a reference reads (`v.key` or a member access), when it reads one key
    // of a bound item.
    std::optional<std::pair<ItemRef, std::string_view>> key_reference(const Expression& e) const {
        if (const auto* m = e.get_if<expr::MemberAccess>()) {
            for (const Binding& b : stack_)
                if (b.visible && b.name == m->object)
                    return std::pair(b.item, std::string_view(m->member));
            return std::nullopt;
        }
        if (const auto* v = e.get_if<expr::Variable>()) {
            std::string_view reference = v->name;
            for (const Binding& b : stack_) {
                if (!b.visible) continue;
                if (reference == b.name) return std::nullopt;
                if (reference.size() > b.name.size() && reference.starts_with(b.name) &&
                    reference[b.name.size()] == '.')
                    return std::pair(b.item, reference.substr(b.name.size() + 1));
            }
        }
        return std::nullopt;
    }

    std::optional<json::Value> member(const expr::MemberAccess& access) const {
        for (const Binding& b : stack_) {
            if (!b.visible || b.name != access.object) continue;
            auto value = b.item.field(graph_, access.member);
            return value ? std::move(*value) : json::Value();
        }
        return std::nullopt;
    }

    // The expression rewritten as the substitutions of the visible bindings would leave it.
    Expression substituted(const Expression& e) const {
        Expression out = e;
        for (const Binding& b : stack_)
            if (b.visible) out = substitute_variable(out, b.name, b.item.materialize(graph_));
        return out;
    }

private:
    struct Binding {
        std::string_view name;
        ItemRef item;
        bool visible;
        int hidden; // the outer binding this one hides, or -1
    };
    const Graph& graph_;
    std::vector<Binding> stack_;
};

// Pushes a binding for the lifetime of the scope.
class Bound {
public:
    Bound(Bindings& bindings, std::string_view name, ItemRef item, bool shadows)
        : bindings_(bindings) {
        bindings_.push(name, item, shadows);
    }
    ~Bound() { bindings_.pop(); }
    Bound(const Bound&) = delete;
    Bound& operator=(const Bound&) = delete;

private:
    Bindings& bindings_;
};

template <bool Three> using Truth = std::conditional_t<Three, TruthValue, bool>;

// A condition `v.key OP number` (or `number OP v.key`), v the quantifier's own variable, with an
// ordering or equality operator: per item it folds to a literal during expansion, so it can be
// computed straight from the record. This is the shape of most item conditions; a flow's quantity
// is read as the float its item would carry without building the item.
struct FieldTest {
    BinaryOp op;
    std::string_view key;
    const json::Value* number;
    bool field_on_left;
};

bool is_comparison(BinaryOp op) {
    return op == BinaryOp::Equal || op == BinaryOp::NotEqual || op == BinaryOp::GreaterThan ||
           op == BinaryOp::LessThan || op == BinaryOp::GreaterThanOrEqual ||
           op == BinaryOp::LessThanOrEqual;
}

// How many of the quantities satisfy `quantity op number` (or `number op quantity`); `finite` tells
// whether every quantity was finite, the only case in which the count stands for the items.
size_t count_holding(BinaryOp op, bool field_on_left, double number,
                     const std::vector<double>& quantities, bool& finite) {
    auto run = [&](auto holds) {
        size_t holding = 0;
        bool all_finite = true;
        for (const double q : quantities) {
            all_finite &= std::isfinite(q);
            holding += field_on_left ? holds(q, number) : holds(number, q);
        }
        finite = all_finite;
        return holding;
    };
    switch (op) {
    case BinaryOp::Equal:
        return run([](double l, double r) { return l == r; });
    case BinaryOp::NotEqual:
        return run([](double l, double r) { return l != r; });
    case BinaryOp::GreaterThan:
        return run([](double l, double r) { return l > r; });
    case BinaryOp::LessThan:
        return run([](double l, double r) { return l < r; });
    case BinaryOp::GreaterThanOrEqual:
        return run([](double l, double r) { return l >= r; });
    default:
        return run([](double l, double r) { return l <= r; });
    }
}

// An evaluation outcome kept back: a truth value, the first evaluation error, or an exception.
template <bool Three> struct Outcome {
    Truth<Three> truth{};
    std::optional<PolicyError> error;
    std::exception_ptr thrown;

    bool failed() const { return error.has_value() || thrown != nullptr; }
};

// A sub-expression in a position where a truth value is needed: its expanded form (a literal,
// which a parent may still fold) and, for any other form, the outcome of evaluating it.
template <bool Three> struct Node {
    bool is_literal = false;
    json::Value value;
    Outcome<Three> outcome;
};

template <bool Three> class Fused {
public:
    using T = Truth<Three>;
    using O = Outcome<Three>;
    using N = Node<Three>;
    using NodeResult = Result<N, PolicyError>;

    Fused(const Policy& policy, const Graph& graph)
        : policy_(policy), graph_(graph), bindings_(graph) {}

    Result<T, PolicyError> run(const Expression& e) {
        VOK_ASSIGN(N root, truth(e));
        O outcome = outcome_of(root);
        if (outcome.thrown) std::rethrow_exception(outcome.thrown);
        if (outcome.error) return Err(std::move(*outcome.error));
        return outcome.truth;
    }

private:
    template <class F> static O held(F&& f) {
        O o;
        try {
            auto r = f();
            if (r.ok()) {
                o.truth = *r;
            } else {
                o.error = std::move(r).error();
            }
        } catch (const OperationCancelled&) {
            throw; // the caller asked to stop: nothing is held back
        } catch (...) {
            o.thrown = std::current_exception();
        }
        return o;
    }

    static O value_outcome(T t) {
        O o;
        o.truth = t;
        return o;
    }

    static N literal_node(json::Value v) {
        N n;
        n.is_literal = true;
        n.value = std::move(v);
        return n;
    }

    static N evaluated(O outcome) {
        N n;
        n.outcome = std::move(outcome);
        return n;
    }

    static O outcome_of(const N& n) {
        if (!n.is_literal) return n.outcome;
        if constexpr (Three) {
            return value_outcome(three_valued_literal(n.value));
        } else {
            return held([&] { return boolean_literal(n.value); });
        }
    }

    static O connect(BinaryOp op, O a, const O& b) {
        if (a.failed()) return a;
        if (b.failed()) return b;
        if constexpr (Three) {
            a.truth =
                op == BinaryOp::And ? kleene_and(a.truth, b.truth) : kleene_or(a.truth, b.truth);
        } else {
            a.truth = op == BinaryOp::And ? (a.truth && b.truth) : (a.truth || b.truth);
        }
        return a;
    }

    // ---- Positions where a truth value is needed ----

    NodeResult truth_child(const Expression& e) {
        return with_stack_room([&] { return truth(e); });
    }

    NodeResult truth(const Expression& e) {
        if (const auto* b = e.get_if<expr::Binary>()) {
            if (b->op == BinaryOp::And || b->op == BinaryOp::Or) return logical(*b);
            return comparison(*b);
        }
        if (const auto* u = e.get_if<expr::Unary>()) {
            VOK_ASSIGN(N operand, truth_child(*u->operand));
            O o = outcome_of(operand);
            if (!o.failed()) {
                if (u->op == UnaryOp::Negate) {
                    o.error = PolicyError(kNegateInBooleanContext);
                } else if constexpr (Three) {
                    o.truth = kleene_not(o.truth);
                } else {
                    o.truth = !o.truth;
                }
            }
            return evaluated(std::move(o));
        }
        if (const auto* q = e.get_if<expr::Quantifier>()) {
            if (q->quantifier != Quantifier::ExistsUnique) return chain(*q);
        }
        VOK_ASSIGN(Reduced r, reduce(e));
        if (r.is_literal) return literal_node(std::move(r.value));
        const Expression& node = *r.expression;
        if constexpr (Three) {
            return evaluated(held([&] { return three_valued_node(node, graph_); }));
        } else {
            return evaluated(held([&] { return boolean_node(node, graph_); }));
        }
    }

    NodeResult logical(const expr::Binary& b) {
        VOK_ASSIGN(N left, truth_child(*b.left));
        VOK_ASSIGN(N right, truth_child(*b.right));
        if (left.is_literal && right.is_literal) {
            VOK_ASSIGN(std::optional<json::Value> folded,
                       fold_literals(b.op, left.value, right.value));
            return literal_node(std::move(*folded));
        }
        return evaluated(connect(b.op, outcome_of(left), outcome_of(right)));
    }

    // `x.id == y.from_entity` and the like between two bound records: decided on the ids, without
    // writing either as text (expansion would compare the two texts, which is the same).
    std::optional<bool> id_comparison(const expr::Binary& b) const {
        if (b.op != BinaryOp::Equal && b.op != BinaryOp::NotEqual) return std::nullopt;
        auto left = bindings_.key_reference(*b.left);
        if (!left) return std::nullopt;
        auto right = bindings_.key_reference(*b.right);
        if (!right) return std::nullopt;
        const Uuid* l = left->first.id_field(left->second);
        const Uuid* r = right->first.id_field(right->second);
        if (l == nullptr || r == nullptr) return std::nullopt;
        return (*l == *r) == (b.op == BinaryOp::Equal);
    }

    NodeResult comparison(const expr::Binary& b) {
        if (auto decided = id_comparison(b)) return literal_node(json::Value(*decided));
        VOK_ASSIGN(Reduced left, reduce_child(*b.left));
        VOK_ASSIGN(Reduced right, reduce_child(*b.right));
        if (left.is_literal && right.is_literal) {
            VOK_ASSIGN(std::optional<json::Value> folded,
                       fold_literals(b.op, left.value, right.value));
            if (folded) return literal_node(std::move(*folded));
        }
        Operand l = left.operand(), r = right.operand();
        if constexpr (Three) {
            return evaluated(
                held([&] { return three_valued_comparison(policy_, b.op, l, r, graph_); }));
        } else {
            return evaluated(held([&] { return boolean_comparison(policy_, b.op, l, r, graph_); }));
        }
    }

    // ForAll and Exists: the chain from the seed literal through every item's condition, folded
    // as it is built. The chain itself is never a literal, even when every condition is.
    NodeResult chain(const expr::Quantifier& q) {
        const bool for_all = q.quantifier == Quantifier::ForAll;
        const BinaryOp op = for_all ? BinaryOp::And : BinaryOp::Or;
        json::Value collection_value;
        VOK_ASSIGN(CollectionSource source, collection(*q.collection, collection_value));
        O acc = value_outcome(seed(for_all));
        bool any = false;
        if (auto test = field_test(q, source)) {
            VOK_TRY(each_field_test(
                *test, source,
                [&](std::optional<bool> folded) {
                    any = true;
                    if (acc.failed()) return;
                    if constexpr (Three) {
                        TruthValue v = folded ? truth_of(*folded) : TruthValue::Unknown;
                        acc.truth = op == BinaryOp::And ? kleene_and(acc.truth, v)
                                                        : kleene_or(acc.truth, v);
                    } else if (folded) {
                        acc.truth =
                            op == BinaryOp::And ? (acc.truth && *folded) : (acc.truth || *folded);
                    } else {
                        acc.error = boolean_literal(json::Value()).error();
                    }
                },
                [&](size_t items, size_t holding) {
                    // Every item folded to a boolean: the chain is decided by the counts.
                    any = items > 0;
                    bool holds = for_all ? holding == items : holding > 0;
                    acc.truth = seed(holds);
                }));
            if (!any) return literal_node(json::Value(for_all));
            return evaluated(std::move(acc));
        }
        VOK_TRY(
            for_each_item(source, graph_, [&](const ItemRef& item) -> Result<void, PolicyError> {
                any = true;
                Bound bound(bindings_, q.variable, item, true);
                VOK_ASSIGN(N c, truth_child(*q.condition));
                if (!acc.failed()) acc = connect(op, std::move(acc), outcome_of(c));
                return Ok();
            }));
        if (!any) return literal_node(json::Value(for_all));
        return evaluated(std::move(acc));
    }

    std::optional<FieldTest> field_test(const expr::Quantifier& q, const CollectionSource& source) {
        if (!source.kind) return std::nullopt;
        const auto* b = q.condition->get_if<expr::Binary>();
        if (b == nullptr || !is_comparison(b->op)) return std::nullopt;
        auto key_of = [&](const Expression& e) -> std::optional<std::string_view> {
            if (const auto* m = e.get_if<expr::MemberAccess>()) {
                if (m->object == q.variable) return std::string_view(m->member);
            } else if (const auto* v = e.get_if<expr::Variable>()) {
                std::string_view name = v->name;
                if (name.size() > q.variable.size() + 1 && name.starts_with(q.variable) &&
                    name[q.variable.size()] == '.' && !bindings_.taken_by_other(name, q.variable))
                    return name.substr(q.variable.size() + 1);
            }
            return std::nullopt;
        };
        auto number_of = [](const Expression& e) -> const json::Value* {
            const auto* l = e.get_if<expr::Literal>();
            return l != nullptr && l->value.is_number() ? &l->value : nullptr;
        };
        if (auto key = key_of(*b->left)) {
            if (const json::Value* n = number_of(*b->right)) return FieldTest{b->op, *key, n, true};
        } else if (auto key = key_of(*b->right)) {
            if (const json::Value* n = number_of(*b->left)) return FieldTest{b->op, *key, n, false};
        }
        return std::nullopt;
    }

    // The literal the condition folds to for one item (true, false or null), or the expansion
    // error of a field that is not a number.
    Result<json::Value, PolicyError> field_test_item(const FieldTest& test, const ItemRef& item) {
        std::optional<json::Value> field = item.field(graph_, test.key);
        json::Value value = field ? std::move(*field) : json::Value();
        VOK_ASSIGN(std::optional<json::Value> folded,
                   test.field_on_left ? fold_literals(test.op, value, *test.number)
                                      : fold_literals(test.op, *test.number, value));
        return std::move(*folded);
    }

    // Calls `visit(folded)` for each item's folded condition, in order: true, false, or nothing
    // for the null literal.
    // When every item folds to a boolean, `bulk(items, holding)` may be called once instead.
    template <class Visit, class Bulk>
    Result<void, PolicyError> each_field_test(const FieldTest& test, const CollectionSource& source,
                                              Visit&& visit, Bulk&& bulk) {
        auto visit_value = [&](const json::Value& folded) {
            visit(folded.is_bool() ? std::optional<bool>(folded.as_bool()) : std::nullopt);
        };
        if (*source.kind == CollectionKind::Flows && test.key == "quantity" &&
            graph_.flow_quantities_f64().size() == graph_.flows().size()) {
            // The tight loop of the common case: one decimal read and one comparison per flow.
            const double number = test.number->as_number().to_f64();
            const std::vector<double>& quantities = graph_.flow_quantities_f64();
            bool finite = false;
            const size_t holding =
                count_holding(test.op, test.field_on_left, number, quantities, finite);
            if (finite) {
                bulk(quantities.size(), holding);
                return Ok();
            }
            auto flow = graph_.flows().begin();
            for (const double q : quantities) {
                if (!std::isfinite(q)) {
                    VOK_ASSIGN(json::Value folded,
                               field_test_item(
                                   test, ItemRef::of_record(CollectionKind::Flows, &flow->second)));
                    visit_value(folded);
                } else {
                    visit(std::optional<bool>(test.field_on_left
                                                  ? comparison_holds(test.op, q, number)
                                                  : comparison_holds(test.op, number, q)));
                }
                ++flow;
            }
            return Ok();
        }
        return for_each_item(source, graph_, [&](const ItemRef& item) -> Result<void, PolicyError> {
            VOK_ASSIGN(json::Value folded, field_test_item(test, item));
            visit_value(folded);
            return Ok();
        });
    }

    static T seed(bool b) {
        if constexpr (Three) {
            return truth_of(b);
        } else {
            return b;
        }
    }

    // ---- Positions that are only expanded ----

    Reduction reduce_child(const Expression& e) {
        return with_stack_room([&] { return reduce(e); });
    }

    Reduction reduce(const Expression& e) {
        switch (e.kind()) {
        case ExpressionKind::Literal:
            return Reduced::literal(e.get_if<expr::Literal>()->value);
        case ExpressionKind::Variable:
            if (auto v = bindings_.variable(e.get_if<expr::Variable>()->name))
                return Reduced::literal(std::move(*v));
            return Reduced::node(e);
        case ExpressionKind::MemberAccess:
            if (auto v = bindings_.member(*e.get_if<expr::MemberAccess>()))
                return Reduced::literal(std::move(*v));
            return Reduced::node(e);
        case ExpressionKind::QuantityLiteral:
        case ExpressionKind::TimeLiteral:
        case ExpressionKind::IntervalLiteral:
            return Reduced::node(e);
        case ExpressionKind::Binary: {
            const auto& b = *e.get_if<expr::Binary>();
            if (auto decided = id_comparison(b)) return Reduced::literal(json::Value(*decided));
            VOK_ASSIGN(Reduced left, reduce_child(*b.left));
            VOK_ASSIGN(Reduced right, reduce_child(*b.right));
            if (left.is_literal && right.is_literal) {
                VOK_ASSIGN(std::optional<json::Value> folded,
                           fold_literals(b.op, left.value, right.value));
                if (folded) return Reduced::literal(std::move(*folded));
            }
            return Reduced::node(compound_node());
        }
        case ExpressionKind::Unary:
            VOK_TRY(reduce_child(*e.get_if<expr::Unary>()->operand));
            return Reduced::node(compound_node());
        case ExpressionKind::Quantifier:
            return quantifier(*e.get_if<expr::Quantifier>());
        case ExpressionKind::GroupBy:
            return group_by(*e.get_if<expr::GroupBy>());
        case ExpressionKind::Aggregation: {
            const auto& a = *e.get_if<expr::Aggregation>();
            json::Value holder;
            bool bound = false;
            VOK_ASSIGN(CollectionSource source, collection(*a.collection, holder, &bound));
            std::string_view variable = bound ? "item" : filter_variable_for(*a.collection);
            VOK_ASSIGN(json::Value value, aggregate(a, source, variable, graph_, part_expander()));
            return Reduced::literal(std::move(value));
        }
        case ExpressionKind::AggregationComprehension: {
            const auto& c = *e.get_if<expr::AggregationComprehension>();
            json::Value holder;
            VOK_ASSIGN(CollectionSource source, collection(*c.collection, holder));
            VOK_ASSIGN(json::Value value,
                       aggregate_comprehension(c, source, graph_, part_expander()));
            return Reduced::literal(std::move(value));
        }
        default: {
            // Casts: rewritten and expanded as they stand.
            if (bindings_.empty()) {
                VOK_ASSIGN(Expression expanded, expand_expression(e, graph_));
                return Reduced::of(std::move(expanded));
            }
            VOK_ASSIGN(Expression expanded, expand_expression(bindings_.substituted(e), graph_));
            return Reduced::of(std::move(expanded));
        }
        }
    }

    // The items of a quantifier's or group-by's collection, as substitution would leave the
    // collection expression; a value it takes from a binding is kept in `holder`.
    Result<CollectionSource, PolicyError> collection(const Expression& e, json::Value& holder,
                                                     bool* was_bound = nullptr) {
        std::optional<json::Value> bound;
        if (const auto* v = e.get_if<expr::Variable>()) bound = bindings_.variable(v->name);
        if (const auto* m = e.get_if<expr::MemberAccess>()) bound = bindings_.member(*m);
        if (!bound) return collection_source(e);
        if (was_bound != nullptr) *was_bound = true;
        holder = std::move(*bound);
        if (!holder.is_array())
            return Err(PolicyError("Collection expression must be a variable or array literal"));
        return CollectionSource{std::nullopt, &holder.as_array()};
    }

    // Aggregations bind their item without hiding an outer variable of the same name.
    auto part_expander() {
        return [this](const Expression& part, std::string_view variable,
                      const ItemRef& item) -> Result<Expression, PolicyError> {
            Bound bound(bindings_, variable, item, false);
            VOK_ASSIGN(Reduced r, reduce_child(part));
            return std::move(r).to_expression();
        };
    }

    Reduction quantifier(const expr::Quantifier& q) {
        json::Value collection_value;
        VOK_ASSIGN(CollectionSource source, collection(*q.collection, collection_value));
        size_t holding = 0;
        bool any = false;
        auto visit = [&](const ItemRef& item) -> Result<void, PolicyError> {
            any = true;
            Bound bound(bindings_, q.variable, item, true);
            VOK_ASSIGN(Reduced c, reduce_child(*q.condition));
            if (c.is_true()) ++holding;
            return Ok();
        };
        if (auto test = field_test(q, source)) {
            VOK_TRY(each_field_test(
                *test, source,
                [&](std::optional<bool> folded) {
                    any = true;
                    if (folded.value_or(false)) ++holding;
                },
                [&](size_t items, size_t holds) {
                    any = items > 0;
                    holding = holds;
                }));
        } else {
            VOK_TRY(for_each_item(source, graph_, visit));
        }
        if (q.quantifier == Quantifier::ExistsUnique)
            return Reduced::literal(json::Value(holding == 1));
        if (!any) return Reduced::literal(json::Value(q.quantifier == Quantifier::ForAll));
        return Reduced::node(compound_node());
    }

    Reduction group_by(const expr::GroupBy& g) {
        json::Value collection_value;
        VOK_ASSIGN(CollectionSource source, collection(*g.collection, collection_value));
        std::vector<std::string> order;
        std::unordered_map<std::string, json::Array> groups;
        VOK_TRY(
            for_each_item(source, graph_, [&](const ItemRef& item) -> Result<void, PolicyError> {
                Bound bound(bindings_, g.variable, item, true);
                if (g.filter) {
                    VOK_ASSIGN(Reduced kept, reduce_child(**g.filter));
                    if (!kept.is_true()) return Ok();
                }
                VOK_ASSIGN(Reduced key, reduce_child(*g.key));
                if (!key.is_literal)
                    return Err(PolicyError("Group key must evaluate to a literal"));
                VOK_ASSIGN(std::string text, group_text(key.value));
                auto [it, added] = groups.try_emplace(text);
                if (added) order.push_back(text);
                it->second.push_back(item.materialize(graph_));
                return Ok();
            }));
        for (const std::string& text : order) {
            json::Value members(std::move(groups[text]));
            Bound bound(bindings_, g.variable, ItemRef::of_value(members), true);
            VOK_ASSIGN(Reduced c, reduce_child(*g.condition));
            if (!c.is_true()) return Reduced::literal(json::Value(false));
        }
        return Reduced::literal(json::Value(true));
    }

    const Policy& policy_;
    const Graph& graph_;
    Bindings bindings_;
};

} // namespace

Result<TruthValue, PolicyError> evaluate_fused(const Policy& policy, const Graph& graph,
                                               bool three_valued) {
    if (three_valued) return Fused<true>(policy, graph).run(policy.expression);
    VOK_ASSIGN(bool holds, Fused<false>(policy, graph).run(policy.expression));
    return truth_of(holds);
}

} // namespace vok
