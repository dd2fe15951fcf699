// The unit pass of the lowering; see lowering_units.h. A unit declared again with the same
// settings is accepted, with other settings refused; the refusal names the unit that was there
// first, whether the registry or the same file holds it.
#include "parser/lowering_units.h"

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
    UnitRegistry& added = declared.new_entries_;
    const auto registry = UnitRegistry::read();
    declared.checked_generation_ = registry->generation();
    for (const AstNode* node : declarations) {
        poll_cancellation();
        if (const auto* dimension_declaration = std::get_if<ast::Dimension>(node)) {
            Dimension dimension = Dimension::parse(dimension_declaration->name);
            // A new dimension has no base unit yet; an existing entry (built in or declared) stays.
            if (registry->base_unit_of(dimension) == nullptr &&
                added.base_unit_of(dimension) == nullptr) {
                added.set_base_unit(std::move(dimension), std::string());
                declared.new_dimensions_ = true;
            }
            continue;
        }
        const auto& declaration = std::get<ast::UnitDeclaration>(*node);
        Unit unit(declaration.symbol, declaration.symbol, Dimension::parse(declaration.dimension),
                  declaration.factor, declaration.base_unit);
        // The file's own earlier declaration of the symbol counts as registered. Looked up in
        // place: a file of many units declared before (a file parsed again) copies none.
        const Unit* existing = added.find_unit(unit.symbol);
        if (existing == nullptr) existing = registry->find_unit(unit.symbol);
        if (existing != nullptr) {
            if (!same_unit(*existing, unit)) return Err(conflict(*existing, unit));
            continue;
        }
        // The registry refuses a zero factor (conversions would divide by it); that refusal is
        // reported like any other failed registration.
        auto registered = added.register_unit(std::move(unit));
        if (!registered.ok()) {
            return Err(
                ParserError::grammar("Failed to register unit: " + registered.error().to_string()));
        }
        declared.symbols_.push_back(declaration.symbol);
    }
    return declared;
}

Unit DeclaredUnits::unit_for(std::string_view symbol) const {
    // Most files declare no units: their resources then skip the failed lookup and its error.
    if (!symbols_.empty()) {
        auto own = new_entries_.get_unit(symbol);
        if (own.ok()) return std::move(own).value();
    }
    return unit_for_symbol(symbol);
}

ParseResult<void> DeclaredUnits::commit() && {
    if (symbols_.empty() && !new_dimensions_) return Ok();
    auto registry = UnitRegistry::write();
    if (registry->generation() != checked_generation_) {
        for (const std::string& symbol : symbols_) {
            poll_cancellation();
            const Unit* existing = registry->find_unit(symbol);
            if (existing == nullptr) continue;
            const Unit& unit = *new_entries_.find_unit(symbol);
            if (!same_unit(*existing, unit)) return Err(conflict(*existing, unit));
        }
    }
    registry->absorb(new_entries_);
    disarm_cancellation();
    return Ok();
}

} // namespace vok
