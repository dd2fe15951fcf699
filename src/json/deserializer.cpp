// The record-reading helpers over any Deserializer; see deserializer.h. Structs accept both the
// map and the sequence form, with up to 64 fields tracked in a bit set for duplicate and missing
// field errors; scalar readers word their refusals as json/error.h does.
#include "json/deserializer.h"

#include <limits>

#include "common/invariant.h"

namespace vok::json {

namespace {

constexpr size_t kMaxFields = 64;

Status visit_map(Deserializer& de, std::span<Field> fields, uint64_t& seen) {
    while (true) {
        VOK_ASSIGN(std::optional<std::string> key, de.next_key());
        if (!key) return Ok();
        size_t index = fields.size();
        for (size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].name == *key) {
                index = i;
                break;
            }
        }
        if (index == fields.size()) {
            VOK_TRY(de.skip_any());
            continue;
        }
        const uint64_t bit = uint64_t{1} << index;
        if (seen & bit) return Err(duplicate_field(fields[index].name));
        seen |= bit;
        if (fields[index].optional) {
            VOK_ASSIGN(bool none, de.read_none());
            if (none) continue;
        }
        VOK_TRY(fields[index].read(de));
    }
}

Status visit_seq(Deserializer& de, std::string_view expecting, std::span<Field> fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        VOK_ASSIGN(bool has_element, de.next_element());
        if (!has_element) {
            // A missing trailing element keeps its default; the next required one is reported
            // with its own index.
            if (fields[i].defaulted) continue;
            return Err(invalid_length(i, std::string(expecting) + " with " +
                                             std::to_string(fields.size()) +
                                             (fields.size() == 1 ? " element" : " elements")));
        }
        if (fields[i].optional) {
            VOK_ASSIGN(bool none, de.read_none());
            if (none) continue;
        }
        VOK_TRY(fields[i].read(de));
    }
    return Ok();
}

} // namespace

Status read_struct(Deserializer& de, std::string_view expecting, std::span<Field> fields) {
    VOK_INVARIANT(fields.size() <= kMaxFields, "record with more than 64 fields");
    VOK_ASSIGN(Form form, de.begin_struct(expecting));
    if (form == Form::Seq) return de.end(form, visit_seq(de, expecting, fields));

    uint64_t seen = 0;
    Status visited = visit_map(de, fields, seen);
    if (visited.ok()) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (!fields[i].optional && !fields[i].defaulted && !(seen & (uint64_t{1} << i))) {
                visited = Err(missing_field(fields[i].name));
                break;
            }
        }
    }
    return de.end(form, std::move(visited));
}

Result<size_t, Error> read_unit_enum(Deserializer& de, std::span<const std::string_view> variants) {
    VOK_ASSIGN(EnumTag tag, de.begin_enum(variants));
    if (tag.form == EnumForm::Tagged) VOK_TRY(de.end_enum(tag.form, de.read_unit()));
    return tag.variant;
}

Status read_seq(Deserializer& de, std::string_view expecting,
                FunctionRef<Status(Deserializer&)> read_element) {
    VOK_TRY(de.begin_seq(expecting));
    Status visited = [&]() -> Status {
        while (true) {
            VOK_ASSIGN(bool has_element, de.next_element());
            if (!has_element) return Ok();
            VOK_TRY(read_element(de));
        }
    }();
    return de.end(Form::Seq, std::move(visited));
}

Result<uint32_t, Error> read_u32(Deserializer& de) {
    VOK_ASSIGN(uint64_t v, de.read_unsigned("u32", std::numeric_limits<uint32_t>::max()));
    return static_cast<uint32_t>(v);
}

Result<int32_t, Error> read_i32(Deserializer& de) {
    VOK_ASSIGN(int64_t v, de.read_signed("i32", std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(v);
}

Result<uint64_t, Error> read_u64(Deserializer& de) {
    return de.read_unsigned("u64", std::numeric_limits<uint64_t>::max());
}

Result<std::string, Error> read_string(Deserializer& de) {
    return de.read_string("a string");
}

} // namespace vok::json
