// Aggregations and aggregation comprehensions; the definitions behind aggregation.h.
#include "policy/aggregation.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "common/ascii.h"
#include "policy/expansion.h"
#include "policy/quantifier_items.h"
#include "policy/runtime_value.h"
#include "policy/substitution.h"
#include "time/rfc3339.h"
#include "units/conversion.h"
#include "units/unit_registry.h"

namespace vok {

namespace {

constexpr std::string_view kOverflow = "Aggregation result exceeds the decimal range";

json::Value float_result(const Decimal& d) {
    return json::Value::from_f64(d.to_f64());
}

// Sum, Min, Max or Avg of the decimals, or null when there are none.
Result<json::Value, PolicyError> combine(AggregateFunction function,
                                         const std::vector<Decimal>& values) {
    if (function == AggregateFunction::Count) return json::Value::from_u64(values.size());
    if (values.empty()) {
        if (function == AggregateFunction::Sum) return float_result(Decimal());
        return json::Value();
    }
    Decimal acc = values.front();
    for (size_t i = 1; i < values.size(); ++i) {
        const Decimal& v = values[i];
        if (function == AggregateFunction::Min) {
            if (v < acc) acc = v;
        } else if (function == AggregateFunction::Max) {
            if (v > acc) acc = v;
        } else {
            auto sum = acc.checked_add(v);
            if (!sum.ok()) return Err(PolicyError(kOverflow));
            acc = *sum;
        }
    }
    if (function == AggregateFunction::Avg) {
        auto mean = acc.checked_div(Decimal::from_u64(values.size()));
        if (!mean.ok()) return Err(PolicyError(kOverflow));
        acc = *mean;
    }
    return float_result(acc);
}

// The field's decimal as an aggregation reads it; nothing for values that do not read.
std::optional<Decimal> field_decimal(const json::Value& value) {
    if (value.is_number()) {
        auto d = decimal_of_float_text(value.as_number().to_f64());
        if (d.ok()) return *d;
        return std::nullopt;
    }
    if (value.is_string()) {
        auto d = Decimal::parse(value.as_string());
        if (d.ok()) return *d;
    }
    return std::nullopt;
}

constexpr uint64_t kMaxWindowSeconds = uint64_t(std::numeric_limits<int64_t>::max()) / 1000;

std::optional<uint64_t> seconds_per_window_unit(std::string_view unit) {
    const std::string lower = ascii_lowercase(unit);
    if (lower == "second" || lower == "seconds") return 1;
    if (lower == "minute" || lower == "minutes") return 60;
    if (lower == "hour" || lower == "hours") return 3600;
    if (lower == "day" || lower == "days") return 86400;
    return std::nullopt;
}

// The earliest instant a windowed item may carry.
Result<UtcInstant, PolicyError> window_cutoff(const WindowSpec& window) {
    UtcInstant now = now_utc();
    if (window.duration > uint64_t(std::numeric_limits<int64_t>::max()))
        return Err(PolicyError("Window duration " + std::to_string(window.duration) +
                               " exceeds supported range"));
    auto per_unit = seconds_per_window_unit(window.unit);
    if (!per_unit)
        return Err(PolicyError("Invalid window unit '" + window.unit + "' in aggregation window"));
    if (window.duration > kMaxWindowSeconds / *per_unit)
        return Err(PolicyError("Window of " + std::to_string(window.duration) + " " + window.unit +
                               " exceeds the supported range of time"));
    return UtcInstant{now.seconds - int64_t(window.duration * *per_unit), now.nanos};
}

bool within_window(const ItemRef& item, const Graph& graph, const UtcInstant& cutoff) {
    auto time = item.field(graph, "timestamp");
    if (!time) time = item.field(graph, "created_at");
    if (!time || !time->is_string()) return false;
    auto instant = parse_rfc3339(time->as_string());
    return instant.ok() && *instant >= cutoff;
}

// One projected value as a comprehension reads it: its decimal, or nothing for values that
// take no part; an error for numbers and quantity values that do not read.
Result<std::optional<Decimal>, PolicyError> comprehension_decimal(const json::Value& value) {
    using Found = std::optional<Decimal>;
    if (value.is_number()) {
        VOK_ASSIGN(Decimal d, decimal_of_float_text(value.as_number().to_f64()));
        return Found(d);
    }
    if (value.is_string()) {
        VOK_ASSIGN(Decimal d, Decimal::parse(value.as_string()));
        return Found(d);
    }
    if (value.is_object()) {
        const json::Value* amount = value.get("__quantity_value");
        if (amount == nullptr) return Found();
        if (!amount->is_string()) return Err(PolicyError("Quantity value must be a string"));
        VOK_ASSIGN(Decimal d, Decimal::parse(amount->as_string()));
        return Found(d);
    }
    return Found();
}

} // namespace

Result<Decimal, PolicyError> decimal_of_float_text(double value) {
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc()) return Err(PolicyError("Unable to format number"));
    VOK_ASSIGN(Decimal d, Decimal::parse(std::string_view(buffer, size_t(end - buffer))));
    return d;
}

