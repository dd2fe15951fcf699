// The unit registry and the shared process-wide one; see unit_registry.h. The shared registry is
// guarded by a shared_mutex (readers in parallel, one writer) and is never destroyed, so a late
// caller during interpreter shutdown never meets a destroyed mutex.
#include "units/unit_registry.h"

#include <string_view>
#include <utility>

#include "common/invariant.h"

namespace vok {

namespace {

// The default table, one row per unit, grouped by dimension; each group starts with its base unit.
struct DefaultUnit {
    DimensionKind dimension;
    const char* symbol;
    const char* name;
    const char* factor; // exact decimal text, so the factor keeps the digits written here
    const char* base_symbol;
};

constexpr DefaultUnit kDefaultTable[] = {
    {DimensionKind::Mass, "kg", "kilogram", "1", "kg"},
    {DimensionKind::Mass, "g", "gram", "0.001", "kg"},
    {DimensionKind::Mass, "lb", "pound", "0.45359237", "kg"},
    {DimensionKind::Length, "m", "meter", "1", "m"},
    {DimensionKind::Length, "cm", "centimeter", "0.01", "m"},
    {DimensionKind::Length, "in", "inch", "0.0254", "m"},
    {DimensionKind::Volume, "L", "liter", "1", "L"},
    {DimensionKind::Volume, "mL", "milliliter", "0.001", "L"},
    {DimensionKind::Currency, "USD", "US Dollar", "1", "USD"},
    {DimensionKind::Currency, "EUR", "Euro", "1", "USD"},
    {DimensionKind::Currency, "GBP", "British Pound", "1", "USD"},
    {DimensionKind::Time, "s", "second", "1", "s"},
    {DimensionKind::Time, "min", "minute", "60", "s"},
    {DimensionKind::Time, "h", "hour", "3600", "s"},
    {DimensionKind::Time, "ms", "millisecond", "0.001", "s"},
    {DimensionKind::Time, "us", "microsecond", "0.000001", "s"},
    {DimensionKind::Time, "ns", "nanosecond", "0.000000001", "s"},
    {DimensionKind::Count, "units", "units", "1", "units"},
    {DimensionKind::Count, "items", "items", "1", "units"},
};

Decimal factor_of(const char* text) {
    auto parsed = Decimal::parse(text);
    VOK_INVARIANT(parsed.ok(), "default unit factor must parse");
    return *parsed;
}

// The process-wide registry with its lock. Allocated once and never destroyed, so that a late
// caller during interpreter shutdown never meets a destroyed mutex.
struct SharedRegistry {
    std::shared_mutex mutex;
    UnitRegistry registry = UnitRegistry::with_default_units();
};

SharedRegistry& shared_registry() {
    static SharedRegistry* shared = new SharedRegistry();
    return *shared;
}

} // namespace

UnitRegistry UnitRegistry::with_default_units() {
    UnitRegistry registry;
    for (const DefaultUnit& row : kDefaultTable) {
        // A group's base unit is recorded before the group's units are registered.
        if (std::string_view(row.symbol) == row.base_symbol) {
            registry.set_base_unit(row.dimension, row.base_symbol);
        }
        registry.add_builtin(
            Unit(row.symbol, row.name, row.dimension, factor_of(row.factor), row.base_symbol));
    }
    return registry;
}

Result<void, UnitError> UnitRegistry::register_unit(Unit unit) {
    if (unit.base_factor.is_zero()) return Err(UnitError::ZeroBaseFactor{});
    if (units_.find(unit.symbol) != nullptr) return Err(UnitError::DuplicateUnit{unit.symbol});
    std::string key = unit.symbol;
    units_.insert(std::move(key), std::move(unit));
    ++generation_;
    return Ok();
}

Result<Unit, UnitError> UnitRegistry::get_unit(std::string_view symbol) const {
    const Unit* unit = find_unit(symbol);
    if (unit == nullptr) return Err(UnitError::UnitNotFound{std::string(symbol)});
    return *unit;
}

const Unit* UnitRegistry::find_unit(std::string_view symbol) const {
    return units_.find(symbol);
}

void UnitRegistry::set_base_unit(Dimension dimension, std::string symbol) {
    base_units_.insert_or_assign(std::move(dimension), std::move(symbol));
    ++generation_;
}

const std::string* UnitRegistry::base_unit_of(const Dimension& dimension) const {
    return base_units_.find(dimension);
}

void UnitRegistry::add_builtin(Unit unit) {
    (void)register_unit(std::move(unit));
}

void UnitRegistry::absorb(UnitRegistry& other) {
    // A take may fail only while it settles the batch before, changing nothing: with the second
    // table settled first, nothing can fail between the two takes.
    while (!base_units_.settle_step()) {
    }
    units_.take(other.units_);
    base_units_.take(other.base_units_);
    ++generation_;
}

bool UnitRegistry::settle_step() {
    return units_.settle_step() && base_units_.settle_step();
}

UnitRegistry::ReadAccess UnitRegistry::read() {
    SharedRegistry& shared = shared_registry();
    return ReadAccess(shared.mutex, shared.registry);
}

UnitRegistry::WriteAccess UnitRegistry::write() {
    SharedRegistry& shared = shared_registry();
    return WriteAccess(shared.mutex, shared.registry);
}

Unit unit_for_symbol(std::string_view symbol) {
    auto registry = UnitRegistry::read();
    auto unit = registry->get_unit(symbol);
    if (unit.ok()) return std::move(unit).value();
    std::string text(symbol);
    return Unit(text, text, DimensionKind::Count, Decimal::from_u64(1), text);
}

} // namespace vok
