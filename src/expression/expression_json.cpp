// Reading and writing the JSON forms of an expression; see expression_json.h. Reading goes through
// the typed JSON reader's struct and enum helpers (json/deserializer.h) over the variant names of
// expression_enums.def; deep trees recurse through with_stack_room.
#include "expression/expression_json.h"

#include <cmath>
#include <functional>

#include "common/deep_recursion.h"
#include "common/invariant.h"
#include "json/record_reader.h"

namespace vok {

namespace {

using json::Deserializer;
using json::Field;
using json::Status;

constexpr std::string_view kDecimalExpecting = "a Decimal type representing a fixed-point number";

// A finite double in plain decimal notation with the digits of its shortest round-trip text
// (1e21 gives "1000000000000000000000", 1.5e-7 gives "0.00000015").
std::string plain_decimal_text(double v) {
    std::string sci = json::format_f64(v);
    size_t e = sci.find('e');
    if (e == std::string::npos) return sci;
    bool negative = sci[0] == '-';
    std::string mantissa = sci.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
    int exponent = std::stoi(sci.substr(e + 1));
    std::string digits;
    int point = 1; // digits before the point in the mantissa
    for (char c : mantissa) {
        if (c == '.') continue;
        digits += c;
    }
    point += exponent;
    std::string out = negative ? "-" : "";
    if (point <= 0) {
        out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
    } else if (static_cast<size_t>(point) >= digits.size()) {
        out += digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<size_t>(point)) + "." +
               digits.substr(static_cast<size_t>(point));
    }
    return out;
}

// A field reader that stores a child expression.
std::function<Status(Deserializer&)> box_field(std::optional<Box>& out) {
    return [&out](Deserializer& d) -> Status {
        // A level of nesting costs a few kilobytes of frames here (the struct reader and its
        // field table): well within the reader's depth limit, a small stack still runs out.
        VOK_ASSIGN(Expression e, with_stack_room([&] { return read_expression(d); }));
        out.emplace(std::move(e));
        return Ok();
    };
}

std::string expecting_variant(ExpressionKind kind) {
    return "struct variant Expression::" +
           std::string(kExpressionVariantNames[static_cast<size_t>(kind)]);
}

Box take(std::optional<Box>& b) {
    return std::move(*b);
}

Result<Expression, json::Error> read_struct_variant(Deserializer& de, ExpressionKind kind) {
    const std::string expecting = expecting_variant(kind);
    switch (kind) {
    case ExpressionKind::QuantityLiteral: {
        Decimal value;
        std::string unit;
        Field fields[] = {
            {"value", false,
             [&](Deserializer& d) -> Status {
                 VOK_ASSIGN(value, read_decimal(d));
                 return Ok();
             }},
            json::string_field("unit", unit),
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::QuantityLiteral{value, std::move(unit)});
    }
    case ExpressionKind::IntervalLiteral: {
        std::string start, end;
        Field fields[] = {json::string_field("start", start), json::string_field("end", end)};
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::IntervalLiteral{std::move(start), std::move(end)});
    }
    case ExpressionKind::GroupBy: {
        std::string variable;
        std::optional<Box> collection, filter, key, condition;
        Field fields[] = {
            json::string_field("variable", variable),
            {"collection", false, box_field(collection)},
            {"filter", true, box_field(filter)},
            {"key", false, box_field(key)},
            {"condition", false, box_field(condition)},
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::GroupBy{std::move(variable), take(collection), std::move(filter),
                                        take(key), take(condition)});
    }
    case ExpressionKind::Binary: {
        BinaryOp op = BinaryOp::And;
        std::optional<Box> left, right;
        Field fields[] = {
            json::enum_field("op", op, kBinaryOpNames),
            {"left", false, box_field(left)},
            {"right", false, box_field(right)},
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::Binary{op, take(left), take(right)});
    }
    case ExpressionKind::Unary: {
        UnaryOp op = UnaryOp::Not;
        std::optional<Box> operand;
        Field fields[] = {
            json::enum_field("op", op, kUnaryOpNames),
            {"operand", false, box_field(operand)},
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::Unary{op, take(operand)});
    }
    case ExpressionKind::Cast: {
        std::optional<Box> operand;
        std::string target_type;
        Field fields[] = {
            {"operand", false, box_field(operand)},
            json::string_field("target_type", target_type),
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::Cast{take(operand), std::move(target_type)});
    }
    case ExpressionKind::Quantifier: {
        Quantifier q = Quantifier::ForAll;
        std::string variable;
        std::optional<Box> collection, condition;
        Field fields[] = {
            json::enum_field("quantifier", q, kQuantifierNames),
            json::string_field("variable", variable),
            {"collection", false, box_field(collection)},
            {"condition", false, box_field(condition)},
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(
            expr::Quantifier{q, std::move(variable), take(collection), take(condition)});
    }
    case ExpressionKind::MemberAccess: {
        std::string object, member;
        Field fields[] = {json::string_field("object", object),
                          json::string_field("member", member)};
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::MemberAccess{std::move(object), std::move(member)});
    }
    case ExpressionKind::Aggregation: {
        AggregateFunction function = AggregateFunction::Count;
        std::optional<Box> collection, filter;
        std::optional<std::string> field;
        Field fields[] = {
            json::enum_field("function", function, kAggregateFunctionNames),
            {"collection", false, box_field(collection)},
            json::optional_string_field("field", field),
            {"filter", true, box_field(filter)},
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(
            expr::Aggregation{function, take(collection), std::move(field), std::move(filter)});
    }
    case ExpressionKind::AggregationComprehension: {
        AggregateFunction function = AggregateFunction::Count;
        std::string variable;
        std::optional<Box> collection, predicate, projection;
        std::optional<WindowSpec> window;
        std::optional<std::string> target_unit;
        Field fields[] = {
            json::enum_field("function", function, kAggregateFunctionNames),
            json::string_field("variable", variable),
            {"collection", false, box_field(collection)},
            {"window", true,
             [&](Deserializer& d) -> Status {
                 VOK_ASSIGN(window, read_window_spec(d));
                 return Ok();
             }},
            {"predicate", false, box_field(predicate)},
            {"projection", false, box_field(projection)},
            json::optional_string_field("target_unit", target_unit),
        };
        VOK_TRY(json::read_struct(de, expecting, fields));
        return Expression(expr::AggregationComprehension{
            function, std::move(variable), take(collection), std::move(window), take(predicate),
            take(projection), std::move(target_unit)});
    }
    default:
        break;
    }
    invariant_failed("not a struct variant");
}

Result<Expression, json::Error> read_content(Deserializer& de, ExpressionKind kind) {
    switch (kind) {
    case ExpressionKind::Literal: {
        VOK_ASSIGN(json::Value v, de.read_any());
        return Expression::literal(std::move(v));
    }
    case ExpressionKind::TimeLiteral: {
        VOK_ASSIGN(std::string s, json::read_string(de));
        return Expression(expr::TimeLiteral{std::move(s)});
    }
    case ExpressionKind::Variable: {
        VOK_ASSIGN(std::string s, json::read_string(de));
        return Expression::variable(std::move(s));
    }
    default:
        return read_struct_variant(de, kind);
    }
}

bool is_newtype(ExpressionKind kind) {
    return kind == ExpressionKind::Literal || kind == ExpressionKind::TimeLiteral ||
           kind == ExpressionKind::Variable;
}

} // namespace

