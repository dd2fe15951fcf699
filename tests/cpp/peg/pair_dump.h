// A compact text form of a pair tree, for the tests.
//
// Each pair prints as its rule name, its text in quotes when it has no children, or its children
// in parentheses: `program(file_header "" declaration(...) EOI "")`. Shapes of whole trees can then
// be compared as one string.
#pragma once

#include <string>

#include "peg/pairs.h"

namespace vok::peg {

template <class R, class NameFn>
void dump_pair(const Pair<R>& pair, NameFn&& rule_name, std::string& out) {
    out += rule_name(pair.rule());
    auto children = pair.children();
    if (children.empty()) {
        out += " \"";
        out += pair.as_str();
        out += '"';
        return;
    }
    out += '(';
    bool first = true;
    for (const Pair<R>& child : children) {
        if (!first) out += ' ';
        first = false;
        dump_pair(child, rule_name, out);
    }
    out += ')';
}

template <class R, class NameFn> std::string dump_pairs(Pairs<R> pairs, NameFn&& rule_name) {
    std::string out;
    bool first = true;
    for (const Pair<R>& pair : pairs) {
        if (!first) out += ' ';
        first = false;
        dump_pair(pair, rule_name, out);
    }
    return out;
}

} // namespace vok::peg
