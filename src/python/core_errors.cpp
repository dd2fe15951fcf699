// The table from core errors to exception kinds; see core_errors.h.
//
// Bad input is a ValueError wherever it is found (source text, JSON, records the graph refuses,
// units). The namespace registry reads files and walks directories, so its failures are a
// RuntimeError. A formatter run whose text would be too large is a MemoryError that keeps the
// formatter's explanation.
#include "python/core_errors.h"

namespace vok::python {

ErrorKind exception_kind(const GraphError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const UnitError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const RegistryError&) {
    return ErrorKind::Runtime;
}

ErrorKind exception_kind(const PatternError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const ParserError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const FormatError& error) {
    return error.kind() == FormatError::Kind::OutputTooLarge ? ErrorKind::Memory : ErrorKind::Value;
}

ErrorKind exception_kind(const json::Error&) {
    return ErrorKind::Value;
}

} // namespace vok::python
