// The one-line text form of an expression and the words of the text and source forms; see
// expression_text.h. The words are the text_word and source_word columns of expression_enums.def.
#include "expression/expression_text.h"

#include "expression/expression_printer.h"

namespace vok {

namespace {

// Both spellings of the operator and function words, the text form's and the source's.
struct Words {
    std::string_view text;
    std::string_view source;
};

constexpr Words kBinaryWords[] = {
#define VOK_BINARY_OP(Name, text_word, source_word) {text_word, source_word},
#include "expression/expression_enums.def"
};

constexpr Words kAggregateWords[] = {
#define VOK_AGGREGATE_FUNCTION(Name, text_word, source_word) {text_word, source_word},
#include "expression/expression_enums.def"
};

constexpr std::string_view kUnaryWords[] = {
#define VOK_UNARY_OP(Name, text_word) text_word,
#include "expression/expression_enums.def"
};

constexpr std::string_view kQuantifierSourceWords[] = {
#define VOK_QUANTIFIER(Name, source_word) source_word,
#include "expression/expression_enums.def"
};

} // namespace

std::string_view word_of(BinaryOp op) {
    return kBinaryWords[static_cast<size_t>(op)].text;
}

std::string_view word_of(UnaryOp op) {
    return kUnaryWords[static_cast<size_t>(op)];
}

std::string_view word_of(AggregateFunction f) {
    return kAggregateWords[static_cast<size_t>(f)].text;
}

std::string_view word_of(Quantifier q) {
    return name_of(q);
}

std::string_view source_word_of(BinaryOp op) {
    return kBinaryWords[static_cast<size_t>(op)].source;
}

std::string_view source_word_of(AggregateFunction f) {
    return kAggregateWords[static_cast<size_t>(f)].source;
}

std::string_view source_word_of(Quantifier q) {
    return kQuantifierSourceWords[static_cast<size_t>(q)];
}

namespace {

// The text form: every binary operation in parentheses, nothing else; names, units and texts
// inserted as they are.
constexpr OneLineWords kTextWords{word_of, word_of, word_of, " WHERE ", " OVER LAST ", " AS "};

struct TextForm : OneLineForm<kTextWords> {
    using OneLineForm::operator();

    void operator()(const expr::QuantityLiteral& n, AnyPlace, Pieces& t) const {
        t.write([&](std::string& out) { out += n.value.to_string(); }).text(" ").text(n.unit);
    }
    void operator()(const expr::Quantifier& n, AnyPlace, Pieces& t) const {
        t.text(word_of(n.quantifier)).text("(").text(n.variable).text(" in ");
        t.child(*n.collection).text(": ").child(*n.condition).text(")");
    }
    void operator()(const expr::Aggregation& n, AnyPlace, Pieces& t) const {
        t.text(word_of(n.function)).text("(").child(*n.collection);
        if (n.field) t.text(".").text(*n.field);
        if (n.filter) t.text(" WHERE ").child(**n.filter);
        t.text(")");
    }
};

} // namespace

void write_expression(std::string& out, const Expression& e) {
    print_expression(out, e, TextForm{});
}

std::string expression_text(const Expression& e) {
    std::string out;
    write_expression(out, e);
    return out;
}

} // namespace vok
