// The parser state of a VOK DSL run: the generic engine plus the language's implicit skip.
//
// The skip is `WHITESPACE* ~ (COMMENT ~ WHITESPACE*)*`. Both rules are silent and atomic inside
// (they leave no pairs and track nothing), so the skip is written as a plain scan: it is run
// between almost every pair of tokens and must cost next to nothing.
#pragma once

#include <cstring>

#include "parser/grammar/lexical_scan.h"
#include "parser/grammar/rule.h"
#include "peg/parser_state.h"

namespace vok::grammar {

using scan::is_whitespace_byte;

class DslState : public peg::ParserState<Rule> {
public:
    using ParserState::ParserState;

    bool skip() {
        if (is_atomic()) return true;
        const char* p = cursor();
        const char* const end = input_end();
        for (;;) {
            while (p < end && is_whitespace_byte(*p))
                ++p;
            if (end - p >= 2 && p[0] == '/' && p[1] == '/') {
                // A comment runs up to, not including, the next line feed.
                const void* line_feed = std::memchr(p + 2, '\n', static_cast<size_t>(end - p - 2));
                p = line_feed != nullptr ? static_cast<const char*>(line_feed) : end;
                continue;
            }
            break;
        }
        advance_to(p);
        return true;
    }
};

} // namespace vok::grammar
