// The unit pass of the lowering; see lowering_units.h. A unit declared again with the same
// settings is accepted, with other settings refused; the refusal names the unit that was there
// first, whether the registry or the same file holds it.
#include "parser/lowering_units.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>

#include "common/cancellation.h"

namespace vok {

namespace {

bool same_unit(const Unit& a, const Unit& b) {
    // Factors compare as numbers, so "1" and "1.0" declare the same unit.
    return a.symbol == b.symbol && a.name == b.name && a.base_unit == b.base_unit &&
           a.dimension == b.dimension && a.base_factor == b.base_factor;
}

std::string unit_settings(const Unit& unit) {
    return "dimension=" + unit.dimension.to_string() +
           ", base_factor=" + unit.base_factor.to_string() + ", base_unit=" + unit.base_unit;
}

ParserError conflict(const Unit& existing, const Unit& declared) {
    return ParserError::grammar("Conflicting unit '" + declared.symbol +
                                "' already registered (existing: " + unit_settings(existing) +
                                "; new: " + unit_settings(declared) + ")");
}

} // namespace

ParseResult<DeclaredUnits> DeclaredUnits::check(const std::vector<AstNode*>& declarations) {
    DeclaredUnits declared;
    if (declarations.empty()) return declared;
    // The declarations are checked a stretch at a time under the shared lock, with a poll between
    // stretches once it is let go. Units are never changed or removed once registered, so what a
    // stretch found stays true; what others register in between shows in the generation taken
    // before the first stretch, and commit checks the new units again.
    size_t next = 0;
    while (next < declarations.size()) {
        {
            const auto registry = UnitRegistry::read();
            if (next == 0) declared.checked_generation_ = registry->generation();
            const size_t end = std::min(declarations.size(), next + kLockedStretch);
            for (; next < end; ++next) {
                auto checked = declared.check_one(*declarations[next], *registry);
                if (!checked.ok()) return Err(std::move(checked).error());
            }
        }
        poll_cancellation_now();
    }
    return declared;
}

ParseResult<void> DeclaredUnits::check_one(const AstNode& node, const UnitRegistry& registry) {
    UnitRegistry& added = new_entries_;
    if (const auto* dimension_declaration = std::get_if<ast::Dimension>(&node)) {
        Dimension dimension = Dimension::parse(dimension_declaration->name);
        // A new dimension has no base unit yet; an existing entry (built in or declared) stays.
        if (registry.base_unit_of(dimension) == nullptr &&
            added.base_unit_of(dimension) == nullptr) {
            added.set_base_unit(std::move(dimension), std::string());
            new_dimensions_ = true;
        }
        return Ok();
    }
    const auto& declaration = std::get<ast::UnitDeclaration>(node);
    Unit unit(declaration.symbol, declaration.symbol, Dimension::parse(declaration.dimension),
              declaration.factor, declaration.base_unit);
    // The file's own earlier declaration of the symbol counts as registered. Looked up in place: a
    // file of many units declared before (a file parsed again) copies none.
    const Unit* existing = added.find_unit(unit.symbol);
    if (existing == nullptr) existing = registry.find_unit(unit.symbol);
    if (existing != nullptr) {
        if (!same_unit(*existing, unit)) return Err(conflict(*existing, unit));
        return Ok();
    }
    // The registry refuses a zero factor (conversions would divide by it); that refusal is
    // reported like any other failed registration.
    auto registered = added.register_unit(std::move(unit));
    if (!registered.ok()) {
        return Err(
            ParserError::grammar("Failed to register unit: " + registered.error().to_string()));
    }
    symbols_.push_back(declaration.symbol);
    return Ok();
}

Unit DeclaredUnits::unit_for(std::string_view symbol) const {
    // Most files declare no units: their resources then skip the failed lookup and its error.
    if (!symbols_.empty()) {
        auto own = new_entries_.get_unit(symbol);
        if (own.ok()) return std::move(own).value();
    }
    return unit_for_symbol(symbol);
}

ParseResult<void> DeclaredUnits::recheck(const UnitRegistry& registry, size_t from,
                                         size_t to) const {
    for (size_t i = from; i < to; ++i) {
        const Unit* existing = registry.find_unit(symbols_[i]);
        if (existing == nullptr) continue;
        const Unit& unit = *new_entries_.find_unit(symbols_[i]);
        if (!same_unit(*existing, unit)) return Err(conflict(*existing, unit));
    }
    return Ok();
}

ParseResult<void> DeclaredUnits::commit() && {
    if (symbols_.empty() && !new_dimensions_) return Ok();
    // The entries join under the write lock in constant time once the registry's batch before is
    // settled and the units are known to agree with what it holds. Both take time that grows with
    // the registry and the file, so both are done first in short stretches under the lock, with
    // polls between; then the lock is taken once more and the join happens if nothing changed in
    // between. Another thread that keeps registering could make that go on for ever: after a few
    // rounds what is left is done under the lock, unpolled.
    for (int round = 0;; ++round) {
        const bool last_round = round >= kPolledRounds;
        if (!last_round) {
            for (;;) {
                bool settled = false;
                {
                    auto registry = UnitRegistry::write();
                    settled = registry->settle_step();
                }
                poll_cancellation_now();
                if (settled) break;
            }
            uint64_t generation = 0;
            {
                auto registry = UnitRegistry::read();
                generation = registry->generation();
            }
            if (generation != checked_generation_) {
                for (size_t from = 0; from < symbols_.size(); from += kLockedStretch) {
                    {
                        auto registry = UnitRegistry::read();
                        if (from == 0) generation = registry->generation();
                        const size_t to = std::min(symbols_.size(), from + kLockedStretch);
                        VOK_TRY(recheck(*registry, from, to));
                    }
                    poll_cancellation_now();
                }
                checked_generation_ = generation;
            }
        }
        auto registry = UnitRegistry::write();
        if (registry->generation() != checked_generation_) {
            if (!last_round) continue;
            VOK_TRY(recheck(*registry, 0, symbols_.size()));
        }
        registry->absorb(new_entries_);
        disarm_cancellation();
        return Ok();
    }
}

} // namespace vok