std::string_view filter_variable_for(const Expression& collection) {
    if (const auto* variable = collection.get_if<expr::Variable>()) {
        if (auto kind = collection_named(variable->name)) return item_word(*kind);
    }
    return "item";
}

namespace {

Result<Expression, PolicyError> expand_literally(const Graph& graph, const Expression& part,
                                                 std::string_view variable, const ItemRef& item) {
    return expand_expression(substitute_variable(part, variable, item.materialize(graph)), graph);
}

} // namespace

Result<json::Value, PolicyError> expand_aggregation(const expr::Aggregation& aggregation,
                                                    const Graph& graph) {
    VOK_ASSIGN(CollectionSource source, collection_source(*aggregation.collection));
    return aggregate(aggregation, source, filter_variable_for(*aggregation.collection), graph,
                     [&](const Expression& part, std::string_view variable, const ItemRef& item) {
                         return expand_literally(graph, part, variable, item);
                     });
}

Result<json::Value, PolicyError>
expand_aggregation_comprehension(const expr::AggregationComprehension& comprehension,
                                 const Graph& graph) {
    VOK_ASSIGN(CollectionSource source, collection_source(*comprehension.collection));
    return aggregate_comprehension(
        comprehension, source, graph,
        [&](const Expression& part, std::string_view variable, const ItemRef& item) {
            return expand_literally(graph, part, variable, item);
        });
}

Result<json::Value, PolicyError> aggregate(const expr::Aggregation& aggregation,
                                           const CollectionSource& source,
                                           std::string_view variable, const Graph& graph,
                                           PartExpander expand) {
    AggregateFunction function = aggregation.function;
    if (function != AggregateFunction::Count && !aggregation.field)
        return Err(PolicyError(std::string(name_of(function)) + " requires a field specification"));
    uint64_t count = 0;
    std::vector<Decimal> values;
    VOK_TRY(for_each_item(source, graph, [&](const ItemRef& item) -> Result<void, PolicyError> {
        if (aggregation.filter) {
            auto kept = expand(**aggregation.filter, variable, item);
            if (!kept.ok() || !is_literal_true(*kept)) return Ok();
        }
        ++count;
        if (function != AggregateFunction::Count) {
            if (auto value = item.field(graph, *aggregation.field))
                if (auto d = field_decimal(*value)) values.push_back(*d);
        }
        return Ok();
    }));
    if (function == AggregateFunction::Count) return json::Value::from_u64(count);
    return combine(function, values);
}

Result<json::Value, PolicyError>
aggregate_comprehension(const expr::AggregationComprehension& comprehension,
                        const CollectionSource& source, const Graph& graph, PartExpander expand) {
    std::optional<UtcInstant> cutoff;
    if (comprehension.window) {
        VOK_ASSIGN(UtcInstant c, window_cutoff(*comprehension.window));
        cutoff = c;
    }
    std::vector<json::Value> projected;
    VOK_TRY(for_each_item(source, graph, [&](const ItemRef& item) -> Result<void, PolicyError> {
        if (cutoff && !within_window(item, graph, *cutoff)) return Ok();
        VOK_ASSIGN(Expression predicate,
                   expand(*comprehension.predicate, comprehension.variable, item));
        if (!is_literal_true(predicate)) return Ok();
        VOK_ASSIGN(Expression projection,
                   expand(*comprehension.projection, comprehension.variable, item));
        if (auto* literal = projection.get_if<expr::Literal>()) {
            projected.push_back(std::move(literal->value));
        } else if (auto* quantity = projection.get_if<expr::QuantityLiteral>()) {
            projected.push_back(quantity_object(quantity->value, quantity->unit));
        } else {
            return Err(
                PolicyError("Projection in aggregation comprehension must reduce to a literal"));
        }
        return Ok();
    }));
    if (comprehension.function == AggregateFunction::Count)
        return json::Value::from_u64(projected.size());

    std::vector<Decimal> values;
    std::optional<std::string> source_unit;
    for (const json::Value& value : projected) {
        VOK_ASSIGN(std::optional<Decimal> d, comprehension_decimal(value));
        if (d) values.push_back(*d);
        if (!source_unit && value.is_object()) {
            const json::Value* unit = value.get("__quantity_unit");
            if (unit != nullptr && unit->is_string()) source_unit = unit->as_string();
        }
    }
    if (values.empty()) return json::Value();
    if (comprehension.target_unit && source_unit) {
        auto registry = UnitRegistry::read();
        auto from = registry->get_unit(*source_unit);
        if (!from.ok()) return Err(PolicyError(from.error().to_string()));
        auto to = registry->get_unit(*comprehension.target_unit);
        if (!to.ok()) return Err(PolicyError(to.error().to_string()));
        for (Decimal& v : values) {
            auto converted = try_convert_quantity(v, *from, *to);
            if (!converted.ok()) {
                // The units' own refusals keep their bare text; a value too large for the target
                // unit says which step failed.
                const ConversionError& error = converted.error();
                if (error.is<UnitError>()) return Err(PolicyError(error.to_string()));
                return Err(PolicyError(conversion_failed(error)));
            }
            v = *converted;
        }
    }
    return combine(comprehension.function, values);
}

} // namespace vok
