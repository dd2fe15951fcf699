// Building Expression trees from the expression rules' pairs; see expression_builder.h. Token
// values come from token_readers.h; nesting is bounded by the grammar, and the builders recurse
// through with_stack_room.
#include "parser/expression_builder.h"

#include <limits>

#include "common/ascii.h"
#include "common/deep_recursion.h"

namespace vok {

namespace {

ParserError missing(const char* what) {
    return ParserError::grammar(what);
}

std::string rule_text(grammar::Rule r) {
    return std::string(grammar::rule_name(r));
}

ParseResult<Expression> build_child(const grammar::DslPair& pair) {
    return with_stack_room([&] { return build_expression(pair); });
}

ParseResult<Expression> fold(const grammar::DslPair& pair, BinaryOp op, const char* missing_left) {
    grammar::DslPairs children = pair.children();
    auto first = children.next();
    if (!first) return Err(missing(missing_left));
    VOK_ASSIGN(Expression acc, build_child(*first));
    while (auto next = children.next()) {
        VOK_ASSIGN(Expression right, build_child(*next));
        acc = Expression::binary(op, std::move(acc), std::move(right));
    }
    return acc;
}

ParseResult<Expression> build_not(const grammar::DslPair& pair) {
    auto inner = pair.children().peek();
    if (!inner) return Err(missing("Expected expression in NOT"));
    VOK_ASSIGN(Expression operand, build_child(*inner));
    if (inner->rule() == grammar::Rule::not_expr)
        return Expression::unary(UnaryOp::Not, std::move(operand));
    return operand;
}

std::optional<BinaryOp> comparison_op(std::string_view text) {
    struct Word {
        std::string_view text;
        BinaryOp op;
        bool ignore_case;
    };
    static constexpr Word kWords[] = {
        {"=", BinaryOp::Equal, false},
        {"!=", BinaryOp::NotEqual, false},
        {">", BinaryOp::GreaterThan, false},
        {"<", BinaryOp::LessThan, false},
        {">=", BinaryOp::GreaterThanOrEqual, false},
        {"<=", BinaryOp::LessThanOrEqual, false},
        {"contains", BinaryOp::Contains, true},
        {"startswith", BinaryOp::StartsWith, true},
        {"endswith", BinaryOp::EndsWith, true},
        {"matches", BinaryOp::Matches, true},
        {"before", BinaryOp::Before, true},
        {"after", BinaryOp::After, true},
        {"during", BinaryOp::During, true},
        {"has_role", BinaryOp::HasRole, true},
    };
    std::string lowered = ascii_lowercase(text);
    for (const Word& w : kWords)
        if ((w.ignore_case ? std::string_view(lowered) : text) == w.text) return w.op;
    return std::nullopt;
}

ParseResult<Expression> build_comparison(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto left_pair = children.next();
    if (!left_pair) return Err(missing("Expected left expression in comparison"));
    VOK_ASSIGN(Expression left, build_child(*left_pair));
    auto op_pair = children.next();
    if (!op_pair) return left;
    auto op = comparison_op(op_pair->as_str());
    if (!op) {
        return Err(
            ParserError::invalid_expression("Unknown comparison operator: " + pair_text(*op_pair)));
    }
    auto right_pair = children.next();
    if (!right_pair) return Err(missing("Expected right expression in comparison"));
    VOK_ASSIGN(Expression right, build_child(*right_pair));
    return Expression::binary(*op, std::move(left), std::move(right));
}

ParseResult<Expression> build_arithmetic(const grammar::DslPair& pair, bool additive) {
    grammar::DslPairs children = pair.children();
    auto first = children.next();
    if (!first) {
        return Err(missing(additive ? "Expected left expression in additive"
                                    : "Expected left expression in multiplicative"));
    }
    VOK_ASSIGN(Expression acc, build_child(*first));
    while (auto op_pair = children.next()) {
        std::string_view text = op_pair->as_str();
        BinaryOp op;
        if (additive && text == "+") {
            op = BinaryOp::Plus;
        } else if (additive && text == "-") {
            op = BinaryOp::Minus;
        } else if (!additive && text == "*") {
            op = BinaryOp::Multiply;
        } else if (!additive && text == "/") {
            op = BinaryOp::Divide;
        } else {
            return Err(ParserError::invalid_expression(
                additive ? "Invalid additive operator" : "Invalid multiplicative operator"));
        }
        auto right_pair = children.next();
        if (!right_pair) {
            return Err(missing(additive ? "Expected right expression in additive"
                                        : "Expected right expression in multiplicative"));
        }
        VOK_ASSIGN(Expression right, build_child(*right_pair));
        acc = Expression::binary(op, std::move(acc), std::move(right));
    }
    return acc;
}

ParseResult<Expression> build_unary(const grammar::DslPair& pair) {
    auto inner = pair.children().peek();
    if (pair.as_str().starts_with("-")) {
        if (!inner) return Err(missing("Expected expression after unary minus"));
        VOK_ASSIGN(Expression operand, build_child(*inner));
        return Expression::unary(UnaryOp::Negate, std::move(operand));
    }
    if (!inner) return Err(missing("Expected expression in unary"));
    return build_child(*inner);
}

ParseResult<Expression> build_cast(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto operand_pair = children.next();
    if (!operand_pair) return Err(missing("Expected primary expression in cast"));
    VOK_ASSIGN(Expression operand, build_child(*operand_pair));
    auto target = children.next();
    if (!target) return operand;
    VOK_ASSIGN(std::string target_type, parse_string_literal(*target));
    return Expression(expr::Cast{Box(std::move(operand)), std::move(target_type)});
}

ParseResult<Expression> number_literal(const grammar::DslPair& pair) {
    auto d = Decimal::parse(pair.as_str());
    if (!d.ok()) return Err(ParserError::invalid_quantity("Invalid decimal: " + pair_text(pair)));
    VOK_ASSIGN(double v, decimal_to_finite_f64(*d, true));
    return Expression::literal(json::Value::from_f64(v));
}

ParseResult<Expression> build_literal(const grammar::DslPair& pair) {
    auto inner = pair.children().peek();
    if (!inner) return Err(missing("Expected literal content"));
    switch (inner->rule()) {
    case grammar::Rule::string_literal: {
        VOK_ASSIGN(std::string s, parse_string_literal(*inner));
        return Expression::literal(json::Value(std::move(s)));
    }
    case grammar::Rule::multiline_string: {
        VOK_ASSIGN(std::string s, parse_multiline_string(*inner));
        return Expression::literal(json::Value(std::move(s)));
    }
    case grammar::Rule::number:
        return number_literal(*inner);
    case grammar::Rule::boolean:
        return Expression::literal(
            json::Value(equals_ignoring_ascii_case(inner->as_str(), "true")));
    case grammar::Rule::time_literal: {
        std::string_view text = inner->as_str();
        while (!text.empty() && text.front() == '"')
            text.remove_prefix(1);
        while (!text.empty() && text.back() == '"')
            text.remove_suffix(1);
        return Expression(expr::TimeLiteral{std::string(text)});
    }
    case grammar::Rule::interval_literal: {
        grammar::DslPairs parts = inner->children();
        auto start = parts.next();
        if (!start) return Err(missing("Expected start time in interval literal"));
        auto end = parts.next();
        if (!end) return Err(missing("Expected end time in interval literal"));
        VOK_ASSIGN(std::string start_text, parse_string_literal(*start));
        VOK_ASSIGN(std::string end_text, parse_string_literal(*end));
        return Expression(expr::IntervalLiteral{std::move(start_text), std::move(end_text)});
    }
    case grammar::Rule::quantity_literal: {
        grammar::DslPairs parts = inner->children();
        auto number = parts.next();
        if (!number) return Err(missing("Expected number in quantity literal"));
        auto unit = parts.next();
        if (!unit) return Err(missing("Expected unit string in quantity literal"));
        auto value = Decimal::parse(number->as_str());
        if (!value.ok())
            return Err(ParserError::invalid_quantity("Invalid decimal: " + pair_text(*number)));
        VOK_ASSIGN(std::string unit_text, parse_string_literal(*unit));
        return Expression(expr::QuantityLiteral{*value, std::move(unit_text)});
    }
    default:
        return Err(
            ParserError::invalid_expression("Unknown literal type: " + rule_text(inner->rule())));
    }
}

Expression collection_variable(const grammar::DslPair& pair) {
    return Expression::variable(pair_text_lowercased(pair));
}

ParseResult<Expression> build_group_by(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto variable = children.next();
    if (!variable) return Err(missing("Expected variable in group_by"));
    auto collection = children.next();
    if (!collection) return Err(missing("Expected collection in group_by"));
    if (children.empty()) return Err(missing("Expected key or where clause in group_by"));
    std::vector<grammar::DslPair> operands;
    while (auto next = children.next())
        operands.push_back(*next);
    if (operands.size() != 2 && operands.size() != 3) {
        return Err(ParserError::grammar("Unexpected number of expressions in group_by: " +
                                        std::to_string(operands.size())));
    }
    OptBox filter;
    size_t i = 0;
    if (operands.size() == 3) {
        VOK_ASSIGN(Expression f, build_child(operands[i++]));
        filter.emplace(std::move(f));
    }
    VOK_ASSIGN(Expression key, build_child(operands[i++]));
    VOK_ASSIGN(Expression condition, build_child(operands[i++]));
    return Expression(expr::GroupBy{pair_text(*variable), Box(collection_variable(*collection)),
                                    std::move(filter), Box(std::move(key)),
                                    Box(std::move(condition))});
}

ParseResult<Expression> build_quantified(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto word = children.next();
    if (!word) return Err(missing("Expected quantifier in quantified expression"));
    std::string lowered = pair_text_lowercased(*word);
    Quantifier q;
    if (lowered == "forall") {
        q = Quantifier::ForAll;
    } else if (lowered == "exists") {
        q = Quantifier::Exists;
    } else if (lowered == "exists_unique") {
        q = Quantifier::ExistsUnique;
    } else {
        return Err(ParserError::invalid_expression("Unknown quantifier: " + pair_text(*word)));
    }
    auto variable = children.next();
    if (!variable) return Err(missing("Expected variable identifier in quantified expression"));
    auto collection = children.next();
    if (!collection) return Err(missing("Expected collection identifier in quantified expression"));
    auto condition = children.next();
    if (!condition) return Err(missing("Expected quantified condition expression"));
    VOK_ASSIGN(Expression cond, build_child(*condition));
    return Expression::quantifier(q, pair_text(*variable), collection_variable(*collection),
                                  std::move(cond));
}

std::optional<AggregateFunction> aggregate_function(std::string_view lowered) {
    for (size_t i = 0; i < kAggregateFunctionNames.size(); ++i)
        if (equals_ignoring_ascii_case(kAggregateFunctionNames[i], lowered))
            return static_cast<AggregateFunction>(i);
    return std::nullopt;
}

ParseResult<Expression> build_aggregation_simple(AggregateFunction function,
                                                 const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto source = children.next();
    if (!source) return Err(missing("Expected collection or identifier in aggregation_simple"));
    std::string collection;
    if (source->rule() == grammar::Rule::identifier) {
        collection = pair_text(*source);
    } else if (source->rule() == grammar::Rule::collection) {
        collection = pair_text_lowercased(*source);
    } else {
        return Err(ParserError::grammar("Expected collection or identifier, got " +
                                        rule_text(source->rule())));
    }
    std::optional<std::string> field;
    std::optional<Expression> filter;
    while (auto next = children.next()) {
        if (next->rule() == grammar::Rule::identifier) {
            field = pair_text(*next);
        } else if (next->rule() == grammar::Rule::expression) {
            VOK_ASSIGN(Expression f, build_child(*next));
            filter.emplace(std::move(f));
        }
    }
    return Expression::aggregation(function, Expression::variable(std::move(collection)),
                                   std::move(field), std::move(filter));
}

ParseResult<Expression> build_comprehension(AggregateFunction function,
                                            const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto variable = children.next();
    if (!variable) return Err(missing("Expected variable in aggregation comprehension"));
    auto collection = children.next();
    if (!collection) return Err(missing("Expected collection in aggregation comprehension"));
    auto third = children.next();
    if (!third) {
        return Err(missing(
            "Expected predicate expression, projection, or window in aggregation comprehension"));
    }
    std::optional<WindowSpec> window;
    std::optional<grammar::DslPair> scan_start = third;
    if (third->rule() == grammar::Rule::window_clause) {
        grammar::DslPairs parts = third->children();
        auto duration = parts.next();
        if (!duration) return Err(missing("Expected duration in window clause"));
        VOK_ASSIGN(int32_t count, parse_number(*duration));
        if (count < 0)
            return Err(ParserError::invalid_quantity("Window duration must be non-negative"));
        auto unit = parts.next();
        if (!unit) return Err(missing("Expected unit in window clause"));
        VOK_ASSIGN(std::string unit_text, parse_string_literal(*unit));
        window = WindowSpec{static_cast<uint64_t>(count), std::move(unit_text)};
        scan_start = children.next();
        if (!scan_start) {
            return Err(missing(
                "Expected predicate or projection expression in aggregation comprehension"));
        }
    }
    std::vector<grammar::DslPair> operands;
    std::optional<std::string> target_unit;
    for (std::optional<grammar::DslPair> p = scan_start; p; p = children.next()) {
        switch (p->rule()) {
        case grammar::Rule::expression:
            operands.push_back(*p);
            break;
        case grammar::Rule::string_literal: {
            VOK_ASSIGN(std::string s, parse_string_literal(*p));
            target_unit = std::move(s);
            break;
        }
        default:
            if (p->rule() == grammar::Rule::identifier &&
                equals_ignoring_ascii_case(p->as_str(), "as"))
                break;
            return Err(ParserError::grammar("Unexpected token " + rule_text(p->rule()) +
                                            " in aggregation comprehension"));
        }
    }
    if (operands.size() != 1 && operands.size() != 2) {
        return Err(
            ParserError::grammar("Unexpected number of expressions in aggregation comprehension: " +
                                 std::to_string(operands.size())));
    }
    Expression predicate = Expression::literal(json::Value(true));
    size_t i = 0;
    if (operands.size() == 2) {
        VOK_ASSIGN(predicate, build_child(operands[i++]));
    }
    VOK_ASSIGN(Expression projection, build_child(operands[i]));
    return Expression(expr::AggregationComprehension{
        function, pair_text(*variable), Box(collection_variable(*collection)), std::move(window),
        Box(std::move(predicate)), Box(std::move(projection)), std::move(target_unit)});
}

ParseResult<Expression> build_aggregation(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto word = children.next();
    if (!word) return Err(missing("Expected aggregate function in aggregation expression"));
    auto function = aggregate_function(pair_text_lowercased(*word));
    if (!function) {
        return Err(
            ParserError::invalid_expression("Unknown aggregate function: " + pair_text(*word)));
    }
    auto body = children.next();
    if (!body) return Err(missing("Expected collection in aggregation expression"));
    if (body->rule() == grammar::Rule::aggregation_comprehension)
        return build_comprehension(*function, *body);
    return build_aggregation_simple(*function, *body);
}

ParseResult<Expression> build_primary(const grammar::DslPair& pair) {
    auto inner = pair.children().peek();
    if (!inner) return Err(missing("Expected inner expression in primary"));
    switch (inner->rule()) {
    case grammar::Rule::expression:
        return build_child(*inner);
    case grammar::Rule::identifier:
        return Expression::variable(pair_text(*inner));
    case grammar::Rule::member_access: {
        grammar::DslPairs parts = inner->children();
        auto object = parts.next();
        if (!object) return Err(missing("Expected object identifier in member access"));
        auto member = parts.next();
        if (!member) return Err(missing("Expected member identifier in member access"));
        return Expression(expr::MemberAccess{pair_text(*object), pair_text(*member)});
    }
    case grammar::Rule::literal:
        return build_literal(*inner);
    case grammar::Rule::group_by_expr:
        return build_group_by(*inner);
    case grammar::Rule::quantified_expr:
        return build_quantified(*inner);
    case grammar::Rule::aggregation_expr:
        return build_aggregation(*inner);
    default:
        return Err(ParserError::invalid_expression("Unexpected primary expression: " +
                                                   rule_text(inner->rule())));
    }
}

} // namespace

namespace {

// The grammar leaves one pair per precedence level, so a plain operand sits under a chain of
// single-child pairs (expression, or_expr, and_expr, ..., primary_expr). Those levels add no node;
// stepping down through them directly saves building and moving a result at every level. A level
// is only skipped when it has exactly the child it needs, so every malformed tree still reaches the
// level builder that reports it.
grammar::DslPair skip_pass_through_levels(grammar::DslPair pair) {
    while (true) {
        grammar::DslPairs children = pair.children();
        auto first = children.next();
        if (!first) return pair;
        const bool single = children.empty();
        switch (pair.rule()) {
        case grammar::Rule::expression:
            break;
        case grammar::Rule::or_expr:
        case grammar::Rule::and_expr:
        case grammar::Rule::comparison_expr:
        case grammar::Rule::additive_expr:
        case grammar::Rule::multiplicative_expr:
        case grammar::Rule::cast_expr:
            if (!single) return pair;
            break;
        case grammar::Rule::not_expr:
            if (first->rule() == grammar::Rule::not_expr) return pair;
            break;
        case grammar::Rule::unary_expr:
            if (pair.as_str().starts_with("-")) return pair;
            break;
        case grammar::Rule::primary_expr:
            if (first->rule() != grammar::Rule::expression) return pair;
            break;
        default:
            return pair;
        }
        pair = *first;
    }
}

} // namespace

ParseResult<Expression> build_expression(const grammar::DslPair& start) {
    const grammar::DslPair pair = skip_pass_through_levels(start);
    switch (pair.rule()) {
    case grammar::Rule::expression: {
        auto inner = pair.children().peek();
        if (!inner) return Err(missing("Empty expression"));
        return build_child(*inner);
    }
    case grammar::Rule::or_expr:
        return fold(pair, BinaryOp::Or, "Expected left expression in OR");
    case grammar::Rule::and_expr:
        return fold(pair, BinaryOp::And, "Expected left expression in AND");
    case grammar::Rule::not_expr:
        return build_not(pair);
    case grammar::Rule::comparison_expr:
        return build_comparison(pair);
    case grammar::Rule::additive_expr:
        return build_arithmetic(pair, true);
    case grammar::Rule::multiplicative_expr:
        return build_arithmetic(pair, false);
    case grammar::Rule::unary_expr:
        return build_unary(pair);
    case grammar::Rule::cast_expr:
        return build_cast(pair);
    case grammar::Rule::primary_expr:
        return build_primary(pair);
    default:
        return Err(ParserError::invalid_expression("Unexpected expression rule: " +
                                                   rule_text(pair.rule())));
    }
}

ParseResult<TargetFormat> parse_target_format(const grammar::DslPair& pair) {
    std::string lowered = pair_text_lowercased(pair);
    if (lowered == "calm") return TargetFormat::Calm;
    if (lowered == "kg") return TargetFormat::Kg;
    if (lowered == "sbvr") return TargetFormat::Sbvr;
    if (lowered == "protobuf" || lowered == "proto") return TargetFormat::Protobuf;
    return Err(ParserError::grammar("Unknown target format: " + pair_text(pair)));
}

ParseResult<TimeSpan> parse_duration_unit(int64_t value, std::string_view unit, size_t line,
                                          size_t column) {
    std::string lowered = ascii_lowercase(unit);
    int64_t multiplier = 0;
    if (lowered == "second" || lowered == "seconds" || lowered == "s") {
        multiplier = 1;
    } else if (lowered == "minute" || lowered == "minutes" || lowered == "m") {
        multiplier = 60;
    } else if (lowered == "hour" || lowered == "hours" || lowered == "h") {
        multiplier = 3600;
    } else if (lowered == "day" || lowered == "days" || lowered == "d") {
        multiplier = 86400;
    } else {
        return Err(ParserError::grammar(
            "Invalid duration unit '" + std::string(unit) + "' at " + std::to_string(line) + ":" +
            std::to_string(column) + " (allowed: second(s)/s, minute(s)/m, hour(s)/h, day(s)/d)"));
    }
    int64_t seconds = 0;
    // A span holds at most this many seconds either way (its range is counted in milliseconds).
    constexpr int64_t kMaxSpanSeconds = std::numeric_limits<int64_t>::max() / 1000;
    if (__builtin_mul_overflow(value, multiplier, &seconds) || seconds > kMaxSpanSeconds ||
        seconds < -kMaxSpanSeconds) {
        return Err(ParserError::grammar("Duration overflow for value " + std::to_string(value) +
                                        " " + std::string(unit) + " at " + std::to_string(line) +
                                        ":" + std::to_string(column)));
    }
    return TimeSpan{seconds};
}

} // namespace vok
