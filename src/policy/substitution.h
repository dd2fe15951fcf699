// Binding a quantifier's variable to one item by rewriting the expression.
//
// A reference to the variable becomes a literal of the item (or of one of its keys, null when the
// key is missing). Nested quantifiers and group-by with the same variable shadow the outer binding;
// aggregation comprehensions and aggregation filters do not, so the outer item wins there. A cast
// whose operand becomes a literal this way is computed at once, so `f.quantity as "kg"` yields a
// quantity; when the cast cannot be computed the cast of the literal is left for evaluation to
// report, exactly as for a cast written over a literal.
#pragma once

#include <string_view>

#include "expression/expression.h"
#include "json/value.h"

namespace vok {

Expression substitute_variable(const Expression& expression, std::string_view name,
                               const json::Value& item);

// The value a variable reference takes under a binding of `name`: the item for the name itself,
// item[rest] (null when missing) for "name.rest"; nothing when the reference is not to `name`.
// `field` reads one key of the item.
template <class Field>
std::optional<json::Value> bound_reference(std::string_view reference, std::string_view name,
                                           Field&& field) {
    if (reference.size() > name.size() && reference.substr(0, name.size()) == name &&
        reference[name.size()] == '.') {
        auto value = field(reference.substr(name.size() + 1));
        if (value) return std::move(*value);
        return json::Value();
    }
    return std::nullopt;
}

// A cast of a value that has just become known: the quantity it gives, or the cast left as it is.
Expression fold_bound_cast(json::Value operand, const std::string& target_type);

} // namespace vok
