// TargetFormat: the interchange format that a mapping or projection is written for.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vok {

enum class TargetFormat : uint8_t { Calm, Kg, Sbvr, Protobuf };

// Variant names, in variant order.
inline constexpr std::array<std::string_view, 4> kTargetFormatNames = {"Calm", "Kg", "Sbvr",
                                                                       "Protobuf"};
// How the formats are shown to people ("CALM", not "Calm").
inline constexpr std::array<std::string_view, 4> kTargetFormatDisplayNames = {"CALM", "KG", "SBVR",
                                                                              "Protobuf"};

inline std::string_view name_of(TargetFormat format) {
    return kTargetFormatNames[static_cast<size_t>(format)];
}
inline std::string_view display_name_of(TargetFormat format) {
    return kTargetFormatDisplayNames[static_cast<size_t>(format)];
}

} // namespace vok
