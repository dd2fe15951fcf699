// The syntax-tree JSON document of a parsed file (what Graph.parse_to_ast_json returns).
//
// Pretty-printed with two spaces per level. The document holds "metadata" (the header
// annotations that are present, then the imports when there are any) and "declarations", one
// wrapper {"node", "line", "column"} per declaration in source order. Declarations are objects
// whose first member "type" names the kind; optional members are left out when absent; decimals
// are written as their text with their scale kept; durations as "PT" + whole seconds + "S";
// expressions in their syntax-tree form.
#pragma once

#include <string>

#include "json/writer.h"
#include "parser/ast.h"

namespace vok {

// One declaration wrapper as the next value of `w`.
void write_declaration_json(json::Writer& w, const Spanned& declaration);

std::string ast_to_json_document(const Ast& ast);

}  // namespace vok
