// UnitRegistry: the table of known units by symbol and of each dimension's base unit, and the one
// process-wide registry that every caller shares.
//
// The process-wide registry is built from the default table on first use and only grows: lowering
// registers the units a file declares once the file has lowered, and they stay for every later
// call. Access goes through a reader-writer lock. Readers (`read()`, `unit_for_symbol`) share it;
// lowering checks a file's units under `read()` and takes `write()` to check them again (only if
// the registry changed in between, as its generation tells) and `absorb` them in one step. The
// registry's own member functions take no lock: the caller holds one.
//
// The tables take in a file's entries in constant time (common/growing_map.h), and settle the
// entries taken in before in short steps: the write lock is never held long, and what registering
// costs does not grow with the units the process holds.
//
// No cancellation check is asked while either lock is held (each access defers them): the check
// may run a Python signal handler, which may parse on this thread or let another thread run that
// waits for the lock, and neither may meet a lock that this thread holds.
//
// The lock is not reentrant: a thread holding a WriteAccess must not call `read()`,
// `unit_for_symbol` or `write()` until it has released it. (A C++ lock cannot be poisoned by a
// failed holder, so there is no "poisoned lock" state to report.)
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "common/cancellation.h"
#include "common/growing_map.h"
#include "common/result.h"
#include "units/dimension.h"
#include "units/unit.h"
#include "units/unit_error.h"

namespace vok {

class UnitRegistry {
public:
    class ReadAccess;
    class WriteAccess;

    // An empty registry: no units, no base units.
    UnitRegistry() = default;
    // A registry holding the default table: 19 units in the dimensions Mass, Length, Volume,
    // Currency, Time and Count, each with its base unit.
    static UnitRegistry with_default_units();

    // Refuses a symbol that is already registered (DuplicateUnit) and a unit whose factor is zero
    // (ZeroBaseFactor: every conversion into it would divide by zero); the registry is unchanged on
    // refusal. Dimension and base unit are not checked and `base_units` is not touched.
    Result<void, UnitError> register_unit(Unit unit);
    // The unit registered under exactly this symbol (case-sensitive), or UnitNotFound.
    Result<Unit, UnitError> get_unit(std::string_view symbol) const;
    // The same unit in place, or nullptr: valid while the registry is unchanged.
    const Unit* find_unit(std::string_view symbol) const;
    // Records or replaces the dimension's base-unit symbol.
    void set_base_unit(Dimension dimension, std::string symbol);
    // The dimension's base-unit symbol, or nullptr when the registry has none for it.
    const std::string* base_unit_of(const Dimension& dimension) const;
    // register_unit with the error dropped; only for building the default table.
    void add_builtin(Unit unit);
    // Moves every unit and base unit of `other` whose symbol or dimension this registry lacks into
    // it; an entry this registry holds already stays as it is. `other` is left empty. All or
    // nothing: what may fail (running out of memory while the entries taken in last are settled)
    // comes before anything changes, and the entries then join in constant time. Takes constant
    // time when the entries taken in last are settled (see settle_step); otherwise it settles
    // them first, without polling.
    void absorb(UnitRegistry& other);
    // One short step of settling the entries taken in last (see GrowingMap::settle_step), which
    // changes nothing a lookup sees; whether they are all settled now. May throw bad_alloc.
    bool settle_step();
    // Counts the changes: equal generations of one registry mean equal contents.
    std::uint64_t generation() const { return generation_; }

    // The process-wide registry, locked for reading or for writing until the returned object is
    // destroyed. The first call from anywhere builds it from the default table, exactly once.
    static ReadAccess read();
    static WriteAccess write();

private:
    // Lets the units map be searched with a string_view without building a string.
    struct SymbolHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };

    GrowingMap<std::string, Unit, SymbolHash> units_;
    GrowingMap<Dimension, std::string, std::hash<Dimension>, std::equal_to<Dimension>> base_units_;
    std::uint64_t generation_ = 0;
};

// Shared (read) access to the process-wide registry; holds the lock while it lives.
class UnitRegistry::ReadAccess {
public:
    ReadAccess(std::shared_mutex& mutex, const UnitRegistry& registry)
        : lock_(mutex), registry_(&registry) {}
    const UnitRegistry& operator*() const { return *registry_; }
    const UnitRegistry* operator->() const { return registry_; }

private:
    // Declared first: it ends after the lock is released.
    CancellationDeferral deferral_;
    std::shared_lock<std::shared_mutex> lock_;
    const UnitRegistry* registry_;
};

// Exclusive (write) access to the process-wide registry; holds the lock while it lives.
class UnitRegistry::WriteAccess {
public:
    WriteAccess(std::shared_mutex& mutex, UnitRegistry& registry)
        : lock_(mutex), registry_(&registry) {}
    UnitRegistry& operator*() const { return *registry_; }
    UnitRegistry* operator->() const { return registry_; }

private:
    // Declared first: it ends after the lock is released.
    CancellationDeferral deferral_;
    std::unique_lock<std::shared_mutex> lock_;
    UnitRegistry* registry_;
};

// A copy of the process-wide registry's unit for the symbol, read under the shared lock. An
// unregistered symbol gives a stand-alone unit instead of an error: dimension Count, factor 1,
// and the symbol as its name and base unit.
Unit unit_for_symbol(std::string_view symbol);

} // namespace vok
