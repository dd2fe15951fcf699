// convert; see conversion.h. Exact Decimal arithmetic through the base unit's factors.
#include "units/conversion.h"

#include <string>

#include "common/invariant.h"

namespace vok {

std::string ConversionError::to_string() const {
    if (const auto* failed = std::get_if<ArithmeticFailed>(&variant))
        return std::string(arithmetic_failure_text(failed->operation, failed->error));
    return std::get<UnitError>(variant).to_string();
}

Result<Decimal, ConversionError> try_convert_quantity(const Decimal& value, const Unit& from,
                                                      const Unit& to) {
    if (from.dimension != to.dimension) {
        return Err(UnitError(UnitError::IncompatibleDimensions{from.dimension, to.dimension}));
    }
    if (from.dimension.kind() == DimensionKind::Currency && from.symbol != to.symbol) {
        return Err(UnitError(UnitError::ConversionNotDefined{from.symbol, to.symbol}));
    }
    auto in_base = value.checked_mul(from.base_factor);
    if (!in_base.ok()) {
        return Err(ConversionError::ArithmeticFailed{DecimalOperation::Multiply, in_base.error()});
    }
    auto converted = in_base->checked_div(to.base_factor);
    if (!converted.ok()) {
        return Err(ConversionError::ArithmeticFailed{DecimalOperation::Divide, converted.error()});
    }
    return *converted;
}

Result<Decimal, UnitError> convert_quantity(const Decimal& value, const Unit& from,
                                            const Unit& to) {
    auto converted = try_convert_quantity(value, from, to);
    if (converted.ok()) return *converted;
    if (converted.error().is<ConversionError::ArithmeticFailed>())
        invariant_failed(converted.error().to_string());
    return Err(converted.error().as<UnitError>());
}

} // namespace vok
