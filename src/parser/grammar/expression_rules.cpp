// Expression rules of the VOK DSL grammar: one rule per precedence level, from `or` down to the
// primary forms, plus aggregations, quantifiers and literals.
//
// Keywords carry no word boundary and every choice is ordered and never revisited, so the order of
// alternatives is part of the language (`notify` reads as `not ify`, a bare identifier is tried
// only after every form that can start with one). Only time_literal and instance_reference are
// atomic.
//
// The rules that contain an expression are remembered rules: ordered choice reaches them again at
// positions where they already failed (`not` read as a keyword, then as a name followed by `-`),
// and without the memo each level of such nesting would double the work.
#include "parser/grammar/grammar_rules.h"
#include "parser/grammar/lexical_scan.h"
#include "peg/combinators.h"

namespace vok::grammar {

using namespace peg::combinators;

using scan::scan_instance_reference;
using scan::scan_time_literal;

// ---- operators, loosest first ----

bool expression(DslState& s) {
    return define_remembered(s, Rule::expression, or_expr);
}

bool or_expr(DslState& s) {
    return define_remembered(s, Rule::or_expr, seq(and_expr, star(seq(ilit("or"), and_expr))));
}

bool and_expr(DslState& s) {
    return define_remembered(s, Rule::and_expr, seq(not_expr, star(seq(ilit("and"), not_expr))));
}

bool not_expr(DslState& s) {
    return define_remembered(s, Rule::not_expr,
                             choice(seq(ilit("not"), not_expr), comparison_expr));
}

bool comparison_expr(DslState& s) {
    return define_remembered(s, Rule::comparison_expr,
                             seq(additive_expr, opt(seq(comparison_op, additive_expr))));
}

bool comparison_op(DslState& s) {
    // Two-character symbols come before their one-character prefixes.
    return define(s, Rule::comparison_op,
                  choice(lit(">="), lit("<="), lit("!="), lit("="), lit(">"), lit("<"),
                         ilit("contains"), ilit("startswith"), ilit("endswith"), ilit("matches"),
                         ilit("before"), ilit("after"), ilit("during"), ilit("has_role")));
}

bool additive_expr(DslState& s) {
    return define_remembered(s, Rule::additive_expr,
                             seq(multiplicative_expr, star(seq(add_op, multiplicative_expr))));
}

bool add_op(DslState& s) {
    return define(s, Rule::add_op, choice(lit("+"), lit("-")));
}

bool multiplicative_expr(DslState& s) {
    return define_remembered(s, Rule::multiplicative_expr,
                             seq(unary_expr, star(seq(mul_op, unary_expr))));
}

bool mul_op(DslState& s) {
    return define(s, Rule::mul_op, choice(lit("*"), lit("/")));
}

bool unary_expr(DslState& s) {
    return define_remembered(s, Rule::unary_expr, choice(seq(lit("-"), unary_expr), cast_expr));
}

bool cast_expr(DslState& s) {
    return define_remembered(s, Rule::cast_expr,
                             seq(primary_expr, opt(seq(ilit("as"), string_literal))));
}

// ---- primary forms ----

bool primary_expr(DslState& s) {
    return define_remembered(s, Rule::primary_expr,
                             choice(seq(lit("("), expression, lit(")")), group_by_expr,
                                    member_access, aggregation_expr, quantified_expr,
                                    instance_reference, literal, identifier));
}

bool group_by_expr(DslState& s) {
    return define_remembered(s, Rule::group_by_expr,
                             seq(ilit("group_by"), lit("("), identifier, ilit("in"), collection,
                                 opt(seq(ilit("where"), expression)), lit(":"), expression,
                                 lit(")"), lit("{"), expression, lit("}")));
}

bool member_access(DslState& s) {
    return define(s, Rule::member_access, seq(identifier, lit("."), identifier));
}

bool aggregation_expr(DslState& s) {
    return define_remembered(s, Rule::aggregation_expr,
                             seq(aggregate_fn, lit("("),
                                 choice(aggregation_comprehension, aggregation_simple), lit(")")));
}

bool aggregation_comprehension(DslState& s) {
    return define_remembered(s, Rule::aggregation_comprehension,
                             seq(identifier, ilit("in"), collection, opt(window_clause),
                                 opt(seq(ilit("where"), expression)), lit(":"), expression));
}

bool window_clause(DslState& s) {
    return define(s, Rule::window_clause, seq(ilit("over"), ilit("last"), number, string_literal));
}

bool aggregation_simple(DslState& s) {
    return define(s, Rule::aggregation_simple,
                  seq(choice(collection, identifier), opt(seq(lit("."), identifier))));
}

bool aggregate_fn(DslState& s) {
    return define(s, Rule::aggregate_fn,
                  choice(ilit("count"), ilit("sum"), ilit("min"), ilit("max"), ilit("avg")));
}

bool quantified_expr(DslState& s) {
    return define_remembered(s, Rule::quantified_expr,
                             seq(quantifier, identifier, ilit("in"), collection, lit(":"), lit("("),
                                 expression, lit(")")));
}

bool quantifier(DslState& s) {
    return define(s, Rule::quantifier,
                  choice(ilit("exists_unique"), ilit("forall"), ilit("exists")));
}

bool collection(DslState& s) {
    return define(s, Rule::collection,
                  choice(ilit("flows"), ilit("entities"), ilit("resources"), ilit("instances"),
                         ilit("relations")));
}

bool instance_reference(DslState& s) {
    return scanned_rule<scan_instance_reference>(s, Rule::instance_reference);
}

// ---- literals ----

bool literal(DslState& s) {
    return define(s, Rule::literal,
                  choice(time_literal, multiline_string, string_literal, interval_literal,
                         quantity_literal, number, boolean));
}

bool time_literal(DslState& s) {
    return scanned_rule<scan_time_literal>(s, Rule::time_literal);
}

bool interval_literal(DslState& s) {
    return define(
        s, Rule::interval_literal,
        seq(ilit("interval"), lit("("), string_literal, lit(","), string_literal, lit(")")));
}

bool quantity_literal(DslState& s) {
    return define(s, Rule::quantity_literal, seq(number, string_literal));
}

} // namespace vok::grammar
