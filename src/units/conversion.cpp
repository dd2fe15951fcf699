// convert; see conversion.h. Exact Decimal arithmetic through the base unit's factors.
#include "units/conversion.h"

#include <string>

#include "common/invariant.h"

namespace vok {

Result<Decimal, UnitError> convert_quantity(const Decimal& value, const Unit& from,
                                            const Unit& to) {
    if (from.dimension != to.dimension) {
        return Err(UnitError::IncompatibleDimensions{from.dimension, to.dimension});
    }
    if (from.dimension.kind() == DimensionKind::Currency && from.symbol != to.symbol) {
        return Err(UnitError::ConversionNotDefined{from.symbol, to.symbol});
    }
    auto in_base = value.checked_mul(from.base_factor);
    if (!in_base.ok()) {
        invariant_failed(
            std::string(arithmetic_failure_text(DecimalOperation::Multiply, in_base.error())));
    }
    auto converted = in_base->checked_div(to.base_factor);
    if (!converted.ok()) {
        invariant_failed(
            std::string(arithmetic_failure_text(DecimalOperation::Divide, converted.error())));
    }
    return *converted;
}

} // namespace vok
