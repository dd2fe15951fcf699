// The unit pass of the lowering: a file's declared dimensions and units, checked when the pass
// runs and registered in the process-wide registry only when the whole file has lowered.
//
// It is the one part of a lowering whose effects outlive the call, so it is all or nothing: a file
// whose lowering fails, or is cancelled, leaves the registry as it found it; a file that lowers
// leaves every unit it declares registered for every later lowering and lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/ast.h"
#include "parser/token_readers.h"
#include "units/unit_registry.h"

namespace vok {

class DeclaredUnits {
public:
    // Checks the declarations in order against the process-wide registry (read under its shared
    // lock) and against the ones before them; every element is an ast::Dimension or an
    // ast::UnitDeclaration. A unit whose symbol is known already must match it exactly (symbol,
    // name, base unit, dimension and factor); a declared unit's name is its symbol. Polls for
    // cancellation between stretches, with the lock let go: nothing is registered yet.
    static ParseResult<DeclaredUnits> check(const std::vector<AstNode*>& declarations);

    // The unit a resource of the file gets for `symbol`: the file's own, else the registry's, else
    // a stand-alone counted unit of that name (unit_for_symbol).
    Unit unit_for(std::string_view symbol) const;

    // Registers the units and dimensions that are new to the registry, under its write lock, all
    // or nothing. When the registry changed since `check` (another lowering may have registered
    // a symbol of this file), each is checked again first; a conflict then fails as it would
    // have there, registering nothing. Polls for cancellation, never under the lock, until the
    // entries join (the lowering's last step), and disarms it there for the rest of the call;
    // the joining itself takes constant time.
    ParseResult<void> commit() &&;

private:
    // Declarations checked, or units checked again, under one hold of the registry's lock.
    static constexpr size_t kLockedStretch = 2048;
    // Rounds of settling and checking with polls before the rest is done under the lock.
    static constexpr int kPolledRounds = 3;

    ParseResult<void> check_one(const AstNode& node, const UnitRegistry& registry);
    // Checks the new units symbols_[from, to) against the registry's.
    ParseResult<void> recheck(const UnitRegistry& registry, size_t from, size_t to) const;

    // Only what the registry lacked when checked: units by symbol, and declared dimensions that
    // had no base unit, each with the empty symbol.
    UnitRegistry new_entries_;
    // The symbols of the new units in declaration order, so that a conflict found on commit is
    // reported for the first of them.
    std::vector<std::string> symbols_;
    bool new_dimensions_ = false;
    // The registry's generation when checked.
    std::uint64_t checked_generation_ = 0;
};

} // namespace vok