Result<Decimal, json::Error> read_decimal(Deserializer& de) {
    VOK_ASSIGN(json::Value v, de.read_scalar(kDecimalExpecting));
    switch (v.type()) {
    case json::Value::Type::Number: {
        const json::Number& n = v.as_number();
        if (n.is_u64()) return Decimal::from_u64(n.as_u64());
        if (n.is_i64()) return Decimal::from_i64(n.as_i64());
        auto d = Decimal::parse(plain_decimal_text(n.as_f64_raw()));
        if (d.ok()) return *d;
        return Err(de.positioned(
            json::invalid_value(json::Unexpected::floating(n.as_f64_raw()), kDecimalExpecting)));
    }
    case json::Value::Type::String: {
        auto d = Decimal::parse(v.as_string());
        if (d.ok()) return *d;
        return Err(de.positioned(
            json::invalid_value(json::Unexpected::str(v.as_string()), kDecimalExpecting)));
    }
    default:
        return Err(de.positioned(json::invalid_type(json::Unexpected::of(v), kDecimalExpecting)));
    }
}

Result<WindowSpec, json::Error> read_window_spec(Deserializer& de) {
    WindowSpec w;
    Field fields[] = {
        {"duration", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(w.duration, json::read_u64(d));
             return Ok();
         }},
        json::string_field("unit", w.unit),
    };
    VOK_TRY(json::read_struct(de, "struct WindowSpec", fields));
    return w;
}

