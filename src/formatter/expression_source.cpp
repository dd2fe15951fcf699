// Writing expressions back as DSL source; see expression_source.h. Parentheses follow the grammar's
// precedence levels; operator and function words are the source_word column of
// expression_enums.def; deep trees recurse through with_stack_room.
#include "formatter/expression_source.h"

#include <algorithm>
#include <optional>

#include "common/deep_recursion.h"
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

std::string_view source_word(BinaryOp op) {
    static constexpr std::string_view kWords[] = {
#define VOK_BINARY_OP(Name, text_word, source_word) source_word,
#include "expression/expression_enums.def"
    };
    return kWords[static_cast<size_t>(op)];
}

std::string_view source_word(AggregateFunction f) {
    static constexpr std::string_view kWords[] = {
#define VOK_AGGREGATE_FUNCTION(Name, text_word, source_word) source_word,
#include "expression/expression_enums.def"
    };
    return kWords[static_cast<size_t>(f)];
}

std::string_view source_word(Quantifier q) {
    static constexpr std::string_view kWords[] = {
#define VOK_QUANTIFIER(Name, source_word) source_word,
#include "expression/expression_enums.def"
    };
    return kWords[static_cast<size_t>(q)];
}

bool starts_with_not(std::string_view name) {
    return name.size() >= 3 && (name[0] | 0x20) == 'n' && (name[1] | 0x20) == 'o' &&
           (name[2] | 0x20) == 't';
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

bool is_literal_true(const Expression& e) {
    const auto* lit = e.get_if<expr::Literal>();
    return lit && lit->value.is_bool() && lit->value.as_bool();
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
// as in Writer. A primary form sits at primary_expr, and every form tried there reaches at most
// three frames below it (literal, quantity_literal, number).
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

class Writer {
public:
    // `minimal` writes only the parentheses that precedence requires.
    Writer(std::string& out, bool minimal) : out_(out), minimal_(minimal) {}

    // `required` is the level the place of `e` requires. `spine` carries down a left spine
    // whether its first word reads as NOT, so that the spine is walked once, not once per
    // operation on it.
    void write(const Expression& e, int required, std::optional<bool> spine = std::nullopt) {
        std::visit([&](const auto& n) { write_node(n, required, spine); }, e.node());
    }

private:
    void child(const Expression& e, int required, std::optional<bool> spine = std::nullopt) {
        with_stack_room([&] { write(e, required, spine); });
    }

    // Whether an expression of `level` written where `required` is asked for gets parentheses.
    // The text form gives every binary operation its own.
    bool parenthesised(int level, int required, bool binary) const {
        return level < required || (binary && !minimal_);
    }

    void collection(const Box& c) {
        if (const auto* v = c->get_if<expr::Variable>()) {
            out_ += v->name;
        } else {
            child(*c, kOr);
        }
    }

    void write_node(const expr::Literal& n, int, std::optional<bool>) {
        const json::Value& v = n.value;
        if (v.is_string()) {
            source_text::append_expression_string(out_, v.as_string());
        } else {
            source_text::append_value(out_, v);
        }
    }
    void write_node(const expr::QuantityLiteral& n, int, std::optional<bool>) {
        out_ += n.value.to_string();
        out_ += ' ';
        source_text::append_quoted(out_, n.unit);
    }
    void write_node(const expr::TimeLiteral& n, int, std::optional<bool>) {
        out_ += '"';
        out_ += n.timestamp;
        out_ += '"';
    }
    void write_node(const expr::IntervalLiteral& n, int, std::optional<bool>) {
        out_ += "interval(";
        source_text::append_quoted(out_, n.start);
        out_ += ", ";
        source_text::append_quoted(out_, n.end);
        out_ += ')';
    }
    void write_node(const expr::Variable& n, int, std::optional<bool>) { out_ += n.name; }
    void write_node(const expr::MemberAccess& n, int, std::optional<bool>) {
        out_ += n.object;
        out_ += '.';
        out_ += n.member;
    }
    void write_node(const expr::GroupBy& n, int, std::optional<bool>) {
        out_ += "group_by(";
        out_ += n.variable;
        out_ += " in ";
        collection(n.collection);
        if (n.filter) {
            out_ += " where ";
            child(**n.filter, kOr);
        }
        out_ += ": ";
        child(*n.key, kOr);
        out_ += ") { ";
        child(*n.condition, kOr);
        out_ += " }";
    }
    void write_node(const expr::Binary& n, int required, std::optional<bool> spine) {
        const int level = level_of(n.op);
        const bool leads_with_not = spine ? *spine : leads_with_not_word(n.left.get());
        // A parenthesis before a NOT-like name would turn it into NOT; where precedence allows,
        // the operation goes without.
        const bool parens =
            parenthesised(level, required, true) && !(leads_with_not && level >= required);
        if (parens) out_ += '(';
        const int left_required = left_operand_level(n.op);
        if (n.left->get_if<expr::Binary>()) {
            child(*n.left, left_required, leads_with_not);
        } else {
            child(*n.left, left_required);
        }
        out_ += ' ';
        out_ += source_word(n.op);
        out_ += ' ';
        child(*n.right, right_operand_level(n.op));
        if (parens) out_ += ')';
    }
    void write_node(const expr::Unary& n, int required, std::optional<bool>) {
        const bool not_op = n.op == UnaryOp::Not;
        const bool parens = parenthesised(not_op ? kNot : kNegation, required, false);
        if (parens) out_ += '(';
        out_ += not_op ? "NOT " : "- ";
        child(*n.operand, not_op ? kNot : kNegation);
        if (parens) out_ += ')';
    }
    void write_node(const expr::Cast& n, int required, std::optional<bool>) {
        const bool parens = parenthesised(kCast, required, false);
        if (parens) out_ += '(';
        child(*n.operand, kPrimary);
        out_ += " as ";
        source_text::append_quoted(out_, n.target_type);
        if (parens) out_ += ')';
    }
    void write_node(const expr::Quantifier& n, int, std::optional<bool>) {
        out_ += source_word(n.quantifier);
        out_ += ' ';
        out_ += n.variable;
        out_ += " in ";
        collection(n.collection);
        // The grammar wants the condition in parentheses; a binary operation may bring its own.
        out_ += ": ";
        const auto* b = n.condition->get_if<expr::Binary>();
        const bool own = b && !minimal_ && !leads_with_not_word(b->left.get());
        if (!own) out_ += '(';
        child(*n.condition, kOr);
        if (!own) out_ += ')';
    }
    void write_node(const expr::Aggregation& n, int, std::optional<bool>) {
        out_ += source_word(n.function);
        out_ += '(';
        collection(n.collection);
        if (n.field) {
            out_ += '.';
            out_ += *n.field;
        }
        // The grammar has no filter here; a tree built elsewhere may carry one.
        if (n.filter) {
            out_ += " where ";
            child(**n.filter, kOr);
        }
        out_ += ')';
    }
    void write_node(const expr::AggregationComprehension& n, int, std::optional<bool>) {
        out_ += source_word(n.function);
        out_ += '(';
        out_ += n.variable;
        out_ += " in ";
        collection(n.collection);
        if (n.window) {
            out_ += " over last ";
            out_ += std::to_string(n.window->duration);
            out_ += ' ';
            source_text::append_quoted(out_, n.window->unit);
        }
        if (is_literal_true(*n.predicate)) {
            out_ += ": ";
        } else {
            out_ += " where ";
            child(*n.predicate, kOr);
            out_ += ": ";
        }
        child(*n.projection, kOr);
        if (n.target_unit) {
            out_ += " as ";
            source_text::append_quoted(out_, *n.target_unit);
        }
        out_ += ')';
    }

    std::string& out_;
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
    Writer(out, writes_minimal(e, enclosing_rules)).write(e, kOr);
}

std::string expression_source(const Expression& e) {
    std::string out;
    append_expression_source(out, e);
    return out;
}

} // namespace vok
