// Dimensions, units, the unit registry and quantity conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/invariant.h"
#include "decimal/decimal.h"
#include "units/conversion.h"
#include "units/dimension.h"
#include "units/unit.h"
#include "units/unit_error.h"
#include "units/unit_registry.h"
#include "json/writer.h"

namespace vok {
namespace {

Decimal dec(const char* text) {
    return *Decimal::parse(text);
}

Unit registered(const char* symbol) {
    static const UnitRegistry registry = UnitRegistry::with_default_units();
    return *registry.get_unit(symbol);
}

TEST(Dimension, ParseLowersAsciiAndMatchesWholeWords) {
    struct Case {
        const char* text;
        DimensionKind kind;
        const char* shown;
    };
    const Case cases[] = {
        {"Mass", DimensionKind::Mass, "Mass"},
        {"MASS", DimensionKind::Mass, "Mass"},
        {"mass", DimensionKind::Mass, "Mass"},
        {"TEMPERATURE", DimensionKind::Temperature, "Temperature"},
        {"count", DimensionKind::Count, "Count"},
        {"Weight", DimensionKind::Custom, "weight"},
        {" mass", DimensionKind::Custom, " mass"}, // no trimming
        {"masses", DimensionKind::Custom, "masses"},
        {"", DimensionKind::Custom, ""},
        {"\xC3\x89NERGIE", DimensionKind::Custom, "\xC3\x89nergie"}, // only ASCII is lowered
    };
    for (const Case& c : cases) {
        Dimension d = Dimension::parse(c.text);
        EXPECT_EQ(d.kind(), c.kind) << c.text;
        EXPECT_EQ(d.to_string(), c.shown) << c.text;
    }
}

TEST(Dimension, EqualityAndHashingSeeTheCustomText) {
    EXPECT_EQ(Dimension::parse("Energy"), Dimension::custom("energy"));
    EXPECT_NE(Dimension::custom("energy"), Dimension::custom("power"));
    EXPECT_NE(Dimension(DimensionKind::Count), Dimension::custom("count"));

    std::unordered_map<Dimension, int> by_dimension;
    by_dimension[DimensionKind::Mass] = 1;
    by_dimension[Dimension::custom("energy")] = 2;
    by_dimension[Dimension::parse("ENERGY")] += 10;
    EXPECT_EQ(by_dimension.size(), 2u);
    EXPECT_EQ(by_dimension[Dimension::parse("mass")], 1);
    EXPECT_EQ(by_dimension[Dimension::custom("energy")], 12);
}

TEST(UnitError, Messages) {
    EXPECT_EQ(UnitError(UnitError::UnitNotFound{"kg"}).to_string(), "Unit not found: kg");
    EXPECT_EQ(UnitError(UnitError::IncompatibleDimensions{DimensionKind::Mass,
                                                          Dimension::custom("energy")})
                  .to_string(),
              "Cannot convert between Mass and energy");
    EXPECT_EQ(UnitError(UnitError::ConversionNotDefined{"USD", "EUR"}).to_string(),
              "Conversion not defined from USD to EUR");
    EXPECT_EQ(UnitError(UnitError::ZeroBaseFactor{}).to_string(),
              "Unit base_factor cannot be zero");
    EXPECT_EQ(UnitError(UnitError::DuplicateUnit{"kg"}).to_string(), "Unit already registered: kg");
}

TEST(UnitRegistry, DefaultTable) {
    struct Row {
        const char* symbol;
        const char* name;
        DimensionKind dimension;
        const char* factor; // exact text, scale included
        const char* base;
    };
    const Row rows[] = {
        {"kg", "kilogram", DimensionKind::Mass, "1", "kg"},
        {"g", "gram", DimensionKind::Mass, "0.001", "kg"},
        {"lb", "pound", DimensionKind::Mass, "0.45359237", "kg"},
        {"m", "meter", DimensionKind::Length, "1", "m"},
        {"cm", "centimeter", DimensionKind::Length, "0.01", "m"},
        {"in", "inch", DimensionKind::Length, "0.0254", "m"},
        {"L", "liter", DimensionKind::Volume, "1", "L"},
        {"mL", "milliliter", DimensionKind::Volume, "0.001", "L"},
        {"USD", "US Dollar", DimensionKind::Currency, "1", "USD"},
        {"EUR", "Euro", DimensionKind::Currency, "1", "USD"},
        {"GBP", "British Pound", DimensionKind::Currency, "1", "USD"},
        {"s", "second", DimensionKind::Time, "1", "s"},
        {"min", "minute", DimensionKind::Time, "60", "s"},
        {"h", "hour", DimensionKind::Time, "3600", "s"},
        {"ms", "millisecond", DimensionKind::Time, "0.001", "s"},
        {"us", "microsecond", DimensionKind::Time, "0.000001", "s"},
        {"ns", "nanosecond", DimensionKind::Time, "0.000000001", "s"},
        {"units", "units", DimensionKind::Count, "1", "units"},
        {"items", "items", DimensionKind::Count, "1", "units"},
    };
    const UnitRegistry registry = UnitRegistry::with_default_units();
    for (const Row& row : rows) {
        auto unit = registry.get_unit(row.symbol);
        ASSERT_TRUE(unit.ok()) << row.symbol;
        EXPECT_EQ(unit->symbol, row.symbol);
        EXPECT_EQ(unit->name, row.name);
        EXPECT_EQ(unit->dimension, Dimension(row.dimension)) << row.symbol;
        EXPECT_EQ(unit->base_factor.to_string(), row.factor) << row.symbol;
        EXPECT_EQ(unit->base_unit, row.base);
        const std::string* base = registry.base_unit_of(row.dimension);
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(*base, row.base);
    }
    EXPECT_EQ(registry.base_unit_of(DimensionKind::Temperature), nullptr);
    EXPECT_FALSE(registry.get_unit("K").ok());
}

TEST(UnitRegistry, LookupsAreCaseSensitive) {
    const UnitRegistry registry = UnitRegistry::with_default_units();
    auto missing = registry.get_unit("KG");
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is<UnitError::UnitNotFound>());
    EXPECT_EQ(missing.error().to_string(), "Unit not found: KG");
    // In place: the same answers without a copy.
    EXPECT_EQ(registry.find_unit("KG"), nullptr);
    ASSERT_NE(registry.find_unit("kg"), nullptr);
    EXPECT_EQ(registry.find_unit("kg")->name, "kilogram");
}

TEST(UnitRegistry, RefusesATakenSymbolAndKeepsTheOriginal) {
    UnitRegistry registry = UnitRegistry::with_default_units();
    auto again = registry.register_unit(Unit("kg", "kilo", DimensionKind::Mass, dec("2"), "kg"));
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().to_string(), "Unit already registered: kg");
    EXPECT_EQ(registry.get_unit("kg")->name, "kilogram");
    EXPECT_EQ(registry.get_unit("kg")->base_factor, dec("1"));
}

