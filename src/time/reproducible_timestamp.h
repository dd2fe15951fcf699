// The stamp both exports write: CALM's "vok:timestamp" and the `.proto` "Generated At" line.
//
// Builds that want byte-identical output set SOURCE_DATE_EPOCH to a count of seconds since the
// Unix epoch. The variable is re-read on every call (nothing cached), so a caller may change it
// between two exports. An unusable value is never an error: each export has its own fallback
// (the CALM export reads the clock, the `.proto` export writes nothing), so these functions only
// say whether there is a stamp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vok {

// The text of SOURCE_DATE_EPOCH when it is set and valid UTF-8.
std::optional<std::string> source_date_epoch();

// Seconds since the epoch read strictly from `text`: one optional sign, then ASCII digits only,
// nothing trimmed, within the signed 64-bit range and within the years -262143 to 262142.
std::optional<int64_t> parse_epoch_seconds(std::string_view text);

// The RFC 3339 stamp ("+00:00", no fraction) of a usable SOURCE_DATE_EPOCH.
std::optional<std::string> reproducible_timestamp();

} // namespace vok
