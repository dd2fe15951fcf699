// Members shared by the record classes (concept_classes, connection_classes, instance_classes,
// mapping_classes): getters that are templates over the record's member, so each class table lists
// what it shows rather than a hand-written function per field, and the open attribute and field
// maps read and written through get_attribute / set_attribute.
//
// The namespace getters show the namespace "default" as None: a record made without a namespace
// reads back the way it was made.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "primitives/target_format.h"
#include "python/binding/binding.h"
#include "python/json_conversion.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok::python::records {

inline constexpr std::string_view kDefaultNamespace = "default";

inline std::string namespace_or_default(std::optional<std::string_view> given) {
    return std::string(given.value_or(kDefaultNamespace));
}

// ---- Getters ----

template <class T, Uuid T::*Field> PyResult<std::string> uuid_text(const T& self) {
    return (self.*Field).to_string();
}

// A text member: a std::string, or a SharedText (a record's namespace).
template <class T, auto Field> PyResult<std::string> text(const T& self) {
    return std::string(static_cast<const std::string&>(self.*Field));
}

// The stored namespace, with "default" shown as None.
template <class T> PyResult<std::optional<std::string>> visible_namespace(const T& self) {
    if (self.namespace_ == kDefaultNamespace) return std::optional<std::string>();
    return std::optional<std::string>(self.namespace_);
}

template <class T> PyResult<std::string> target_format(const T& self) {
    return std::string(display_name_of(self.target_format));
}

// ---- Open attributes and fields ----

template <class T, json::Object T::*Map, std::string (*NotFound)(std::string_view)>
PyResult<Ref> get_open_value(const T& self, Args& args) {
    VOK_ASSIGN(std::string_view key, args.text(0));
    const json::Value* found = (self.*Map).find(key);
    if (found == nullptr) return Err(key_error(NotFound(key)));
    return value_to_python(*found);
}

// The value is converted in full before the map is touched, so a refused value (or one whose
// conversion runs Python code that fails) leaves the map as it was.
template <class T, json::Object T::*Map> PyResult<void> set_open_value(T& self, Args& args) {
    VOK_ASSIGN(std::string key, args.owned_text(0));
    VOK_ASSIGN(json::Value value, value_from_python(args.raw(1)));
    (self.*Map).insert_or_assign(std::move(key), std::move(value));
    return Ok();
}

template <class T>
constexpr auto get_attribute = &get_open_value<T, &T::attributes, messages::attribute_not_found>;
template <class T> constexpr auto set_attribute = &set_open_value<T, &T::attributes>;

} // namespace vok::python::records