TEST(UnitRegistry, RefusesAZeroFactor) {
    UnitRegistry registry;
    for (const char* zero : {"0", "0.000", "-0"}) {
        auto result = registry.register_unit(
            Unit("void", "void", Dimension::custom("energy"), dec(zero), "J"));
        ASSERT_FALSE(result.ok()) << zero;
        EXPECT_TRUE(result.error().is<UnitError::ZeroBaseFactor>());
        EXPECT_EQ(result.error().to_string(), "Unit base_factor cannot be zero");
        EXPECT_FALSE(registry.get_unit("void").ok());
    }
    // Negative factors, odd dimensions and dangling base units are the declarer's business.
    EXPECT_TRUE(
        registry.register_unit(Unit("neg", "neg", DimensionKind::Time, dec("-2"), "nowhere")).ok());
    EXPECT_EQ(registry.base_unit_of(DimensionKind::Time), nullptr);
}

TEST(UnitRegistry, AbsorbTakesWhatItLacksAndKeepsWhatItHas) {
    UnitRegistry registry = UnitRegistry::with_default_units();
    UnitRegistry other;
    ASSERT_TRUE(other.register_unit(Unit("kg", "kilo", DimensionKind::Mass, dec("2"), "kg")).ok());
    ASSERT_TRUE(
        other.register_unit(Unit("pt", "pint", DimensionKind::Volume, dec("0.5"), "L")).ok());
    other.set_base_unit(DimensionKind::Mass, "g");
    other.set_base_unit(Dimension::custom("energy"), "");
    registry.absorb(other);
    EXPECT_EQ(registry.get_unit("kg")->name, "kilogram");
    EXPECT_EQ(registry.get_unit("pt")->base_factor, dec("0.5"));
    EXPECT_EQ(*registry.base_unit_of(DimensionKind::Mass), "kg");
    EXPECT_EQ(*registry.base_unit_of(Dimension::custom("energy")), "");
    // Everything left `other`, what the registry held already dropped.
    EXPECT_FALSE(other.get_unit("kg").ok());
    EXPECT_FALSE(other.get_unit("pt").ok());
    EXPECT_EQ(other.base_unit_of(DimensionKind::Mass), nullptr);
    EXPECT_EQ(other.base_unit_of(Dimension::custom("energy")), nullptr);
}

