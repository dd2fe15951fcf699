// text_items; see text_items.h.
#include "primitives/text_items.h"

namespace vok {

std::vector<std::string> text_items(const json::Array& array) {
    std::vector<std::string> texts;
    for (const json::Value& item : array) {
        if (item.is_string()) texts.push_back(item.as_string());
    }
    return texts;
}

} // namespace vok
