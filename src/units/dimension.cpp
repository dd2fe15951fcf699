// Dimension parsing and names; see dimension.h. The built-in names and words are expanded from
// dimension_kind.def.
#include "units/dimension.h"

#include <array>
#include <utility>

#include "common/ascii.h"

namespace vok {

namespace {

// Built-in dimensions in kind order.
constexpr std::string_view kBuiltinNames[] = {
#define VOK_BUILTIN_DIMENSION(Name, word) #Name,
#include "units/dimension_kind.def"
};
constexpr std::string_view kBuiltinWords[] = {
#define VOK_BUILTIN_DIMENSION(Name, word) word,
#include "units/dimension_kind.def"
};

} // namespace

Dimension Dimension::custom(std::string text) {
    Dimension d(DimensionKind::Custom);
    d.custom_ = std::move(text);
    return d;
}

Dimension Dimension::parse(std::string_view text) {
    std::string lowered = ascii_lowercase(text);
    for (size_t i = 0; i < std::size(kBuiltinWords); ++i) {
        if (lowered == kBuiltinWords[i]) return Dimension(static_cast<DimensionKind>(i));
    }
    return custom(std::move(lowered));
}

std::string Dimension::to_string() const {
    if (kind_ == DimensionKind::Custom) return custom_;
    return std::string(kBuiltinNames[static_cast<size_t>(kind_)]);
}

} // namespace vok
