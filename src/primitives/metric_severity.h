// MetricSeverity: how serious it is when a metric crosses its threshold.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vok {

enum class MetricSeverity : uint8_t { Info, Warning, Error, Critical };

// Variant names, in variant order.
inline constexpr std::array<std::string_view, 4> kMetricSeverityNames = {"Info", "Warning", "Error",
                                                                         "Critical"};

inline std::string_view name_of(MetricSeverity severity) {
    return kMetricSeverityNames[static_cast<size_t>(severity)];
}

} // namespace vok
