// Units as JSON values; see unit.h.
#include "units/unit.h"

#include <utility>

namespace vok {

Unit::Unit(std::string symbol_text, std::string name_text, Dimension unit_dimension, Decimal factor,
           std::string base_symbol)
    : symbol(std::move(symbol_text)), name(std::move(name_text)),
      dimension(std::move(unit_dimension)), base_factor(factor), base_unit(std::move(base_symbol)) {
}

json::Value unit_to_value(const Unit& unit) {
    json::Value dimension = unit.dimension.to_string();
    if (unit.dimension.is_custom()) {
        json::Object custom;
        custom.insert_or_assign("Custom", unit.dimension.custom_text());
        dimension = std::move(custom);
    }
    json::Object object;
    object.insert_or_assign("symbol", unit.symbol);
    object.insert_or_assign("name", unit.name);
    object.insert_or_assign("dimension", std::move(dimension));
    object.insert_or_assign("base_factor", unit.base_factor.to_string());
    object.insert_or_assign("base_unit", unit.base_unit);
    return object;
}

} // namespace vok
