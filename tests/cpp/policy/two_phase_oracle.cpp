// The two-phase oracle: the whole expression expanded first, the expanded tree then evaluated by
// a plain recursive walk over the per-node rules the production road shares.
#include "two_phase_oracle.h"

#include <vector>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "policy/evaluation.h"
#include "policy/expansion.h"
#include "policy/policy_evaluation.h"
#include "policy/quantifier_items.h"
#include "policy/substitution.h"

namespace vok::testing {

namespace {

// The whole-tree evaluators of an expanded expression. Both always evaluate both operands of And
// and Or, left first, so an error on the right is reported even when the left already decides.
// The two share their walk; `Three` selects the logic.

template <bool Three> using Truth = std::conditional_t<Three, TruthValue, bool>;

template <bool Three> Truth<Three> connect(BinaryOp op, Truth<Three> a, Truth<Three> b) {
    if constexpr (Three) {
        return op == BinaryOp::And ? kleene_and(a, b) : kleene_or(a, b);
    } else {
        return op == BinaryOp::And ? (a && b) : (a || b);
    }
}

template <bool Three> Truth<Three> negate(Truth<Three> a) {
    if constexpr (Three) {
        return kleene_not(a);
    } else {
        return !a;
    }
}

template <bool Three> struct Walk {
    const Policy& policy;
    const Graph& graph;
    using T = Truth<Three>;
    using R = Result<T, PolicyError>;

    R child(const Expression& e) const {
        return with_stack_room([&] { return eval(e); });
    }

    // And/Or chains are walked down their left spine without recursion, so a chain as long as a
    // collection costs no stack.
    R eval(const Expression& e) const {
        std::vector<const expr::Binary*> spine;
        const Expression* bottom = &e;
        while (const auto* b = bottom->get_if<expr::Binary>()) {
            if (b->op != BinaryOp::And && b->op != BinaryOp::Or) break;
            spine.push_back(b);
            bottom = b->left.get();
        }
        VOK_ASSIGN(T acc, single(*bottom));
        for (size_t i = spine.size(); i-- > 0;) {
            poll_cancellation();
            VOK_ASSIGN(T right, child(*spine[i]->right));
            acc = connect<Three>(spine[i]->op, acc, right);
        }
        return acc;
    }

    R single(const Expression& e) const {
        if (const auto* u = e.get_if<expr::Unary>()) {
            VOK_ASSIGN(T operand, child(*u->operand));
            if (u->op == UnaryOp::Negate) return Err(PolicyError(kNegateInBooleanContext));
            return negate<Three>(operand);
        }
        if (const auto* b = e.get_if<expr::Binary>()) {
            if constexpr (Three) {
                return three_valued_comparison(policy, b->op, Operand::of(*b->left),
                                               Operand::of(*b->right), graph);
            } else {
                return boolean_comparison(policy, b->op, Operand::of(*b->left),
                                          Operand::of(*b->right), graph);
            }
        }
        if (const auto* q = e.get_if<expr::Quantifier>()) return quantifier(*q);
        if constexpr (Three) {
            return three_valued_node(e, graph);
        } else {
            return boolean_node(e, graph);
        }
    }

    R quantifier(const expr::Quantifier& q) const {
        if constexpr (!Three) {
            return Err(PolicyError("Cannot evaluate non-expanded quantifier"));
        } else {
            VOK_ASSIGN(std::vector<json::Value> items, resolve_collection(*q.collection, graph));
            size_t t = 0, f = 0, u = 0;
            for (const json::Value& item : items) {
                VOK_ASSIGN(TruthValue v,
                           child(substitute_variable(*q.condition, q.variable, item)));
                (v == TruthValue::True ? t : v == TruthValue::False ? f : u)++;
            }
            switch (q.quantifier) {
            case Quantifier::ForAll:
                return f > 0 ? TruthValue::False : u > 0 ? TruthValue::Unknown : TruthValue::True;
            case Quantifier::Exists:
                return t > 0 ? TruthValue::True : u > 0 ? TruthValue::Unknown : TruthValue::False;
            case Quantifier::ExistsUnique:
                if (t > 1) return TruthValue::False;
                if (t == 1) return u == 0 ? TruthValue::True : TruthValue::Unknown;
                return u == 0 ? TruthValue::False : TruthValue::Unknown;
            }
            return TruthValue::Unknown;
        }
    }
};

Result<TruthValue, PolicyError>
evaluate_three_valued(const Policy& policy, const Expression& expression, const Graph& graph) {
    return Walk<true>{policy, graph}.eval(expression);
}

Result<bool, PolicyError> evaluate_boolean(const Policy& policy, const Expression& expression,
                                           const Graph& graph) {
    return Walk<false>{policy, graph}.eval(expression);
}

} // namespace

Result<EvaluationResult, PolicyError> two_phase_evaluate_policy(const Graph& graph,
                                                                const Policy& policy) {
    const bool three_valued = graph.use_three_valued_logic();
    VOK_TRY(check_aggregation_in_boolean_context(policy.expression, true));
    VOK_ASSIGN(Expression expanded, expand_expression(policy.expression, graph));
    TruthValue outcome;
    if (three_valued) {
        VOK_ASSIGN(outcome, evaluate_three_valued(policy, expanded, graph));
    } else {
        VOK_ASSIGN(bool holds, evaluate_boolean(policy, expanded, graph));
        outcome = truth_of(holds);
    }
    return evaluation_result_for(policy, outcome);
}

std::string describe(const Result<EvaluationResult, PolicyError>& result) {
    if (!result.ok()) return "error: " + result.error().to_string();
    const EvaluationResult& r = result.value();
    std::string out =
        r.is_satisfied_tristate ? (*r.is_satisfied_tristate ? "true" : "false") : "unknown";
    for (const Violation& v : r.violations)
        out += " | " + v.name + " / " + v.message + " / " + std::string(name_of(v.severity));
    return out;
}

} // namespace vok::testing
