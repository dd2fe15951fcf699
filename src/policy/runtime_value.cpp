// Operand resolution and value comparison; the definitions behind runtime_value.h.
#include "policy/runtime_value.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "common/deep_recursion.h"
#include "policy/aggregation.h"
#include "units/conversion.h"
#include "units/unit_registry.h"
#include "json/writer.h"

namespace vok {

namespace {

constexpr std::string_view kQuantityValue = "__quantity_value";
constexpr std::string_view kQuantityUnit = "__quantity_unit";

Result<json::Value, PolicyError> member_value(const expr::MemberAccess& access,
                                              const Graph& graph) {
    if (auto id = graph.find_entity_by_name(access.object)) {
        const Entity& entity = *graph.get_entity(*id);
        if (access.member == "id") return json::Value(entity.id.to_string());
        if (access.member == "name") return json::Value(entity.name);
        if (access.member == "namespace") return json::Value(entity.namespace_);
        if (const json::Value* v = entity.attributes.find(access.member)) return *v;
        return json::Value();
    }
    if (auto id = graph.find_resource_by_name(access.object)) {
        const Resource& resource = *graph.get_resource(*id);
        if (access.member == "id") return json::Value(resource.id.to_string());
        if (access.member == "name") return json::Value(resource.name);
        if (access.member == "unit") return unit_to_value(resource.unit);
        if (const json::Value* v = resource.attributes.find(access.member)) return *v;
        return json::Value();
    }
    return json::Value();
}

void add_strings(const json::Array& array, std::vector<std::string>& out) {
    for (const json::Value& element : array)
        if (element.is_string()) out.push_back(element.as_string());
}

std::vector<std::string> roles_of_entity_named(const Graph& graph, std::string_view name) {
    if (auto id = graph.find_entity_by_name(name)) return graph.role_names_of_entity(*id);
    return {};
}

std::vector<std::string> subject_roles(const json::Value& subject, const Graph& graph) {
    std::vector<std::string> roles;
    if (subject.is_array()) {
        add_strings(subject.as_array(), roles);
    } else if (subject.is_object()) {
        const json::Value* listed = subject.get("roles");
        const json::Value* name = subject.get("name");
        if (listed != nullptr && listed->is_array()) {
            add_strings(listed->as_array(), roles);
        } else if (name != nullptr && name->is_string()) {
            roles = roles_of_entity_named(graph, name->as_string());
        }
    } else if (subject.is_string()) {
        const std::string& name = subject.as_string();
        if (graph.find_entity_by_name(name)) {
            roles = roles_of_entity_named(graph, name);
        } else if (graph.find_role_by_name(name)) {
            roles.push_back(name);
        }
    }
    return roles;
}

// A float and an integer are equal only when the float is that very integer.
bool float_equals_integer(double f, const json::Number& integer) {
    if (f != std::trunc(f)) return false;
    if (integer.is_u64()) {
        return f >= 0 && f < 0x1p64 && static_cast<uint64_t>(f) == integer.as_u64();
    }
    return f >= -0x1p63 && f < 0 && static_cast<int64_t>(f) == integer.as_i64();
}

bool numbers_equal(const json::Number& a, const json::Number& b) {
    if (a.kind() == b.kind()) return a == b;
    if (a.is_f64()) return float_equals_integer(a.as_f64_raw(), b);
    if (b.is_f64()) return float_equals_integer(b.as_f64_raw(), a);
    return false; // a negative integer never equals a non-negative one
}

} // namespace

bool equal_by_number_value(const json::Value& left, const json::Value& right) {
    // An explicit list of pairs still to compare: values from Python may nest to any depth.
    std::vector<std::pair<const json::Value*, const json::Value*>> pending{{&left, &right}};
    while (!pending.empty()) {
        auto [a, b] = pending.back();
        pending.pop_back();
        if (a->type() != b->type()) return false;
        switch (a->type()) {
        case json::Value::Type::Number:
            if (!numbers_equal(a->as_number(), b->as_number())) return false;
            break;
        case json::Value::Type::Array: {
            const json::Array& x = a->as_array();
            const json::Array& y = b->as_array();
            if (x.size() != y.size()) return false;
            for (size_t i = 0; i < x.size(); ++i)
                pending.emplace_back(&x[i], &y[i]);
            break;
        }
        case json::Value::Type::Object: {
            const json::Object& x = a->as_object();
            const json::Object& y = b->as_object();
            if (x.size() != y.size()) return false;
            // Keys are kept sorted, so equal objects list them in the same order.
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
                if (i->first != j->first) return false;
                pending.emplace_back(&i->second, &j->second);
            }
            break;
        }
        default:
            if (!(*a == *b)) return false;
        }
    }
    return true;
}

