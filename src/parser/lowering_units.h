// The unit pass of the lowering: declared dimensions and units into the process-wide registry.
//
// It is the one part of a lowering whose effects outlive the call: what it registers stays, even
// when a later pass fails, and serves every later lowering and lookup.
#pragma once

#include <vector>

#include "parser/ast.h"
#include "parser/token_readers.h"

namespace vok {

// Registers the declarations in order, holding the registry's write lock for the whole pass so
// that each check-then-register is atomic. Every element is an ast::Dimension or an
// ast::UnitDeclaration. A unit whose symbol is registered already must match it exactly (symbol,
// name, base unit, dimension and factor); a declared unit's name is its symbol.
ParseResult<void> register_declared_units(const std::vector<AstNode*>& declarations);

} // namespace vok
