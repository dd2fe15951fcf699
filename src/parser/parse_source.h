// parse_source: VOK DSL source text to a syntax tree.
//
// Runs the grammar from `program`, reads the file header (annotations, then imports) and builds
// every declaration with its position. The first failure ends the build and is returned as one
// ParserError; no partial tree is returned.
#pragma once

#include <string_view>

#include "parser/ast.h"
#include "parser/token_readers.h"

namespace vok {

ParseResult<Ast> parse_source(std::string_view source);

// The syntax tree of a `program` pair tree, compact (DslParser::parse_program) or full
// (DslParser::parse from `program`): both build the same tree.
ParseResult<Ast> build_ast(const grammar::DslTree& tree);

// The same for a tree nobody needs afterwards: the records of each declaration are given back
// once it is built, so that a large file's pair tree and syntax tree are not both held whole, and
// the tree is dropped before this returns.
ParseResult<Ast> build_ast(grammar::DslTree&& tree);

// One declaration node (`export_decl`, `declaration_inner` or a concrete declaration rule).
ParseResult<Spanned> build_declaration(const grammar::DslPair& pair);

// The node of one concrete declaration rule (`entity_decl`, `policy_decl`, ...), without its
// position: what build_declaration makes of it once the wrappers are off.
ParseResult<AstNode> build_declaration_node(const grammar::DslPair& pair);

// The annotations and imports of a `file_header` pair, added to `header` and `imports` in order.
ParseResult<void> build_file_header(const grammar::DslPair& pair, FileMetadata& header,
                                    std::vector<ImportDecl>& imports);

} // namespace vok
