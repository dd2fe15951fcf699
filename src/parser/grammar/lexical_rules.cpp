// Lexical rules, header annotations, imports and the file structure of the VOK DSL grammar.
//
// Normal rules are written with the engine's combinators, in the shape of their PEG expressions.
// Atomic rules are byte scanners (lexical_scan.h) wrapped so that they still leave one pair and
// take part in attempt tracking like any rule call.
#include <cstring>
#include <string_view>

#include "parser/grammar/grammar_rules.h"
#include "parser/grammar/lexical_scan.h"
#include "peg/combinators.h"

namespace vok::grammar {

using namespace peg::combinators;

using scan::scan_escape_sequence;
using scan::scan_identifier;
using scan::scan_in_keyword;
using scan::scan_multiline_string;
using scan::scan_number;
using scan::scan_string_content;
using scan::scan_string_literal;
using scan::scan_version;

// ---- implicit skip ----

bool WHITESPACE(DslState& s) {
    return s.atomic([&] {
        return s.match_string(" ") || s.match_string("\t") || s.match_string("\r") ||
               s.match_string("\n");
    });
}

bool COMMENT(DslState& s) {
    return s.atomic([&] {
        return s.sequence([&] {
            if (!s.match_string("//")) return false;
            const char* p = s.cursor();
            const void* line_feed = std::memchr(p, '\n', static_cast<size_t>(s.input_end() - p));
            s.advance_to(line_feed != nullptr ? static_cast<const char*>(line_feed)
                                              : s.input_end());
            return true;
        });
    });
}

// ---- words and literals ----

bool identifier(DslState& s) {
    return scanned_rule<scan_identifier>(s, Rule::identifier);
}

bool in_keyword(DslState& s) {
    return scanned_rule<scan_in_keyword>(s, Rule::in_keyword);
}

bool string_literal(DslState& s) {
    return scanned_rule<scan_string_literal>(s, Rule::string_literal);
}

bool string_content(DslState& s) {
    return scanned_rule<scan_string_content>(s, Rule::string_content);
}

bool escape_sequence(DslState& s) {
    return scanned_rule<scan_escape_sequence>(s, Rule::escape_sequence);
}

bool multiline_string(DslState& s) {
    return scanned_rule<scan_multiline_string>(s, Rule::multiline_string);
}

bool number(DslState& s) {
    return scanned_rule<scan_number>(s, Rule::number);
}

bool version(DslState& s) {
    return scanned_rule<scan_version>(s, Rule::version);
}

bool name(DslState& s) {
    return define(s, Rule::name, choice(multiline_string, string_literal));
}

bool boolean(DslState& s) {
    return define(s, Rule::boolean, choice(ilit("true"), ilit("false")));
}

bool string_array(DslState& s) {
    return define(s, Rule::string_array,
                  seq(lit("["), string_literal, star(seq(lit(","), string_literal)), lit("]")));
}

// ---- annotations ----

bool annotation(DslState& s) {
    return define(s, Rule::annotation, seq(lit("@"), annotation_name, string_literal));
}

bool annotation_name(DslState& s) {
    return define(s, Rule::annotation_name,
                  choice(ilit("namespace"), ilit("version"), ilit("owner"), ilit("profile")));
}

bool annotation_value(DslState& s) {
    return define(s, Rule::annotation_value,
                  choice(object_literal, string_array, string_literal, boolean, number));
}

// ---- file structure ----

bool EOI(DslState& s) {
    return define(s, Rule::EOI, [](DslState& state) { return state.end_of_input(); });
}

bool program(DslState& s) {
    const auto soi = [](DslState& state) { return state.start_of_input(); };
    return define(s, Rule::program, seq(soi, file_header, star(declaration), EOI));
}

bool file_header(DslState& s) {
    return define(s, Rule::file_header, seq(star(annotation), star(import_decl)));
}

bool import_decl(DslState& s) {
    return define(s, Rule::import_decl,
                  seq(ilit("import"), import_specifier, ilit("from"), string_literal));
}

bool import_specifier(DslState& s) {
    return define(s, Rule::import_specifier, choice(import_named, import_wildcard));
}

bool import_named(DslState& s) {
    return define(
        s, Rule::import_named,
        seq(lit("{"), import_item, star(seq(lit(","), import_item)), opt(lit(",")), lit("}")));
}

bool import_item(DslState& s) {
    return define(s, Rule::import_item, seq(identifier, opt(seq(ilit("as"), identifier))));
}

bool import_wildcard(DslState& s) {
    return define(s, Rule::import_wildcard, seq(lit("*"), ilit("as"), identifier));
}

} // namespace vok::grammar
