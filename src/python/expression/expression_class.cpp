// Wrappers of Expression; see expression_class.h.
//
// Every constructor converts all of its arguments, in parameter order, before it checks their
// contents (a decimal, a timestamp), so a wrong Python type is reported before a bad text. Nothing
// is made until every check has passed.
#include "python/expression/expression_class.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "decimal/decimal.h"
#include "expression/expression_text.h"
#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "python/enumerations.h"
#include "python/expression/normalized_expression_class.h"
#include "python/expression/value_equality.h"
#include "python/expression/window_spec_class.h"
#include "python/json_conversion.h"
#include "time/rfc3339.h"

namespace vok::python {

namespace {

// ---- Static constructors ----

constexpr Signature kLiteral{"Expression.literal", {{"value"}}};
constexpr Signature kVariable{"Expression.variable", {{"name"}}};
constexpr Signature kQuantity{"Expression.quantity", {{"value"}, {"unit"}}};
constexpr Signature kTime{"Expression.time", {{"timestamp"}}};
constexpr Signature kInterval{"Expression.interval", {{"start"}, {"end"}}};
constexpr Signature kBinary{"Expression.binary", {{"op"}, {"left"}, {"right"}}};
constexpr Signature kUnary{"Expression.unary", {{"op"}, {"operand"}}};
constexpr Signature kCast{"Expression.cast", {{"operand"}, {"target_type"}}};
constexpr Signature kQuantifier{"Expression.quantifier",
                                {{"q"}, {"variable"}, {"collection"}, {"condition"}}};
constexpr Signature kMemberAccess{"Expression.member_access", {{"object"}, {"member"}}};
constexpr Signature kAggregation{
    "Expression.aggregation",
    {{"function"}, {"collection"}, {"field", "None"}, {"filter", "None"}}};
constexpr Signature kAggregationComprehension{"Expression.aggregation_comprehension",
                                              {{"function"},
                                               {"variable"},
                                               {"collection"},
                                               {"predicate"},
                                               {"projection"},
                                               {"window", "None"},
                                               {"target_unit", "None"}}};
constexpr Signature kGroupBy{
    "Expression.group_by",
    {{"variable"}, {"collection"}, {"key"}, {"condition"}, {"filter", "None"}}};

// Dictionary keys that are not text and values that have no JSON form are refused by the
// conversion itself, without an argument name.
PyResult<Expression> literal(Args& args) {
    VOK_ASSIGN(json::Value value, literal_from_python(args.raw(0)));
    return Expression::literal(std::move(value));
}

PyResult<Expression> variable(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    return Expression::variable(std::move(name));
}

PyResult<Expression> quantity(Args& args) {
    VOK_ASSIGN(std::string_view value, args.text(0));
    VOK_ASSIGN(std::string unit, args.owned_text(1));
    VOK_ASSIGN(Decimal parsed,
               core_result(Decimal::parse(value), messages::prefix::kInvalidDecimal));
    return Expression(expr::QuantityLiteral{parsed, std::move(unit)});
}

// The literal keeps the text as written; the parsed instant only proves that it is one.
PyResult<Expression> time(Args& args) {
    VOK_ASSIGN(std::string timestamp, args.owned_text(0));
    VOK_TRY(core_result(parse_rfc3339(timestamp), messages::prefix::kInvalidTimestamp));
    return Expression(expr::TimeLiteral{std::move(timestamp)});
}

// Instants are compared, not texts, so offsets are taken into account; equal ends are allowed.
PyResult<Expression> interval(Args& args) {
    VOK_ASSIGN(std::string start, args.owned_text(0));
    VOK_ASSIGN(std::string end, args.owned_text(1));
    VOK_ASSIGN(UtcInstant start_instant,
               core_result(parse_rfc3339(start), messages::prefix::kInvalidStartTimestamp));
    VOK_ASSIGN(UtcInstant end_instant,
               core_result(parse_rfc3339(end), messages::prefix::kInvalidEndTimestamp));
    if (start_instant > end_instant) {
        return Err(value_error(messages::kStartAfterEnd));
    }
    return Expression(expr::IntervalLiteral{std::move(start), std::move(end)});
}

PyResult<Expression> binary(Args& args) {
    VOK_ASSIGN(BinaryOp op, args.member<BinaryOp>(0, enums::kBinaryOp));
    VOK_ASSIGN(Expression left, args.object<Expression>(1));
    VOK_ASSIGN(Expression right, args.object<Expression>(2));
    return Expression::binary(op, std::move(left), std::move(right));
}

PyResult<Expression> unary(Args& args) {
    VOK_ASSIGN(UnaryOp op, args.member<UnaryOp>(0, enums::kUnaryOp));
    VOK_ASSIGN(Expression operand, args.object<Expression>(1));
    return Expression::unary(op, std::move(operand));
}

PyResult<Expression> cast(Args& args) {
    VOK_ASSIGN(Expression operand, args.object<Expression>(0));
    VOK_ASSIGN(std::string target_type, args.owned_text(1));
    return Expression(expr::Cast{Box(std::move(operand)), std::move(target_type)});
}

PyResult<Expression> quantifier(Args& args) {
    VOK_ASSIGN(Quantifier q, args.member<Quantifier>(0, enums::kQuantifier));
    VOK_ASSIGN(std::string name, args.owned_text(1));
    VOK_ASSIGN(Expression collection, args.object<Expression>(2));
    VOK_ASSIGN(Expression condition, args.object<Expression>(3));
    return Expression::quantifier(q, std::move(name), std::move(collection), std::move(condition));
}

PyResult<Expression> member_access(Args& args) {
    VOK_ASSIGN(std::string object, args.owned_text(0));
    VOK_ASSIGN(std::string member, args.owned_text(1));
    return Expression(expr::MemberAccess{std::move(object), std::move(member)});
}

PyResult<std::optional<std::string>> optional_owned_text(Args& args, std::size_t i) {
    VOK_ASSIGN(std::optional<std::string_view> text, args.optional_text(i));
    if (!text) return std::optional<std::string>();
    return std::optional<std::string>(std::string(*text));
}

OptBox boxed(std::optional<Expression> e) {
    if (!e) return std::nullopt;
    return Box(std::move(*e));
}

PyResult<Expression> aggregation(Args& args) {
    VOK_ASSIGN(AggregateFunction function,
               args.member<AggregateFunction>(0, enums::kAggregateFunction));
    VOK_ASSIGN(Expression collection, args.object<Expression>(1));
    VOK_ASSIGN(std::optional<std::string> field, optional_owned_text(args, 2));
    VOK_ASSIGN(std::optional<Expression> filter, args.optional_object<Expression>(3));
    return Expression::aggregation(function, std::move(collection), std::move(field),
                                   std::move(filter));
}

PyResult<Expression> aggregation_comprehension(Args& args) {
    VOK_ASSIGN(AggregateFunction function,
               args.member<AggregateFunction>(0, enums::kAggregateFunction));
    VOK_ASSIGN(std::string name, args.owned_text(1));
    VOK_ASSIGN(Expression collection, args.object<Expression>(2));
    VOK_ASSIGN(Expression predicate, args.object<Expression>(3));
    VOK_ASSIGN(Expression projection, args.object<Expression>(4));
    VOK_ASSIGN(std::optional<WindowSpec> window, args.optional_object<WindowSpec>(5));
    VOK_ASSIGN(std::optional<std::string> target_unit, optional_owned_text(args, 6));
    return Expression(expr::AggregationComprehension{
        function, std::move(name), Box(std::move(collection)), std::move(window),
        Box(std::move(predicate)), Box(std::move(projection)), std::move(target_unit)});
}

PyResult<Expression> group_by(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(Expression collection, args.object<Expression>(1));
    VOK_ASSIGN(Expression key, args.object<Expression>(2));
    VOK_ASSIGN(Expression condition, args.object<Expression>(3));
    VOK_ASSIGN(std::optional<Expression> filter, args.optional_object<Expression>(4));
    return Expression(expr::GroupBy{std::move(name), Box(std::move(collection)),
                                    boxed(std::move(filter)), Box(std::move(key)),
                                    Box(std::move(condition))});
}

// ---- Methods and slots ----

constexpr Signature kNormalize{"Expression.normalize"};
constexpr Signature kIsEquivalent{"Expression.is_equivalent", {{"other"}}};

PyResult<NormalizedExpression> normalize(const Expression& self) {
    return NormalizedExpression(self);
}

PyResult<bool> is_equivalent(const Expression& self, Args& args) {
    VOK_ASSIGN(Expression other, args.object<Expression>(0));
    return NormalizedExpression(self) == NormalizedExpression(other);
}

PyResult<std::string> expression_str(const Expression& self) {
    return expression_text(self);
}

PyResult<std::string> expression_repr(const Expression& self) {
    return "Expression(" + expression_text(self) + ")";
}

const MethodRow kMethods[] = {
    static_method<kLiteral, literal>("Create a literal expression from a JSON-compatible value."),
    static_method<kVariable, variable>("Create a variable expression."),
    static_method<kQuantity, quantity>("Create a quantity literal expression (e.g., \"100 USD\")."),
    static_method<kTime, time>("Create a time literal expression (ISO 8601 timestamp)."),
    static_method<kInterval, interval>("Create an interval literal expression."),
    static_method<kBinary, binary>("Create a binary expression (e.g., left AND right)."),
    static_method<kUnary, unary>("Create a unary expression (e.g., NOT x)."),
    static_method<kCast, cast>("Create a cast expression (e.g., x as \"Money\")."),
    static_method<kQuantifier, quantifier>(
        "Create a quantifier expression (ForAll, Exists, ExistsUnique)."),
    static_method<kMemberAccess, member_access>(
        "Create a member access expression (e.g., user.name)."),
    static_method<kAggregation, aggregation>(
        "Create an aggregation expression (e.g., COUNT(items))."),
    static_method<kAggregationComprehension, aggregation_comprehension>(
        "Create an aggregation comprehension expression."),
    static_method<kGroupBy, group_by>("Create a group-by expression."),
    method<kNormalize, normalize>("Normalize this expression to canonical form."),
    method<kIsEquivalent, is_equivalent>(
        "Check if this expression is semantically equivalent to another."),
};

} // namespace

const ClassSpec kExpressionClass{
    .name = "Expression",
    .doc = "A policy expression that can be normalized and compared for equivalence.",
    .layout = layout_of<Expression>(),
    .methods = kMethods,
    .slots = {.repr = unary_slot<expression_repr>,
              .str = unary_slot<expression_str>,
              .richcompare = &value_equality<Expression>}};

} // namespace vok::python
