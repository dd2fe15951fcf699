// Message texts of UnitError; see unit_error.h.
#include "units/unit_error.h"

namespace vok {

namespace {

struct MessageWriter {
    std::string operator()(const UnitError::UnitNotFound& e) const {
        return "Unit not found: " + e.symbol;
    }
    std::string operator()(const UnitError::IncompatibleDimensions& e) const {
        return "Cannot convert between " + e.from.to_string() + " and " + e.to.to_string();
    }
    std::string operator()(const UnitError::ConversionNotDefined& e) const {
        return "Conversion not defined from " + e.from_symbol + " to " + e.to_symbol;
    }
    std::string operator()(const UnitError::ZeroBaseFactor&) const {
        return "Unit base_factor cannot be zero";
    }
    std::string operator()(const UnitError::DuplicateUnit& e) const {
        return "Unit already registered: " + e.symbol;
    }
};

} // namespace

std::string UnitError::to_string() const {
    return std::visit(MessageWriter{}, variant);
}

} // namespace vok
