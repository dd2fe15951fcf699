// Writing expressions in their CALM text form: the CALM words and templates of each node kind,
// on the shared expression walk; literals in compact JSON.
#include "calm/calm_expression_text.h"

#include <string_view>

#include "expression/expression_printer.h"
#include "expression/expression_text.h"

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

// Quantifiers and aggregate functions keep their source words.
std::string_view calm_word(Quantifier q) {
    return source_word_of(q);
}

std::string_view calm_word(AggregateFunction f) {
    return source_word_of(f);
}

// The CALM spelling; names, units and texts inserted as they are.
constexpr OneLineWords kCalmWords{calm_word, calm_word,     calm_word,
                                  " where ", " over last ", " as "};

struct CalmText : OneLineForm<kCalmWords> {
    using OneLineForm::operator();

    void operator()(const expr::QuantityLiteral& n, AnyPlace, Pieces& t) const {
        t.write([&](std::string& out) { out += n.value.to_string(); }).text(" ");
        quoted(t, n.unit);
    }
    void operator()(const expr::Quantifier& n, AnyPlace, Pieces& t) const {
        t.text(calm_word(n.quantifier)).text(" ").text(n.variable).text(" in ");
        t.child(*n.collection).text(": (").child(*n.condition).text(")");
    }
    void operator()(const expr::Aggregation& n, AnyPlace, Pieces& t) const {
        t.text(calm_word(n.function)).text("(").child(*n.collection);
        if (n.field) {
            t.text(".").text(*n.field);
            // Without a filter the field is followed by a blank before the parenthesis.
            if (!n.filter) t.text(" ");
        }
        if (n.filter) t.text(" where ").child(**n.filter);
        t.text(")");
    }
};

} // namespace

std::string expression_to_calm_text(const Expression& expression) {
    std::string out;
    print_expression(out, expression, CalmText{});
    return out;
}

} // namespace vok::calm