Result<Expression, json::Error> read_expression(Deserializer& de) {
    VOK_ASSIGN(json::EnumTag tag, de.begin_enum(kExpressionVariantNames));
    auto kind = static_cast<ExpressionKind>(tag.variant);
    if (tag.form == json::EnumForm::Bare) {
        // No variant is a bare name; the message says what the variant needs instead.
        return Err(json::invalid_type(json::Unexpected::unit_variant(),
                                      is_newtype(kind) ? "newtype variant" : "struct variant"));
    }
    std::optional<Expression> result;
    json::Status content = [&]() -> json::Status {
        VOK_ASSIGN(Expression e, read_content(de, kind));
        result.emplace(std::move(e));
        return Ok();
    }();
    VOK_TRY(de.end_enum(tag.form, std::move(content)));
    return std::move(*result);
}

// ---- syntax-tree form ----

namespace {

void write_child(json::Writer& w, std::string_view key, const Box& child) {
    w.key(key);
    with_stack_room([&] { write_expression_json(w, *child); });
}

} // namespace

void write_expression_json(json::Writer& w, const Expression& e) {
    w.begin_object();
    w.string_member("type", e.variant_name());
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::Literal>) {
                w.value_member("value", n.value);
            } else if constexpr (std::is_same_v<T, expr::QuantityLiteral>) {
                w.string_member("value", n.value.to_string());
                w.string_member("unit", n.unit);
            } else if constexpr (std::is_same_v<T, expr::TimeLiteral>) {
                w.string_member("timestamp", n.timestamp);
            } else if constexpr (std::is_same_v<T, expr::IntervalLiteral>) {
                w.string_member("start", n.start);
                w.string_member("end", n.end);
            } else if constexpr (std::is_same_v<T, expr::Variable>) {
                w.string_member("name", n.name);
            } else if constexpr (std::is_same_v<T, expr::GroupBy>) {
                w.string_member("variable", n.variable);
                write_child(w, "collection", n.collection);
                if (n.filter) write_child(w, "filter", *n.filter);
                write_child(w, "key", n.key);
                write_child(w, "condition", n.condition);
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                w.string_member("op", name_of(n.op));
                write_child(w, "left", n.left);
                write_child(w, "right", n.right);
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                w.string_member("op", name_of(n.op));
                write_child(w, "operand", n.operand);
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                write_child(w, "operand", n.operand);
                w.string_member("target_type", n.target_type);
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                w.string_member("quantifier", name_of(n.quantifier));
                w.string_member("variable", n.variable);
                write_child(w, "collection", n.collection);
                write_child(w, "condition", n.condition);
            } else if constexpr (std::is_same_v<T, expr::MemberAccess>) {
                w.string_member("object", n.object);
                w.string_member("member", n.member);
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                w.string_member("function", name_of(n.function));
                write_child(w, "collection", n.collection);
                if (n.field) w.string_member("field", *n.field);
                if (n.filter) write_child(w, "filter", *n.filter);
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                w.string_member("function", name_of(n.function));
                w.string_member("variable", n.variable);
                write_child(w, "collection", n.collection);
                if (n.window) {
                    w.key("window");
                    w.begin_object();
                    w.u64_member("duration", n.window->duration);
                    w.string_member("unit", n.window->unit);
                    w.end_object();
                }
                write_child(w, "predicate", n.predicate);
                write_child(w, "projection", n.projection);
                if (n.target_unit) w.string_member("target_unit", *n.target_unit);
            }
        },
        e.node());
    w.end_object();
}

} // namespace vok
