// How the core's errors cross into Python: the one table from each core error type to the
// exception it becomes, and the one function that builds the exception's error value.
//
// Wrappers never pick an exception class for a core error themselves: they pass the error (and,
// where the message wants one, a prefix from messages::prefix) to `core_error`. The texts stay the
// core's own (`to_string`); only the exception kind is decided here. A new core error type is one
// more row in core_errors.cpp.
#pragma once

#include <string>
#include <string_view>

#include "formatter/format_error.h"
#include "graph/graph_error.h"
#include "parser/parser_error.h"
#include "primitives/pattern_error.h"
#include "python/binding/error.h"
#include "registry/registry_error.h"
#include "units/unit_error.h"
#include "json/error.h"

namespace vok::python {

ErrorKind exception_kind(const GraphError& error);
ErrorKind exception_kind(const UnitError& error);
ErrorKind exception_kind(const RegistryError& error);
ErrorKind exception_kind(const PatternError& error);
ErrorKind exception_kind(const ParserError& error);
ErrorKind exception_kind(const FormatError& error);
ErrorKind exception_kind(const json::Error& error);

// The exception for a core error: its kind from the table, its message the prefix followed by the
// error's text.
template <class CoreError> Error core_error(const CoreError& error, std::string_view prefix = {}) {
    std::string message(prefix);
    message += error.to_string();
    return Error(exception_kind(error), std::move(message));
}

} // namespace vok::python
