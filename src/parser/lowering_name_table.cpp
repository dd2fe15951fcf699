// The ambiguity error of NameTable lookups; see lowering_name_table.h.
#include "parser/lowering_name_table.h"

#include <algorithm>

namespace vok {

ParserError ambiguous_reference(std::string_view name, const std::vector<std::string>& namespaces) {
    std::vector<std::string_view> sorted(namespaces.begin(), namespaces.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::string list;
    for (std::string_view candidate_namespace : sorted) {
        if (!list.empty()) list += ", ";
        list += candidate_namespace;
    }
    return ParserError::validation("Ambiguous reference '" + std::string(name) +
                                   "' found in namespaces: " + list);
}

} // namespace vok
