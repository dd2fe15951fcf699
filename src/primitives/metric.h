// Metric: a named measure over the model, with optional alerting settings.
//
// Only the graph holds metrics; the lowering builds them from the declaration and inserts them
// after its own duplicate check. Absent settings stay absent: no defaults are invented.
#pragma once

#include <optional>
#include <string>

#include "decimal/decimal.h"
#include "expression/expression.h"
#include "primitives/metric_severity.h"
#include "primitives/time_span.h"
#include "uuid/uuid.h"

namespace vok {

struct Metric {
    Uuid id; // concept id of namespace and name
    std::string name;
    std::string namespace_;
    Expression expression;
    std::optional<TimeSpan> refresh_interval;
    std::optional<std::string> unit;
    std::optional<Decimal> threshold;
    std::optional<MetricSeverity> severity;
    std::optional<Decimal> target;
    std::optional<TimeSpan> window;
    friend bool operator==(const Metric&, const Metric&) = default;
};

} // namespace vok
