#include "parser/lowering_units.h"

#include <string>
#include <utility>
#include <variant>

#include "units/unit_registry.h"

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

void declare_dimension(UnitRegistry& registry, const ast::Dimension& declaration) {
    Dimension dimension = Dimension::parse(declaration.name);
    // A new dimension has no base unit yet; an existing entry (built in or declared) stays.
    if (registry.base_unit_of(dimension) == nullptr) {
        registry.set_base_unit(std::move(dimension), std::string());
    }
}

ParseResult<void> declare_unit(UnitRegistry& registry, const ast::UnitDeclaration& declaration) {
    Unit unit(declaration.symbol, declaration.symbol, Dimension::parse(declaration.dimension),
              declaration.factor, declaration.base_unit);
    auto existing = registry.get_unit(unit.symbol);
    if (existing.ok()) {
        if (same_unit(*existing, unit)) return Ok();
        return Err(ParserError::grammar(
            "Conflicting unit '" + unit.symbol + "' already registered (existing: " +
            unit_settings(*existing) + "; new: " + unit_settings(unit) + ")"));
    }
    if (!existing.error().is<UnitError::UnitNotFound>()) {
        return Err(ParserError::grammar("Failed to inspect unit '" + unit.symbol +
                                        "': " + existing.error().to_string()));
    }
    // The registry refuses a zero factor (conversions would divide by it); that refusal is
    // reported like any other failed registration.
    auto registered = registry.register_unit(std::move(unit));
    if (!registered.ok()) {
        return Err(
            ParserError::grammar("Failed to register unit: " + registered.error().to_string()));
    }
    return Ok();
}

} // namespace

ParseResult<void> register_declared_units(const std::vector<AstNode*>& declarations) {
    if (declarations.empty()) return Ok();
    auto registry = UnitRegistry::write();
    for (const AstNode* node : declarations) {
        if (const auto* dimension = std::get_if<ast::Dimension>(node)) {
            declare_dimension(*registry, *dimension);
        } else if (const auto* unit = std::get_if<ast::UnitDeclaration>(node)) {
            VOK_TRY(declare_unit(*registry, *unit));
        }
    }
    return Ok();
}

} // namespace vok
