// Pattern: a named regular expression that policies match text against.
//
// An invalid expression is refused when the pattern is made, so every stored pattern compiles.
// The compiled form is not kept from that check: patterns are copied freely (into the graph, into
// Python objects) and many are never matched, so the expression is compiled again on its first
// match into a once-only cell, which all copies of one pattern share. The cell holds its own copy
// of the expression text; `regex` is what the pattern shows, and editing it does not change what a
// pattern made earlier matches.
//
// Expressions use RE2 syntax over UTF-8, case-sensitive, and match anywhere in the text: anchoring
// is the author's business.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"
#include "primitives/pattern_error.h"
#include "uuid/uuid.h"

namespace vok {

struct Pattern {
    Uuid id;
    std::string name;
    std::string namespace_;
    std::string regex; // the expression text as given

    // Refuses an expression that does not compile (PatternError::InvalidRegex).
    static Result<Pattern, PatternError> make(std::string name, std::string namespace_name,
                                              std::string regex);

    // Whether the expression matches somewhere in the text. The error (the library's message) can
    // only arise if compiling the same expression a second time failed.
    Result<bool, std::string> is_match(std::string_view text) const;

private:
    struct CompiledCell;

    Pattern() = default;

    std::shared_ptr<CompiledCell> compiled_;
};

} // namespace vok