json::Value quantity_object(const Decimal& value, std::string_view unit) {
    return json::Value(json::Object::from_sorted_unique_entries(
        {{std::string(kQuantityUnit), json::Value(unit)},
         {std::string(kQuantityValue), json::Value(value.to_string())}}));
}

json::Value interval_object(std::string_view start, std::string_view end) {
    return json::Value(json::Object::from_sorted_unique_entries(
        {{"__interval_end", json::Value(end)}, {"__interval_start", json::Value(start)}}));
}

std::string conversion_failed(const ConversionError& error) {
    return "Unit conversion failed: " + error.to_string();
}

Operand Operand::of(const Expression& e) {
    if (const auto* literal = e.get_if<expr::Literal>()) return Operand{&literal->value, &e};
    return Operand{nullptr, &e};
}

Result<json::Value, PolicyError> resolve_runtime_value(const Expression& expression,
                                                       const Graph& graph) {
    return std::visit(
        [&](const auto& n) -> Result<json::Value, PolicyError> {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::Literal>) {
                return n.value;
            } else if constexpr (std::is_same_v<T, expr::QuantityLiteral>) {
                return quantity_object(n.value, n.unit);
            } else if constexpr (std::is_same_v<T, expr::TimeLiteral>) {
                return json::Value(n.timestamp);
            } else if constexpr (std::is_same_v<T, expr::IntervalLiteral>) {
                return interval_object(n.start, n.end);
            } else if constexpr (std::is_same_v<T, expr::MemberAccess>) {
                return member_value(n, graph);
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                VOK_ASSIGN(json::Value operand, with_stack_room([&] {
                               return resolve_runtime_value(*n.operand, graph);
                           }));
                return cast_value(operand, n.target_type);
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                return expand_aggregation(n, graph);
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                return expand_aggregation_comprehension(n, graph);
            } else {
                return Err(PolicyError("Expected a runtime-resolvable expression (literal, member "
                                       "access, or aggregation)"));
            }
        },
        expression.node());
}

Result<json::Value, PolicyError> resolve_runtime_value(const Operand& operand, const Graph& graph) {
    if (operand.literal != nullptr) return *operand.literal;
    return resolve_runtime_value(*operand.expression, graph);
}

Result<std::string, PolicyError> expect_string_operand(const Operand& operand, const Graph& graph) {
    VOK_ASSIGN(json::Value value, resolve_runtime_value(operand, graph));
    if (!value.is_string()) return Err(PolicyError("Expected string value"));
    return std::move(value.as_string());
}

Result<Decimal, PolicyError> parse_decimal_value(const json::Value& value) {
    if (value.is_string()) {
        VOK_ASSIGN(Decimal parsed, Decimal::parse(value.as_string()));
        return parsed;
    }
    if (value.is_number()) {
        if (auto d = Decimal::from_f64(value.as_number().to_f64())) return *d;
        return Err(
            PolicyError("Unable to represent " + json::to_compact_string(value) + " as Decimal"));
    }
    return Err(PolicyError("Expected numeric value, got: " + json::to_compact_string(value)));
}

Result<std::optional<NumericOperand>, PolicyError> parse_quantity_object(const json::Value& value) {
    using Found = std::optional<NumericOperand>;
    if (value.is_number() || value.is_string()) {
        VOK_ASSIGN(Decimal d, parse_decimal_value(value));
        return Found(NumericOperand{d, std::nullopt});
    }
    if (!value.is_object()) return Found();
    const json::Value* amount = value.get(kQuantityValue);
    const json::Value* unit = value.get(kQuantityUnit);
    if (amount == nullptr && unit == nullptr) return Found();
    if (amount == nullptr || unit == nullptr)
        return Err(PolicyError("Quantity object must include both __quantity_value and "
                               "__quantity_unit"));
    if (!unit->is_string())
        return Err(PolicyError("Expected __quantity_unit to be string, got: " +
                               json::to_compact_string(*unit)));
    auto d = parse_decimal_value(*amount);
    if (!d.ok()) return Err(PolicyError("Invalid __quantity_value: " + d.error().to_string()));
    return Found(NumericOperand{*d, unit->as_string()});
}

Result<NumericOperand, PolicyError> resolve_operand(const Operand& operand, const Graph& graph) {
    VOK_ASSIGN(json::Value value, resolve_runtime_value(operand, graph));
    VOK_ASSIGN(std::optional<NumericOperand> numeric, parse_quantity_object(value));
    if (!numeric)
        return Err(PolicyError("Expected numeric value, got: " + json::to_compact_string(value)));
    return std::move(*numeric);
}

