// Writing expressions back as DSL source; see expression_source.h. Parentheses follow the grammar's
// precedence levels; operator and function words are the source words of expression_text.h. The
// writer is a policy of the shared expression walk; the measures that decide between the full and
// the minimal layout recurse through with_stack_room.
#include "formatter/expression_source.h"

#include <algorithm>
#include <optional>

#include "common/ascii.h"
#include "common/deep_recursion.h"
#include "expression/expression_printer.h"
#include "expression/expression_text.h"
#include "formatter/source_text.h"
#include "parser/grammar/dsl_parser.h"

namespace vok {

namespace {

// The grammar's precedence levels, loosest first: what may stand bare where. A place in the text
// requires a level; an expression of a looser level needs parentheses there.
enum Level : int {
    kOr = 1,
    kAnd = 2,
    kNot = 3,
    kComparison = 4,
    kAdditive = 5,
    kMultiplicative = 6,
    kNegation = 7,
    kCast = 8,
    kPrimary = 9,
};

int level_of(BinaryOp op) {
    switch (op) {
    case BinaryOp::Or:
        return kOr;
    case BinaryOp::And:
        return kAnd;
    case BinaryOp::Plus:
    case BinaryOp::Minus:
        return kAdditive;
    case BinaryOp::Multiply:
    case BinaryOp::Divide:
        return kMultiplicative;
    default:
        return kComparison;
    }
}

int level_of(const Expression& e) {
    if (const auto* b = e.get_if<expr::Binary>()) return level_of(b->op);
    if (const auto* u = e.get_if<expr::Unary>()) return u->op == UnaryOp::Not ? kNot : kNegation;
    if (e.get_if<expr::Cast>()) return kCast;
    return kPrimary;
}

// The levels the operands of a binary operation must have. The parser folds OR, AND, + - and
// * / to the left, so the left operand may be of the operation's own level; comparisons do not
// chain at all.
int left_operand_level(BinaryOp op) {
    int level = level_of(op);
    return level == kComparison ? kAdditive : level;
}
int right_operand_level(BinaryOp op) {
    int level = level_of(op);
    return level == kComparison ? kAdditive : level + 1;
}

bool starts_with_not(std::string_view name) {
    return starts_with_ignoring_ascii_case(name, "not");
}

// Whether the text of the left operand `e` begins with a name that the grammar would take for
// the word NOT at the start of an expression. Walks the left spine: a binary operation's text
// begins with its left operand's, a cast's with its operand's.
bool leads_with_not_word(const Expression* e) {
    while (true) {
        if (const auto* b = e->get_if<expr::Binary>()) {
            e = b->left.get();
        } else if (const auto* c = e->get_if<expr::Cast>()) {
            const Expression& operand = *c->operand;
            if (!operand.get_if<expr::Variable>() && !operand.get_if<expr::MemberAccess>())
                return false;
            e = &operand;
        } else if (const auto* v = e->get_if<expr::Variable>()) {
            return starts_with_not(v->name);
        } else if (const auto* m = e->get_if<expr::MemberAccess>()) {
            return starts_with_not(m->object);
        } else {
            return false;
        }
    }
}

// How deep the parentheses of the text-form layout would nest, `required` being the level the
// place of `e` requires.
size_t nesting(const Expression& e, int required) {
    const auto child = [](const Box& b, int level) {
        return with_stack_room([&] { return nesting(*b, level); });
    };
    const size_t own = e.get_if<expr::Binary>() || level_of(e) < required ? 1 : 0;
    return own + std::visit(
                     [&](const auto& n) -> size_t {
                         using T = std::decay_t<decltype(n)>;
                         if constexpr (std::is_same_v<T, expr::Binary>) {
                             return std::max(child(n.left, left_operand_level(n.op)),
                                             child(n.right, right_operand_level(n.op)));
                         } else if constexpr (std::is_same_v<T, expr::Unary>) {
                             return child(n.operand, n.op == UnaryOp::Not ? kNot : kNegation);
                         } else if constexpr (std::is_same_v<T, expr::Cast>) {
                             return child(n.operand, kPrimary);
                         } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                             return 1 + child(n.condition, kOr);
                         } else if constexpr (std::is_same_v<T, expr::GroupBy>) {
                             size_t inner = std::max(child(n.key, kOr), child(n.condition, kOr));
                             if (n.filter) inner = std::max(inner, child(*n.filter, kOr));
                             return 1 + inner;
                         } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                             return 1 + (n.filter ? child(*n.filter, kOr) : 0);
                         } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                             return 1 + std::max(child(n.predicate, kOr), child(n.projection, kOr));
                         } else {
                             return 0;
                         }
                     },
                     e.node());
}

