// The formatter's entry points: source text in, canonical source text out.
//
// format_program parses the text, keeps the header comments when asked and prints the tree in
// the canonical layout. is_formatted tells whether a text already is that layout, byte for byte,
// with comments kept and imports sorted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "formatter/format_config.h"
#include "formatter/format_error.h"

namespace vok {

Result<std::string, FormatError> format_program(std::string_view source,
                                                const FormatConfig& config);

Result<bool, FormatError> is_formatted(std::string_view source, uint64_t indent_width,
                                       bool use_tabs);

} // namespace vok
