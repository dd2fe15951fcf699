// The table from core errors to exception kinds; see core_errors.h.
//
// Bad input is a ValueError wherever it is found (source text, JSON, records the graph refuses,
// units, authority configurations, keys, policies that cannot be evaluated). The namespace
// registry reads files and walks directories, so its failures are a RuntimeError. A formatter run
// whose text would be too large is a MemoryError that keeps the formatter's explanation.
#include "python/core_errors.h"

#include "python/binding/messages.h"

namespace vok::python {

ErrorKind exception_kind(const GraphError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const UnitError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const registry::RegistryError&) {
    return ErrorKind::Runtime;
}

ErrorKind exception_kind(const PatternError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const DecimalParseError&) {
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

ErrorKind exception_kind(const authority::AuthorityError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const semantic_pack::SigningError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const PolicyError&) {
    return ErrorKind::Value;
}

ErrorKind exception_kind(const std::string&) {
    return ErrorKind::Value;
}

Error core_error(const semantic_pack::DiffError& error) {
    const bool old_side = error.kind() == semantic_pack::DiffError::Kind::OldPack;
    return core_error(error.reader_error(), old_side ? messages::prefix::kInvalidOldPackJson
                                                     : messages::prefix::kInvalidNewPackJson);
}

Error core_error(const calm::CalmImportError& error) {
    const bool invalid_json = error.kind() == calm::CalmImportError::Kind::InvalidJson;
    return core_error(error.message(),
                      invalid_json ? messages::prefix::kInvalidJson : messages::prefix::kImport);
}

Error core_error(const semantic_pack::SigningError& error) {
    if (error.kind() == semantic_pack::SigningError::Kind::InvalidPack)
        return core_error(error.detail(), messages::prefix::kInvalidPackJson);
    return Error(exception_kind(error), error.to_string());
}

} // namespace vok::python