// The deepest nesting of grammar rules (counted as the parser's nesting guard counts them) that
// reading back the text written for `e` reaches. `base` is the rule frame of the level `required`
// at e's place (the parser's or_expr ... primary_expr sit one frame apart); `bare` says that e's
// own parentheses are not written or are the grammar's own (a quantifier's condition). `spine`
// as in SourcePlace. A primary form sits at primary_expr, and every form tried there reaches at
// most three frames below it (literal, quantity_literal, number).
size_t rule_frames(const Expression& e, int required, size_t base, bool minimal, bool bare,
                   std::optional<bool> spine = std::nullopt) {
    const auto child = [minimal](const Expression& c, int level, size_t frame, bool bare_child,
                                 std::optional<bool> child_spine = std::nullopt) {
        return with_stack_room(
            [&] { return rule_frames(c, level, frame, minimal, bare_child, child_spine); });
    };
    const int level = level_of(e);
    // The rule frame of the level `target` (at least `required`) at this place.
    const auto frame_of = [&](int target) { return base + static_cast<size_t>(target - required); };
    if (const auto* b = e.get_if<expr::Binary>()) {
        const bool leads_with_not = spine ? *spine : leads_with_not_word(b->left.get());
        const bool parens =
            !bare && (level < required || !minimal) && !(leads_with_not && level >= required);
        if (parens) return child(e, kOr, frame_of(kPrimary) + 2, true, leads_with_not);
        const size_t own = frame_of(level);
        const int left = left_operand_level(b->op);
        const int right = right_operand_level(b->op);
        const auto left_spine =
            b->left->get_if<expr::Binary>() ? std::optional<bool>(leads_with_not) : std::nullopt;
        return std::max(
            child(*b->left, left, own + static_cast<size_t>(left - level), false, left_spine),
            child(*b->right, right, own + static_cast<size_t>(right - level), false));
    }
    if (level < required) return child(e, kOr, frame_of(kPrimary) + 2, true);
    if (const auto* u = e.get_if<expr::Unary>()) {
        const int own = u->op == UnaryOp::Not ? kNot : kNegation;
        return child(*u->operand, own, frame_of(own) + 1, false);
    }
    if (const auto* c = e.get_if<expr::Cast>())
        return child(*c->operand, kPrimary, frame_of(kCast) + 1, false);
    const size_t primary = frame_of(kPrimary);
    size_t deepest = primary + 3;
    const auto inner = [&](const Expression& c, size_t or_frame) {
        deepest = std::max(deepest, child(c, kOr, or_frame, false));
    };
    if (const auto* q = e.get_if<expr::Quantifier>()) {
        if (!q->collection->get_if<expr::Variable>()) inner(*q->collection, primary + 3);
        deepest = std::max(deepest, child(*q->condition, kOr, primary + 3, true));
    } else if (const auto* g = e.get_if<expr::GroupBy>()) {
        if (!g->collection->get_if<expr::Variable>()) inner(*g->collection, primary + 3);
        if (g->filter) inner(**g->filter, primary + 3);
        inner(*g->key, primary + 3);
        inner(*g->condition, primary + 3);
    } else if (const auto* a = e.get_if<expr::Aggregation>()) {
        if (!a->collection->get_if<expr::Variable>()) inner(*a->collection, primary + 3);
        if (a->filter) inner(**a->filter, primary + 3);
    } else if (const auto* a = e.get_if<expr::AggregationComprehension>()) {
        deepest = std::max(deepest, primary + 4); // window_clause, number
        if (!a->collection->get_if<expr::Variable>()) inner(*a->collection, primary + 4);
        if (!is_literal_true(*a->predicate)) inner(*a->predicate, primary + 4);
        inner(*a->projection, primary + 4);
    }
    return deepest;
}

