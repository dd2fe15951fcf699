// TargetFormat: the interchange format that a mapping or projection is written for.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vok {

// Rows in primitive_enums.def.
enum class TargetFormat : uint8_t {
#define VOK_TARGET_FORMAT(Name, ...) Name,
#include "primitives/primitive_enums.def"
};

// Variant names, in variant order.
inline constexpr std::array kTargetFormatNames = {
#define VOK_TARGET_FORMAT(Name, ...) std::string_view(#Name),
#include "primitives/primitive_enums.def"
};
// How the formats are shown to people ("CALM", not "Calm").
inline constexpr std::array kTargetFormatDisplayNames = {
#define VOK_TARGET_FORMAT(Name, display_name, ...) std::string_view(display_name),
#include "primitives/primitive_enums.def"
};

inline std::string_view name_of(TargetFormat format) {
    return kTargetFormatNames[static_cast<size_t>(format)];
}
inline std::string_view display_name_of(TargetFormat format) {
    return kTargetFormatDisplayNames[static_cast<size_t>(format)];
}

} // namespace vok
