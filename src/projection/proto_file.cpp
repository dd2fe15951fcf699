// The proto file model's few operations: scalar keywords, deep copies of map types, new messages.
#include "projection/proto_file.h"

#include <type_traits>

#include "common/invariant.h"

namespace vok::projection {

std::string_view proto_scalar_name(ProtoScalar scalar) {
    switch (scalar) {
    case ProtoScalar::Double:
        return "double";
    case ProtoScalar::Float:
        return "float";
    case ProtoScalar::Int32:
        return "int32";
    case ProtoScalar::Int64:
        return "int64";
    case ProtoScalar::Uint32:
        return "uint32";
    case ProtoScalar::Uint64:
        return "uint64";
    case ProtoScalar::Sint32:
        return "sint32";
    case ProtoScalar::Sint64:
        return "sint64";
    case ProtoScalar::Fixed32:
        return "fixed32";
    case ProtoScalar::Fixed64:
        return "fixed64";
    case ProtoScalar::Sfixed32:
        return "sfixed32";
    case ProtoScalar::Sfixed64:
        return "sfixed64";
    case ProtoScalar::Bool:
        return "bool";
    case ProtoScalar::String:
        return "string";
    case ProtoScalar::Bytes:
        return "bytes";
    }
    invariant_failed("ProtoScalar out of range");
}

ProtoFieldType ProtoFieldType::map(ProtoFieldType key, ProtoFieldType value) {
    return ProtoFieldType(Map{std::make_unique<ProtoFieldType>(std::move(key)),
                              std::make_unique<ProtoFieldType>(std::move(value))});
}

ProtoFieldType::ProtoFieldType(const ProtoFieldType& other)
    : kind_(std::visit(
          [](const auto& kind) -> Kind {
              using K = std::decay_t<decltype(kind)>;
              if constexpr (std::is_same_v<K, Map>) {
                  return Map{std::make_unique<ProtoFieldType>(*kind.key),
                             std::make_unique<ProtoFieldType>(*kind.value)};
              } else {
                  return kind;
              }
          },
          other.kind_)) {}

ProtoFieldType& ProtoFieldType::operator=(const ProtoFieldType& other) {
    if (this != &other) *this = ProtoFieldType(other);
    return *this;
}

ProtoMessage ProtoMessage::make(std::string name) {
    ProtoMessage message;
    message.name = std::move(name);
    return message;
}

} // namespace vok::projection
