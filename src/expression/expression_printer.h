// One walk for every writer of expression trees as text.
//
// The one-line text form, the formatter's source and the CALM text spell each node kind their own
// way, but they walk the tree alike. A printer is a policy with one call per node kind,
//   void operator()(const expr::Binary& node, const Place& place, ExpressionPieces<Place>& out)
// that lays the node out as pieces: fixed texts, texts of the tree, texts it writes itself
// (numbers, escaped strings) and child expressions, each child with the `Place` the printer wants
// to know about where it stands (a precedence level, say; an empty struct where nothing is).
// `print_expression` visits the node kinds and writes the pieces in order.
//
// Expression trees have no depth bound (a chain of 100,000 conjunctions is valid DSL), so the walk
// does not recurse: the pieces still to write wait on one explicit stack, the next one on top, and
// the depth of a tree only grows that stack on the heap. A node's pieces before its first child go
// straight to the output; only the ones after it wait. Each node is laid out once, so the cost is
// linear in the size of the tree and its text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "expression/expression.h"
#include "json/writer.h"

namespace vok {

// The place of an expression for printers that need nothing to know about it.
struct AnyPlace {};

template <class Place> class ExpressionPieces {
public:
    // A text that outlives the walk: a constant or a text of the tree.
    ExpressionPieces& text(std::string_view t) {
        if (waiting_) {
            stack_.emplace_back(t);
        } else {
            out_ += t;
        }
        return *this;
    }

    // A text that `write(std::string&)` appends at this place.
    template <class Write> ExpressionPieces& write(Write&& write) {
        if (waiting_) {
            std::string own;
            write(own);
            stack_.emplace_back(std::move(own));
        } else {
            write(out_);
        }
        return *this;
    }

    ExpressionPieces& child(const Expression& e, Place place = {}) {
        waiting_ = true;
        stack_.emplace_back(Child{&e, std::move(place)});
        return *this;
    }

    template <class Printer>
    static void print(std::string& out, const Expression& root, Printer& printer, Place place) {
        ExpressionPieces pieces(out);
        pieces.stack_.emplace_back(Child{&root, std::move(place)});
        while (!pieces.stack_.empty()) {
            Piece piece = std::move(pieces.stack_.back());
            pieces.stack_.pop_back();
            if (const auto* view = std::get_if<std::string_view>(&piece)) {
                out += *view;
            } else if (const auto* text = std::get_if<std::string>(&piece)) {
                out += *text;
            } else {
                const Child& child = std::get<Child>(piece);
                const size_t first = pieces.stack_.size();
                pieces.waiting_ = false;
                std::visit([&](const auto& node) { printer(node, child.place, pieces); },
                           child.expression->node());
                // The node's waiting pieces went on in order; the first of them belongs on top.
                std::reverse(pieces.stack_.begin() + static_cast<std::ptrdiff_t>(first),
                             pieces.stack_.end());
            }
        }
    }

private:
    struct Child {
        const Expression* expression;
        Place place;
    };
    using Piece = std::variant<std::string_view, std::string, Child>;

    explicit ExpressionPieces(std::string& out) : out_(out) {}

    std::string& out_;
    std::vector<Piece> stack_;
    // Whether a child of the node being laid out is waiting, so that its later pieces must too.
    bool waiting_ = false;
};

// What the one-line text form and the CALM text share: leaves written as they are (literals in
// compact JSON, names as they are, times and interval bounds between double quotes without
// escaping), every binary operation in parentheses, casts, group-by and aggregation
// comprehensions in one layout. They differ in their words (`OneLineWords`: of operators and
// functions, before a group-by's filter, of windows and target units in comprehensions)
// and in how they lay out quantities, quantifiers and plain aggregations, which the printer
// deriving from this adds.
struct OneLineWords {
    std::string_view (*binary)(BinaryOp);
    std::string_view (*unary)(UnaryOp);
    std::string_view (*aggregate)(AggregateFunction);
    std::string_view where, over_last, as;
};

template <const OneLineWords& Words> struct OneLineForm {
    using Pieces = ExpressionPieces<AnyPlace>;

    static void quoted(Pieces& t, std::string_view text) { t.text("\"").text(text).text("\""); }

    void operator()(const expr::Literal& n, AnyPlace, Pieces& t) const {
        t.write([&](std::string& out) { json::write_compact(out, n.value); });
    }
    void operator()(const expr::TimeLiteral& n, AnyPlace, Pieces& t) const {
        quoted(t, n.timestamp);
    }
    void operator()(const expr::IntervalLiteral& n, AnyPlace, Pieces& t) const {
        t.text("interval(");
        quoted(t, n.start);
        t.text(", ");
        quoted(t, n.end);
        t.text(")");
    }
    void operator()(const expr::Variable& n, AnyPlace, Pieces& t) const { t.text(n.name); }
    void operator()(const expr::MemberAccess& n, AnyPlace, Pieces& t) const {
        t.text(n.object).text(".").text(n.member);
    }
    void operator()(const expr::GroupBy& n, AnyPlace, Pieces& t) const {
        t.text("group_by(").text(n.variable).text(" in ").child(*n.collection);
        if (n.filter) t.text(Words.where).child(**n.filter);
        t.text(": ").child(*n.key).text(") { ").child(*n.condition).text(" }");
    }
    void operator()(const expr::Binary& n, AnyPlace, Pieces& t) const {
        t.text("(").child(*n.left).text(" ").text(Words.binary(n.op)).text(" ");
        t.child(*n.right).text(")");
    }
    void operator()(const expr::Unary& n, AnyPlace, Pieces& t) const {
        t.text(Words.unary(n.op)).text(" ").child(*n.operand);
    }
    void operator()(const expr::Cast& n, AnyPlace, Pieces& t) const {
        t.child(*n.operand).text(" as ");
        quoted(t, n.target_type);
    }
    void operator()(const expr::AggregationComprehension& n, AnyPlace, Pieces& t) const {
        t.text(Words.aggregate(n.function)).text("(").text(n.variable).text(" in ");
        t.child(*n.collection);
        if (n.window) {
            t.text(Words.over_last);
            t.write([&](std::string& out) { out += std::to_string(n.window->duration); });
            t.text(" ");
            quoted(t, n.window->unit);
        }
        if (!is_literal_true(*n.predicate)) t.text(" WHERE ").child(*n.predicate);
        t.text(": ").child(*n.projection);
        if (n.target_unit) {
            t.text(Words.as);
            quoted(t, *n.target_unit);
        }
        t.text(")");
    }
};

// Appends the text of `root` as `printer` spells it; `place` is the place of the root.
template <class Printer, class Place = AnyPlace>
void print_expression(std::string& out, const Expression& root, Printer&& printer,
                      Place place = {}) {
    ExpressionPieces<Place>::print(out, root, printer, std::move(place));
}

} // namespace vok
