// The texts of a JSON array: every string item, in order, skipping items of other types.
//
// Annotations arrive as generic JSON; where the model wants a list of texts (an entity's
// "changes") it takes what is text and ignores the rest rather than refusing the declaration.
#pragma once

#include <string>
#include <vector>

#include "json/value.h"

namespace vok {

std::vector<std::string> text_items(const json::Array& array);

} // namespace vok
