// The reference lowering: the straightforward lowering, the oracle of the production one, built
// for the tests only.
//
// It uses node-based hash tables keyed by owned strings and builds every record through the
// public constructors and adders, which makes it slow but easy to check by reading. The
// differential tests (and the source fuzz target) run it beside `ast_to_graph` and require the
// same graph or the same error. Do not optimise it: its value is that it stays simple.
#pragma once

#include "graph/graph.h"
#include "parser/ast.h"
#include "parser/lowering.h"
#include "parser/token_readers.h"

namespace vok::reference {

// Same contract as ast_to_graph (including the write-back of the effective profile), but the tree
// is only read.
ParseResult<Graph> lower(Ast& ast, const LoweringOptions& options);

} // namespace vok::reference