// Where an expression stands: the level its place requires, and down a left spine whether the
// spine's first word reads as NOT, so that the spine is walked once, not once per operation on it.
struct SourcePlace {
    int required = kOr;
    std::optional<bool> spine = std::nullopt;
};

class SourceForm {
public:
    using Pieces = ExpressionPieces<SourcePlace>;

    // `minimal` writes only the parentheses that precedence requires.
    explicit SourceForm(bool minimal) : minimal_(minimal) {}

    void operator()(const expr::Literal& n, const SourcePlace&, Pieces& t) const {
        t.write([&](std::string& out) {
            const json::Value& v = n.value;
            if (v.is_string()) {
                source_text::append_expression_string(out, v.as_string());
            } else {
                source_text::append_value(out, v);
            }
        });
    }
    void operator()(const expr::QuantityLiteral& n, const SourcePlace&, Pieces& t) const {
        t.write([&](std::string& out) { out += n.value.to_string(); }).text(" ");
        quoted(t, n.unit);
    }
    void operator()(const expr::TimeLiteral& n, const SourcePlace&, Pieces& t) const {
        t.text("\"").text(n.timestamp).text("\"");
    }
    void operator()(const expr::IntervalLiteral& n, const SourcePlace&, Pieces& t) const {
        t.text("interval(");
        quoted(t, n.start);
        t.text(", ");
        quoted(t, n.end);
        t.text(")");
    }
    void operator()(const expr::Variable& n, const SourcePlace&, Pieces& t) const {
        t.text(n.name);
    }
    void operator()(const expr::MemberAccess& n, const SourcePlace&, Pieces& t) const {
        t.text(n.object).text(".").text(n.member);
    }
    void operator()(const expr::GroupBy& n, const SourcePlace&, Pieces& t) const {
        t.text("group_by(").text(n.variable).text(" in ");
        collection(t, *n.collection);
        if (n.filter) t.text(" where ").child(**n.filter, {kOr});
        t.text(": ").child(*n.key, {kOr}).text(") { ").child(*n.condition, {kOr}).text(" }");
    }
    void operator()(const expr::Binary& n, const SourcePlace& place, Pieces& t) const {
        const int level = level_of(n.op);
        const bool leads_with_not = place.spine ? *place.spine : leads_with_not_word(n.left.get());
        // A parenthesis before a NOT-like name would turn it into NOT; where precedence allows,
        // the operation goes without.
        const bool parens = parenthesised(level, place.required, true) &&
                            !(leads_with_not && level >= place.required);
        if (parens) t.text("(");
        const int left_required = left_operand_level(n.op);
        if (n.left->get_if<expr::Binary>()) {
            t.child(*n.left, {left_required, leads_with_not});
        } else {
            t.child(*n.left, {left_required});
        }
        t.text(" ").text(source_word_of(n.op)).text(" ");
        t.child(*n.right, {right_operand_level(n.op)});
        if (parens) t.text(")");
    }
    void operator()(const expr::Unary& n, const SourcePlace& place, Pieces& t) const {
        const int level = n.op == UnaryOp::Not ? kNot : kNegation;
        const bool parens = parenthesised(level, place.required, false);
        if (parens) t.text("(");
        t.text(n.op == UnaryOp::Not ? "NOT " : "- ").child(*n.operand, {level});
        if (parens) t.text(")");
    }
    void operator()(const expr::Cast& n, const SourcePlace& place, Pieces& t) const {
        const bool parens = parenthesised(kCast, place.required, false);
        if (parens) t.text("(");
        t.child(*n.operand, {kPrimary}).text(" as ");
        quoted(t, n.target_type);
        if (parens) t.text(")");
    }
    void operator()(const expr::Quantifier& n, const SourcePlace&, Pieces& t) const {
        t.text(source_word_of(n.quantifier)).text(" ").text(n.variable).text(" in ");
        collection(t, *n.collection);
        // The grammar wants the condition in parentheses; a binary operation may bring its own.
        t.text(": ");
        const auto* b = n.condition->get_if<expr::Binary>();
        const bool own = b && !minimal_ && !leads_with_not_word(b->left.get());
        if (!own) t.text("(");
        t.child(*n.condition, {kOr});
        if (!own) t.text(")");
    }
    void operator()(const expr::Aggregation& n, const SourcePlace&, Pieces& t) const {
        t.text(source_word_of(n.function)).text("(");
        collection(t, *n.collection);
        if (n.field) t.text(".").text(*n.field);
        // The grammar has no filter here; a tree built elsewhere may carry one.
        if (n.filter) t.text(" where ").child(**n.filter, {kOr});
        t.text(")");
    }
    void operator()(const expr::AggregationComprehension& n, const SourcePlace&, Pieces& t) const {
        t.text(source_word_of(n.function)).text("(").text(n.variable).text(" in ");
        collection(t, *n.collection);
        if (n.window) {
            t.text(" over last ");
            t.write([&](std::string& out) { out += std::to_string(n.window->duration); });
            t.text(" ");
            quoted(t, n.window->unit);
        }
        if (!is_literal_true(*n.predicate)) t.text(" where ").child(*n.predicate, {kOr});
        t.text(": ").child(*n.projection, {kOr});
        if (n.target_unit) {
            t.text(" as ");
            quoted(t, *n.target_unit);
        }
        t.text(")");
    }

private:
    static void quoted(Pieces& t, std::string_view text) {
        t.write([text](std::string& out) { source_text::append_quoted(out, text); });
    }

