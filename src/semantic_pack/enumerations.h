// The enumerations of the semantic-pack documents and their JSON names.
//
// Every enumeration is stored as its position and written as its snake_case JSON name; reading
// accepts the bare name or a one-key object whose value is null, compares names byte for byte and
// refuses any other name with the reader's unknown-variant message listing the names in order.
// `EnumNames<E>::names` is the one table per enumeration that both directions use, so a name can
// never be written that could not be read back; it and the enumeration are expanded from one row
// list, pack_enums.def.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

#include "common/invariant.h"
#include "common/result.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::semantic_pack {

// Rows in pack_enums.def.
// clang-format off
#define VOK_PACK_ENUM_BEGIN(Type) enum class Type : uint8_t {
#define VOK_PACK_ENUM(Type, Name, json_name) Name,
#define VOK_PACK_ENUM_END(Type) };
#include "semantic_pack/pack_enums.def"

// JSON names of each enumeration, indexed by position.
template <class E> struct EnumNames;

#define VOK_PACK_ENUM_BEGIN(Type)                                                                  \
    template <> struct EnumNames<Type> {                                                           \
        static constexpr std::string_view names[] = {
#define VOK_PACK_ENUM(Type, Name, json_name) json_name,
#define VOK_PACK_ENUM_END(Type) }; };
#include "semantic_pack/pack_enums.def"
// clang-format on

template <class E> constexpr size_t enum_count() {
    return std::size(EnumNames<E>::names);
}

// The JSON name of a value. A value outside the table is a broken invariant.
template <class E> std::string_view json_name(E value) {
    const auto index = static_cast<size_t>(value);
    VOK_INVARIANT(index < enum_count<E>(), "enumeration value out of range");
    return EnumNames<E>::names[index];
}

// Reads one value by its JSON name.
template <class E> Result<E, json::Error> read_enum(json::Deserializer& de) {
    VOK_ASSIGN(size_t index, json::read_unit_enum(de, EnumNames<E>::names));
    return static_cast<E>(index);
}

// The JSON value of a concept status: its name as a string.
json::Value as_json(ConceptStatus status);

} // namespace vok::semantic_pack
