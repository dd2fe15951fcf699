// Writing expressions in their CALM text form; relies on the compact JSON writer for literals.
//
// Each node is expanded into its template: fixed texts, texts of its own (names, numbers) and
// child expressions. The pieces go onto one explicit stack in reverse order, so the next piece to
// write is always on top and the depth of the tree only grows the stack on the heap.
#include "calm/calm_expression_text.h"

#include <string_view>
#include <variant>
#include <vector>

#include "json/writer.h"

namespace vok::calm {

namespace {

std::string_view calm_word(BinaryOp op) {
    static constexpr std::string_view kWords[] = {
        "and",      "or",      "=",        "!=",     ">",     "<",        ">=",
        "<=",       "+",       "-",        "*",      "/",     "contains", "startswith",
        "endswith", "matches", "has_role", "before", "after", "during"};
    return kWords[static_cast<size_t>(op)];
}

std::string_view calm_word(UnaryOp op) {
    return op == UnaryOp::Not ? "not" : "-";
}

std::string_view calm_word(Quantifier q) {
    static constexpr std::string_view kWords[] = {"forall", "exists", "exists_unique"};
    return kWords[static_cast<size_t>(q)];
}

std::string_view calm_word(AggregateFunction f) {
    static constexpr std::string_view kWords[] = {"count", "sum", "min", "max", "avg"};
    return kWords[static_cast<size_t>(f)];
}

bool is_literal_true(const Expression& e) {
    const auto* literal = e.get_if<expr::Literal>();
    return literal != nullptr && literal->value.is_bool() && literal->value.as_bool();
}

// A piece of output: a text borrowed from the tree or from a constant, a text of its own, or an
// expression still to be expanded.
using Piece = std::variant<std::string_view, std::string, const Expression*>;

class TemplateBuilder {
public:
    TemplateBuilder& text(std::string_view t) {
        pieces_.emplace_back(t);
        return *this;
    }
    TemplateBuilder& owned(std::string t) {
        pieces_.emplace_back(std::move(t));
        return *this;
    }
    TemplateBuilder& child(const Box& b) {
        pieces_.emplace_back(static_cast<const Expression*>(b.get()));
        return *this;
    }
    // A text between double quotes, inserted as it is.
    TemplateBuilder& quoted(std::string_view t) { return text("\"").text(t).text("\""); }

    // Moves the pieces onto `stack` so that the first one is on top.
    void push_onto(std::vector<Piece>& stack) {
        for (auto it = pieces_.rbegin(); it != pieces_.rend(); ++it)
            stack.push_back(std::move(*it));
        pieces_.clear();
    }

private:
    std::vector<Piece> pieces_;
};

// Writes a leaf directly to `out`, or lays out the template of a node with children.
void expand(const Expression& e, std::string& out, TemplateBuilder& t) {
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::Literal>) {
                json::write_compact(out, n.value);
            } else if constexpr (std::is_same_v<T, expr::QuantityLiteral>) {
                out += n.value.to_string();
                out += " \"";
                out += n.unit;
                out += '"';
            } else if constexpr (std::is_same_v<T, expr::TimeLiteral>) {
                out += '"';
                out += n.timestamp;
                out += '"';
            } else if constexpr (std::is_same_v<T, expr::IntervalLiteral>) {
                out += "interval(\"";
                out += n.start;
                out += "\", \"";
                out += n.end;
                out += "\")";
            } else if constexpr (std::is_same_v<T, expr::Variable>) {
                out += n.name;
            } else if constexpr (std::is_same_v<T, expr::GroupBy>) {
                t.text("group_by(").text(n.variable).text(" in ").child(n.collection);
                if (n.filter) t.text(" where ").child(*n.filter);
                t.text(": ").child(n.key).text(") { ").child(n.condition).text(" }");
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                t.text("(").child(n.left).text(" ").text(calm_word(n.op)).text(" ");
                t.child(n.right).text(")");
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                t.text(calm_word(n.op)).text(" ").child(n.operand);
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                t.child(n.operand).text(" as ").quoted(n.target_type);
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                t.text(calm_word(n.quantifier)).text(" ").text(n.variable).text(" in ");
                t.child(n.collection).text(": (").child(n.condition).text(")");
            } else if constexpr (std::is_same_v<T, expr::MemberAccess>) {
                out += n.object;
                out += '.';
                out += n.member;
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                t.text(calm_word(n.function)).text("(").child(n.collection);
                if (n.field) {
                    t.text(".").text(*n.field);
                    // Without a filter the field is followed by a blank before the parenthesis.
                    if (!n.filter) t.text(" ");
                }
                if (n.filter) t.text(" where ").child(*n.filter);
                t.text(")");
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                t.text(calm_word(n.function)).text("(").text(n.variable).text(" in ");
                t.child(n.collection);
                if (n.window) {
                    t.text(" over last ").owned(std::to_string(n.window->duration)).text(" ");
                    t.quoted(n.window->unit);
                }
                if (!is_literal_true(*n.predicate)) t.text(" WHERE ").child(n.predicate);
                t.text(": ").child(n.projection);
                if (n.target_unit) t.text(" as ").quoted(*n.target_unit);
                t.text(")");
            }
        },
        e.node());
}

} // namespace

std::string expression_to_calm_text(const Expression& expression) {
    std::string out;
    std::vector<Piece> stack;
    stack.emplace_back(&expression);
    TemplateBuilder builder;
    while (!stack.empty()) {
        Piece piece = std::move(stack.back());
        stack.pop_back();
        if (const auto* view = std::get_if<std::string_view>(&piece)) {
            out += *view;
        } else if (const auto* text = std::get_if<std::string>(&piece)) {
            out += *text;
        } else {
            expand(*std::get<const Expression*>(piece), out, builder);
            builder.push_onto(stack);
        }
    }
    return out;
}

} // namespace vok::calm