    // A collection that is a plain name is written as the name, whatever its place.
    static void collection(Pieces& t, const Expression& c) {
        if (const auto* v = c.get_if<expr::Variable>()) {
            t.text(v->name);
        } else {
            t.child(c, {kOr});
        }
    }

    // Whether an expression of `level` written where `required` is asked for gets parentheses.
    // The text form gives every binary operation its own.
    bool parenthesised(int level, int required, bool binary) const {
        return level < required || (binary && !minimal_);
    }

    bool minimal_;
};

} // namespace

namespace {

// The or_expr frame under the expression rule that stands below the enclosing rules.
size_t or_frame(size_t enclosing_rules) {
    return enclosing_rules + 2;
}

bool writes_minimal(const Expression& e, size_t enclosing_rules) {
    return nesting(e, kOr) > kMaxNestedParentheses ||
           rule_frames(e, kOr, or_frame(enclosing_rules), false, false) > grammar::kMaxRuleNesting;
}

} // namespace

size_t expression_source_rule_nesting(const Expression& e, size_t enclosing_rules) {
    return rule_frames(e, kOr, or_frame(enclosing_rules), writes_minimal(e, enclosing_rules),
                       false);
}

void append_expression_source(std::string& out, const Expression& e, size_t enclosing_rules) {
    print_expression(out, e, SourceForm(writes_minimal(e, enclosing_rules)), SourcePlace{kOr});
}

std::string expression_source(const Expression& e) {
    std::string out;
    append_expression_source(out, e);
    return out;
}

} // namespace vok
