// Typed reading from a parsed json::Value; see value_deserializer.h. The value is consumed as it
// is read, so messages name what was found as the text reader would.
#include "json/value_deserializer.h"

#include "common/cancellation.h"
#include "common/invariant.h"

namespace vok::json {

const Value& ValueDeserializer::take() {
    VOK_INVARIANT(current_ != nullptr, "JSON value read twice");
    const Value* v = current_;
    current_ = nullptr;
    return *v;
}

Result<Value, Error> ValueDeserializer::read_any() {
    return take();
}

Status ValueDeserializer::skip_any() {
    take();
    return Ok();
}

Result<std::string, Error> ValueDeserializer::read_string(std::string_view expecting) {
    const Value& v = take();
    if (v.is_string()) return v.as_string();
    return Err(invalid_type(Unexpected::of(v), expecting));
}

Result<bool, Error> ValueDeserializer::read_bool(std::string_view expecting) {
    const Value& v = take();
    if (v.is_bool()) return v.as_bool();
    return Err(invalid_type(Unexpected::of(v), expecting));
}

Result<uint64_t, Error> ValueDeserializer::read_unsigned(std::string_view type_name, uint64_t max) {
    const Value& v = take();
    if (!v.is_number()) return Err(invalid_type(Unexpected::of(v), type_name));
    const Number& n = v.as_number();
    switch (n.kind()) {
    case Number::Kind::U64:
        if (n.as_u64() <= max) return n.as_u64();
        return Err(invalid_value(Unexpected::unsigned_int(n.as_u64()), type_name));
    case Number::Kind::I64:
        return Err(invalid_value(Unexpected::signed_int(n.as_i64()), type_name));
    case Number::Kind::F64:
        return Err(invalid_type(Unexpected::floating(n.as_f64_raw()), type_name));
    }
    return Err(invalid_type(Unexpected::of(v), type_name));
}

Result<int64_t, Error> ValueDeserializer::read_signed(std::string_view type_name, int64_t min,
                                                      int64_t max) {
    const Value& v = take();
    if (!v.is_number()) return Err(invalid_type(Unexpected::of(v), type_name));
    const Number& n = v.as_number();
    switch (n.kind()) {
    case Number::Kind::U64:
        if (n.as_u64() <= static_cast<uint64_t>(max)) return static_cast<int64_t>(n.as_u64());
        return Err(invalid_value(Unexpected::unsigned_int(n.as_u64()), type_name));
    case Number::Kind::I64:
        if (n.as_i64() >= min && n.as_i64() <= max) return n.as_i64();
        return Err(invalid_value(Unexpected::signed_int(n.as_i64()), type_name));
    case Number::Kind::F64:
        return Err(invalid_type(Unexpected::floating(n.as_f64_raw()), type_name));
    }
    return Err(invalid_type(Unexpected::of(v), type_name));
}

Result<Value, Error> ValueDeserializer::read_scalar(std::string_view expecting) {
    const Value& v = take();
    if (v.is_array() || v.is_object()) return Err(invalid_type(Unexpected::of(v), expecting));
    return v;
}

Status ValueDeserializer::read_unit() {
    const Value& v = take();
    if (v.is_null()) return Ok();
    return Err(invalid_type(Unexpected::of(v), "unit"));
}

Result<bool, Error> ValueDeserializer::read_none() {
    VOK_INVARIANT(current_ != nullptr, "JSON value read twice");
    if (!current_->is_null()) return false;
    current_ = nullptr;
    return true;
}

Result<Form, Error> ValueDeserializer::begin_struct(std::string_view expecting) {
    const Value& v = take();
    if (v.is_array()) {
        frames_.push_back({&v});
        return Form::Seq;
    }
    if (v.is_object()) {
        frames_.push_back({&v});
        return Form::Map;
    }
    return Err(invalid_type(Unexpected::of(v), expecting));
}

Status ValueDeserializer::begin_seq(std::string_view expecting) {
    const Value& v = take();
    if (!v.is_array()) return Err(invalid_type(Unexpected::of(v), expecting));
    frames_.push_back({&v});
    return Ok();
}

Status ValueDeserializer::begin_map(std::string_view expecting) {
    const Value& v = take();
    if (!v.is_object()) return Err(invalid_type(Unexpected::of(v), expecting));
    frames_.push_back({&v});
    return Ok();
}

Result<std::optional<std::string>, Error> ValueDeserializer::next_key() {
    poll_cancellation();
    Frame& frame = frames_.back();
    const auto& entries = frame.container->as_object().entries();
    if (frame.next >= entries.size()) return std::optional<std::string>();
    const auto& entry = entries[frame.next++];
    current_ = &entry.second;
    return std::optional<std::string>(entry.first);
}

Result<bool, Error> ValueDeserializer::next_element() {
    poll_cancellation();
    Frame& frame = frames_.back();
    const Array& items = frame.container->as_array();
    if (frame.next >= items.size()) return false;
    current_ = &items[frame.next++];
    return true;
}

Status ValueDeserializer::end(Form form, Status visited) {
    Frame frame = frames_.back();
    frames_.pop_back();
    current_ = nullptr;
    VOK_TRY(std::move(visited));
    if (form == Form::Seq) {
        const Array& items = frame.container->as_array();
        if (frame.next < items.size())
            return Err(invalid_length(items.size(), "fewer elements in array"));
    } else {
        const Object& members = frame.container->as_object();
        if (frame.next < members.size())
            return Err(invalid_length(members.size(), "fewer elements in map"));
    }
    return Ok();
}

Result<EnumTag, Error> ValueDeserializer::begin_enum(std::span<const std::string_view> variants) {
    const Value& v = take();
    auto identify = [&](const std::string& name) -> Result<size_t, Error> {
        for (size_t i = 0; i < variants.size(); ++i)
            if (variants[i] == name) return i;
        return Err(unknown_variant(name, variants));
    };
    if (v.is_string()) {
        VOK_ASSIGN(size_t variant, identify(v.as_string()));
        return EnumTag{variant, EnumForm::Bare};
    }
    if (v.is_object()) {
        const Object& members = v.as_object();
        if (members.size() != 1)
            return Err(invalid_value(Unexpected::map(), "map with a single key"));
        const auto& entry = *members.begin();
        VOK_ASSIGN(size_t variant, identify(entry.first));
        current_ = &entry.second;
        return EnumTag{variant, EnumForm::Tagged};
    }
    return Err(invalid_type(Unexpected::of(v), "string or map"));
}

Status ValueDeserializer::end_enum(EnumForm, Status content) {
    current_ = nullptr;
    return content;
}

} // namespace vok::json
