// Message texts of PatternError; see pattern_error.h.
#include "primitives/pattern_error.h"

namespace vok {

std::string PatternError::to_string() const {
    const auto& e = as<InvalidRegex>();
    return "Invalid regex for pattern '" + e.pattern_name + "': " + e.library_message;
}

} // namespace vok
