// Wrappers of Unit and Dimension; see unit_classes.h.
#include "python/unit_classes.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "decimal/decimal.h"
#include "python/binding/binding.h"

namespace vok::python {

namespace {

// ---- Dimension ----

constexpr Signature kDimensionParse{"Dimension.parse", {{"name"}}};

PyResult<Dimension> parse_dimension(Args& args) {
    VOK_ASSIGN(std::string_view name, args.text(0));
    return Dimension::parse(name);
}

PyResult<std::string> dimension_str(const Dimension& self) {
    return self.to_string();
}

// The text stands between single quotes as it is, without escaping.
PyResult<std::string> dimension_repr(const Dimension& self) {
    return "Dimension('" + self.to_string() + "')";
}

const MethodRow kDimensionMethods[] = {
    static_method<kDimensionParse, parse_dimension>(),
};

// ---- Unit ----

constexpr Signature kUnitNew{"Unit.__new__",
                             {{"symbol"}, {"name"}, {"dimension"}, {"base_factor"}, {"base_unit"}}};

// All five arguments are converted, in signature order, before the factor is checked. Nothing
// else is checked: a zero or negative factor or a base unit that names no unit is taken as given.
PyResult<Unit> new_unit(Args& args) {
    VOK_ASSIGN(std::string symbol, args.owned_text(0));
    VOK_ASSIGN(std::string name, args.owned_text(1));
    VOK_ASSIGN(std::string_view dimension, args.text(2));
    VOK_ASSIGN(double factor, args.number(3));
    VOK_ASSIGN(std::string base_unit, args.owned_text(4));
    std::optional<Decimal> exact = Decimal::from_f64(factor);
    if (!exact) return Err(value_error(messages::kInvalidBaseFactor));
    return Unit(std::move(symbol), std::move(name), Dimension::parse(dimension), *exact,
                std::move(base_unit));
}

PyResult<std::string> unit_symbol(const Unit& self) {
    return self.symbol;
}

PyResult<std::string> unit_name(const Unit& self) {
    return self.name;
}

PyResult<std::string> unit_base_unit(const Unit& self) {
    return self.base_unit;
}

PyResult<double> unit_base_factor(const Unit& self) {
    return self.base_factor.to_f64();
}

PyResult<std::string> unit_repr(const Unit& self) {
    return "Unit('" + self.symbol + "')";
}

const GetterRow kUnitGetters[] = {
    property<unit_symbol>("symbol"),
    property<unit_name>("name"),
    property<unit_base_unit>("base_unit"),
    property<unit_base_factor>("base_factor"),
};

} // namespace

const ClassSpec kDimensionClass{
    .name = "Dimension",
    .layout = layout_of<Dimension>(),
    .methods = kDimensionMethods,
    .slots = {.repr = unary_slot<dimension_repr>, .str = unary_slot<dimension_str>}};

const ClassSpec kUnitClass{.name = "Unit",
                           .layout = layout_of<Unit>(),
                           .constructor = constructor<kUnitNew, new_unit>(),
                           .getters = kUnitGetters,
                           .slots = {.repr = unary_slot<unit_repr>}};

} // namespace vok::python
