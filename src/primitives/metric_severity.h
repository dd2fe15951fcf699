// MetricSeverity: how serious it is when a metric crosses its threshold.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vok {

// Rows in primitive_enums.def.
enum class MetricSeverity : uint8_t {
#define VOK_METRIC_SEVERITY(Name, ...) Name,
#include "primitives/primitive_enums.def"
};

// Variant names, in variant order.
inline constexpr std::array kMetricSeverityNames = {
#define VOK_METRIC_SEVERITY(Name, ...) std::string_view(#Name),
#include "primitives/primitive_enums.def"
};

inline std::string_view name_of(MetricSeverity severity) {
    return kMetricSeverityNames[static_cast<size_t>(severity)];
}

} // namespace vok