Result<bool, PolicyError> compare_values(const Operand& left, const Operand& right,
                                         const Graph& graph, BinaryOp op) {
    VOK_ASSIGN(NumericOperand l, resolve_operand(left, graph));
    VOK_ASSIGN(NumericOperand r, resolve_operand(right, graph));
    if (l.unit && !r.unit)
        return Err(
            PolicyError("Cannot compare quantity with unit '" + *l.unit + "' to unitless value"));
    if (!l.unit && r.unit)
        return Err(
            PolicyError("Cannot compare unitless value to quantity with unit '" + *r.unit + "'"));
    Decimal right_value = r.value;
    if (l.unit && *l.unit != *r.unit) {
        auto registry = UnitRegistry::read();
        auto from = registry->get_unit(*r.unit);
        auto to = registry->get_unit(*l.unit);
        if (!to.ok())
            return Err(PolicyError("Invalid unit '" + *l.unit + "': " + to.error().to_string()));
        if (!from.ok())
            return Err(PolicyError("Invalid unit '" + *r.unit + "': " + from.error().to_string()));
        auto converted = try_convert_quantity(r.value, *from, *to);
        if (!converted.ok()) return Err(PolicyError(conversion_failed(converted.error())));
        right_value = *converted;
    }
    return comparison_holds(op, l.value, right_value);
}

Result<std::optional<std::pair<Decimal, Decimal>>, PolicyError>
compare_values_three_valued(const std::optional<NumericOperand>& left,
                            const std::optional<NumericOperand>& right) {
    using Pair = std::optional<std::pair<Decimal, Decimal>>;
    if (!left || !right) return Pair();
    if (!left->unit && !right->unit) return Pair(std::pair(left->value, right->value));
    if (!left->unit || !right->unit) return Pair();
    if (*left->unit == *right->unit) return Pair(std::pair(left->value, right->value));
    auto registry = UnitRegistry::read();
    auto to = registry->get_unit(*left->unit);
    auto from = registry->get_unit(*right->unit);
    if (!to.ok() || !from.ok()) return Pair();
    auto converted = try_convert_quantity(right->value, *from, *to);
    if (!converted.ok()) return Pair();
    return Pair(std::pair(left->value, *converted));
}

Result<json::Value, PolicyError> cast_value(const json::Value& value, std::string_view target) {
    auto cast = cast_quantity(value, target);
    if (!cast.ok()) return Err(std::move(cast).error());
    const NumericOperand& q = *cast;
    return quantity_object(q.value, q.unit ? std::string_view(*q.unit) : target);
}

Result<NumericOperand, PolicyError> cast_quantity(const json::Value& value,
                                                  std::string_view target) {
    auto read = parse_quantity_object(value);
    if (!read.ok()) return Err(PolicyError("Invalid cast operand: " + read.error().to_string()));
    if (!*read)
        return Err(PolicyError("Cannot cast non-numeric value " + json::to_compact_string(value) +
                               " to " + std::string(target)));
    const NumericOperand& q = **read;
    auto registry = UnitRegistry::read();
    auto to = registry->get_unit(target);
    if (!to.ok())
        return Err(PolicyError("Unknown target unit '" + std::string(target) +
                               "': " + to.error().to_string()));
    if (!q.unit) return NumericOperand{q.value, to->symbol};
    auto from = registry->get_unit(*q.unit);
    if (!from.ok())
        return Err(PolicyError("Unknown unit '" + *q.unit + "': " + from.error().to_string()));
    if (!(from->dimension == to->dimension))
        return Err(PolicyError("Cannot cast from '" + from->symbol + "' (" +
                               from->dimension.to_string() + ") to '" + to->symbol + "' (" +
                               to->dimension.to_string() + ")"));
    auto converted = try_convert_quantity(q.value, *from, *to);
    if (!converted.ok()) return Err(PolicyError(conversion_failed(converted.error())));
    return NumericOperand{*converted, to->symbol};
}

Result<bool, PolicyError> evaluate_has_role(const Operand& left, const Operand& right,
                                            const Graph& graph) {
    VOK_ASSIGN(std::string role, expect_string_operand(right, graph));
    VOK_ASSIGN(json::Value subject, resolve_runtime_value(left, graph));
    for (const std::string& name : subject_roles(subject, graph))
        if (name == role) return true;
    return false;
}

} // namespace vok
