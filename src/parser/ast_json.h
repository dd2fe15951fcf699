// The syntax-tree JSON document of a parsed file (what Graph.parse_to_ast_json returns).
//
// Pretty-printed with two spaces per level. The document holds "metadata" (the header
// annotations that are present, then the imports when there are any) and "declarations", one
// wrapper {"node", "line", "column"} per declaration in source order. Declarations are objects
// whose first member "type" names the kind; optional members are left out when absent; decimals
// are written as their text with their scale kept; durations as "PT" + whole seconds + "S";
// expressions in their syntax-tree form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "parser/ast.h"
#include "common/result.h"
#include "json/writer.h"

namespace vok {

// One declaration wrapper as the next value of `w`.
void write_declaration_json(json::Writer& w, const Spanned& declaration);

// The whole document. Deeply nested expressions make pretty output grow with the square of their
// depth; a document that would pass `max_bytes` is refused with a message instead of being built.
Result<std::string, std::string> ast_to_json_document(const Ast& ast, size_t max_bytes = SIZE_MAX);

// The bound Graph.parse_to_ast_json applies: generous for any real file (a syntax tree is
// typically 10 to 20 times its source), small enough to refuse pathological depth quickly.
size_t ast_json_limit_for(size_t source_bytes);

} // namespace vok