TEST(UnitToValue, WritesSortedKeysAndFactorText) {
    EXPECT_EQ(json::to_compact_string(unit_to_value(registered("g"))),
              R"({"base_factor":"0.001","base_unit":"kg","dimension":"Mass","name":"gram",)"
              R"("symbol":"g"})");
    EXPECT_EQ(json::to_compact_string(unit_to_value(Unit(
                  "kWh", "kilowatt hour", Dimension::parse("Energy"), dec("3600000.00"), "J"))),
              R"({"base_factor":"3600000.00","base_unit":"J","dimension":{"Custom":"energy"},)"
              R"("name":"kilowatt hour","symbol":"kWh"})");
}

TEST(ConvertQuantity, ConvertsThroughTheBaseUnit) {
    struct Case {
        const char* value;
        const char* from;
        const char* to;
        const char* expected_text;
    };
    const Case cases[] = {
        {"1500", "g", "kg", "1.500"},   {"2", "h", "min", "120"},
        {"1", "lb", "g", "453.59237"},  {"5", "kg", "kg", "5"},
        {"12.5", "USD", "USD", "12.5"}, {"250", "mL", "L", "0.250"},
        {"90", "s", "min", "1.5"},      {"1", "min", "ns", "60000000000"},
    };
    for (const Case& c : cases) {
        auto converted = convert_quantity(dec(c.value), registered(c.from), registered(c.to));
        ASSERT_TRUE(converted.ok()) << c.from << "->" << c.to;
        EXPECT_EQ(converted->to_string(), c.expected_text) << c.from << "->" << c.to;
    }
    EXPECT_EQ(*convert_quantity(dec("1500"), registered("g"), registered("kg")), dec("1.5"));
}

TEST(ConvertQuantity, RefusalsComeInOrder) {
    struct Case {
        Unit from;
        Unit to;
        const char* message;
    };
    const Case cases[] = {
        {registered("USD"), registered("EUR"), "Conversion not defined from USD to EUR"},
        {registered("kg"), registered("m"), "Cannot convert between Mass and Length"},
        // The dimension check comes first, even from a currency.
        {registered("USD"), registered("items"), "Cannot convert between Currency and Count"},
        // Currency symbols decide, not factors.
        {Unit("XAU", "gold", DimensionKind::Currency, dec("1"), "USD"), registered("USD"),
         "Conversion not defined from XAU to USD"},
    };
    for (const Case& c : cases) {
        auto converted = convert_quantity(dec("1"), c.from, c.to);
        ASSERT_FALSE(converted.ok()) << c.message;
        EXPECT_EQ(converted.error().to_string(), c.message);
    }
}

