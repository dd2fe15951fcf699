// How the core's errors cross into Python: the one table from each core error type to the
// exception it becomes, and the one helper that turns a core result into a wrapper's result.
//
// Wrappers never pick an exception class for a core error themselves: they hand the core's result
// (and, where the message wants one, a prefix from messages::prefix) to `core_result`. The texts
// stay the core's own (`to_string`, or the text itself for the core's plain-text errors); only
// the exception kind and the prefix are decided here. A new core error type is one more row in
// core_errors.cpp.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "authority/authority_error.h"
#include "calm/import.h"
#include "decimal/decimal.h"
#include "formatter/format_error.h"
#include "graph/graph_error.h"
#include "parser/parser_error.h"
#include "policy/policy_error.h"
#include "primitives/pattern_error.h"
#include "python/binding/error.h"
#include "registry/registry_error.h"
#include "semantic_pack/diff.h"
#include "semantic_pack/signing.h"
#include "units/unit_error.h"
#include "json/error.h"

namespace vok::python {

ErrorKind exception_kind(const GraphError& error);
ErrorKind exception_kind(const UnitError& error);
ErrorKind exception_kind(const registry::RegistryError& error);
ErrorKind exception_kind(const PatternError& error);
ErrorKind exception_kind(const DecimalParseError& error);
ErrorKind exception_kind(const ParserError& error);
ErrorKind exception_kind(const FormatError& error);
ErrorKind exception_kind(const json::Error& error);
ErrorKind exception_kind(const authority::AuthorityError& error);
ErrorKind exception_kind(const semantic_pack::SigningError& error);
ErrorKind exception_kind(const PolicyError& error);
// The core's plain-text errors: timestamps, the authority readers, and the texts that CALM
// import and signing errors carry.
ErrorKind exception_kind(const std::string& error);

// The exception for a core error: its kind from the table, its message the prefix followed by the
// error's text.
template <class CoreError> Error core_error(const CoreError& error, std::string_view prefix = {}) {
    std::string message(prefix);
    if constexpr (std::is_same_v<CoreError, std::string>)
        message += error;
    else
        message += error.to_string();
    return Error(exception_kind(error), std::move(message));
}

// Errors whose prefix depends on where the core failed, so the prefix is chosen here.
// Which document of a diff could not be read: "Invalid old pack JSON: " or "Invalid new pack
// JSON: ".
Error core_error(const semantic_pack::DiffError& error);
// The CALM text was no JSON ("Invalid JSON: ") or not a graph ("Import error: ").
Error core_error(const calm::CalmImportError& error);
// The pack was unreadable ("Invalid pack JSON: ") or the key was; the latter keeps the signing
// error's own text.
Error core_error(const semantic_pack::SigningError& error);

// A core result as a wrapper's result: the value as it is, or the error as core_error() makes it
// (with the prefix, when one is given).
template <class T, class CoreError, class... Prefix>
PyResult<T> core_result(vok::Result<T, CoreError>&& result, Prefix... prefix) {
    static_assert(sizeof...(Prefix) <= 1, "at most one prefix");
    if (!result.ok()) return vok::Err(core_error(result.error(), prefix...));
    if constexpr (std::is_void_v<T>)
        return vok::Ok();
    else
        return std::move(result).value();
}

} // namespace vok::python
