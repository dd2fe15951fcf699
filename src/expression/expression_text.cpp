// The one-line text form of an expression; see expression_text.h. The operator and function words
// are the text_word column of expression_enums.def.
#include "expression/expression_text.h"

#include "common/deep_recursion.h"
#include "json/writer.h"

namespace vok {

std::string_view word_of(BinaryOp op) {
    static constexpr std::string_view kWords[] = {
#define VOK_BINARY_OP(Name, text_word, source_word) text_word,
#include "expression/expression_enums.def"
    };
    return kWords[static_cast<size_t>(op)];
}

std::string_view word_of(UnaryOp op) {
    static constexpr std::string_view kWords[] = {
#define VOK_UNARY_OP(Name, text_word) text_word,
#include "expression/expression_enums.def"
    };
    return kWords[static_cast<size_t>(op)];
}

std::string_view word_of(AggregateFunction f) {
    static constexpr std::string_view kWords[] = {
#define VOK_AGGREGATE_FUNCTION(Name, text_word, source_word) text_word,
#include "expression/expression_enums.def"
    };
    return kWords[static_cast<size_t>(f)];
}

std::string_view word_of(Quantifier q) {
    return name_of(q);
}

namespace {

void write_child(std::string& out, const Box& child) {
    with_stack_room([&] { write_expression(out, *child); });
}

bool is_literal_true(const Expression& e) {
    const auto* lit = e.get_if<expr::Literal>();
    return lit && lit->value.is_bool() && lit->value.as_bool();
}

void write_quoted_raw(std::string& out, std::string_view text) {
    out += '"';
    out += text;
    out += '"';
}

} // namespace

void write_expression(std::string& out, const Expression& e) {
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::Literal>) {
                json::write_compact(out, n.value);
            } else if constexpr (std::is_same_v<T, expr::QuantityLiteral>) {
                out += n.value.to_string();
                out += ' ';
                out += n.unit;
            } else if constexpr (std::is_same_v<T, expr::TimeLiteral>) {
                write_quoted_raw(out, n.timestamp);
            } else if constexpr (std::is_same_v<T, expr::IntervalLiteral>) {
                out += "interval(";
                write_quoted_raw(out, n.start);
                out += ", ";
                write_quoted_raw(out, n.end);
                out += ')';
            } else if constexpr (std::is_same_v<T, expr::Variable>) {
                out += n.name;
            } else if constexpr (std::is_same_v<T, expr::GroupBy>) {
                out += "group_by(";
                out += n.variable;
                out += " in ";
                write_child(out, n.collection);
                if (n.filter) {
                    out += " WHERE ";
                    write_child(out, *n.filter);
                }
                out += ": ";
                write_child(out, n.key);
                out += ") { ";
                write_child(out, n.condition);
                out += " }";
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                out += '(';
                write_child(out, n.left);
                out += ' ';
                out += word_of(n.op);
                out += ' ';
                write_child(out, n.right);
                out += ')';
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                out += word_of(n.op);
                out += ' ';
                write_child(out, n.operand);
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                write_child(out, n.operand);
                out += " as ";
                write_quoted_raw(out, n.target_type);
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                out += word_of(n.quantifier);
                out += '(';
                out += n.variable;
                out += " in ";
                write_child(out, n.collection);
                out += ": ";
                write_child(out, n.condition);
                out += ')';
            } else if constexpr (std::is_same_v<T, expr::MemberAccess>) {
                out += n.object;
                out += '.';
                out += n.member;
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                out += word_of(n.function);
                out += '(';
                write_child(out, n.collection);
                if (n.field) {
                    out += '.';
                    out += *n.field;
                }
                if (n.filter) {
                    out += " WHERE ";
                    write_child(out, *n.filter);
                }
                out += ')';
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                out += word_of(n.function);
                out += '(';
                out += n.variable;
                out += " in ";
                write_child(out, n.collection);
                if (n.window) {
                    out += " OVER LAST ";
                    out += std::to_string(n.window->duration);
                    out += ' ';
                    write_quoted_raw(out, n.window->unit);
                }
                if (is_literal_true(*n.predicate)) {
                    out += ": ";
                } else {
                    out += " WHERE ";
                    write_child(out, n.predicate);
                    out += ": ";
                }
                write_child(out, n.projection);
                if (n.target_unit) {
                    out += " AS ";
                    write_quoted_raw(out, *n.target_unit);
                }
                out += ')';
            }
        },
        e.node());
}

std::string expression_text(const Expression& e) {
    std::string out;
    write_expression(out, e);
    return out;
}

} // namespace vok