TEST(ConvertQuantity, ArithmeticFailuresAreBrokenInvariants) {
    const Decimal max = dec("79228162514264337593543950335");
    const Unit zero("z", "zero", DimensionKind::Mass, dec("0"), "kg"); // built, never registered
    const Unit tenth("dg", "decigram", DimensionKind::Mass, dec("0.1"), "kg");
    const Unit ten("dag", "decagram", DimensionKind::Mass, dec("10"), "kg");
    struct Case {
        Decimal value;
        const Unit* from;
        const Unit* to;
        const char* message;
    };
    const Case cases[] = {
        {dec("1"), &ten, &zero, "Division by zero"},
        {max, &ten, &ten, "Multiplication overflowed"},
    };
    for (const Case& c : cases) {
        try {
            (void)convert_quantity(c.value, *c.from, *c.to);
            ADD_FAILURE() << "expected " << c.message;
        } catch (const InvariantFailure& failure) {
            EXPECT_STREQ(failure.what(), c.message);
        }
    }
    const Unit kg = registered("kg");
    try {
        (void)convert_quantity(max, kg, tenth);
        ADD_FAILURE() << "expected an overflowing quotient";
    } catch (const InvariantFailure& failure) {
        EXPECT_STREQ(failure.what(), "Division overflowed");
    }
}

TEST(TryConvertQuantity, ReportsWhatFailedInsteadOfThrowing) {
    const Decimal max = dec("79228162514264337593543950335");
    const Unit zero("z", "zero", DimensionKind::Mass, dec("0"), "kg"); // built, never registered
    const Unit ten("dag", "decagram", DimensionKind::Mass, dec("10"), "kg");
    struct Case {
        Decimal value;
        Unit from;
        Unit to;
        bool arithmetic; // an ArithmeticFailed rather than a unit error
        const char* message;
    };
    const Case cases[] = {
        {max, ten, ten, true, "Multiplication overflowed"},
        {max, registered("kg"), registered("g"), true, "Division overflowed"},
        {dec("1"), ten, zero, true, "Division by zero"},
        {max, registered("kg"), registered("m"), false, "Cannot convert between Mass and Length"},
        {dec("1"), registered("USD"), registered("EUR"), false,
         "Conversion not defined from USD to EUR"},
    };
    for (const Case& c : cases) {
        auto converted = try_convert_quantity(c.value, c.from, c.to);
        ASSERT_FALSE(converted.ok()) << c.message;
        EXPECT_EQ(converted.error().is<ConversionError::ArithmeticFailed>(), c.arithmetic);
        EXPECT_EQ(converted.error().to_string(), c.message);
    }
    // Just inside the range both ways.
    EXPECT_EQ(*try_convert_quantity(max, registered("g"), registered("kg")),
              dec("79228162514264337593543950.335"));
    EXPECT_EQ(*try_convert_quantity(dec("79228162514264337593543950.335"), registered("kg"),
                                    registered("g")),
              max);
}

TEST(ProcessRegistry, UnitForSymbolFallsBackToACountUnit) {
    Unit kg = unit_for_symbol("kg");
    EXPECT_EQ(kg.name, "kilogram");

    Unit pallets = unit_for_symbol("pallets");
    EXPECT_EQ(pallets.symbol, "pallets");
    EXPECT_EQ(pallets.name, "pallets");
    EXPECT_EQ(pallets.base_unit, "pallets");
    EXPECT_EQ(pallets.dimension, Dimension(DimensionKind::Count));
    EXPECT_EQ(pallets.base_factor.to_string(), "1");
    // The fallback is not registered.
    EXPECT_FALSE(UnitRegistry::read()->get_unit("pallets").ok());
}

TEST(ProcessRegistry, WritesAreSeenByLaterReaders) {
    {
        auto registry = UnitRegistry::write();
        ASSERT_TRUE(registry
                        ->register_unit(Unit("units_test_crate", "crate", DimensionKind::Count,
                                             dec("12"), "units"))
                        .ok());
        EXPECT_FALSE(registry
                         ->register_unit(Unit("units_test_crate", "crate", DimensionKind::Count,
                                              dec("12"), "units"))
                         .ok());
    }
    EXPECT_EQ(unit_for_symbol("units_test_crate").name, "crate");
}

TEST(ProcessRegistry, ReadersAndAWriterShareTheLock) {
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                if (unit_for_symbol("lb").base_factor != dec("0.45359237")) ++failures;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        auto registry = UnitRegistry::write();
        std::string symbol = "units_test_w" + std::to_string(i);
        if (!registry->register_unit(Unit(symbol, symbol, DimensionKind::Count, dec("1"), "units"))
                 .ok()) {
            ++failures;
        }
    }
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(unit_for_symbol("units_test_w199").base_unit, "units");
}

} // namespace
} // namespace vok
