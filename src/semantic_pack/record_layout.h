// One table per record of the semantic-pack documents, read and written from that table.
//
// Every record of a pack (and of the diagnostics, options and results around it) is a plain
// struct whose JSON form is fixed by a list of members: key, C++ field, and whether the member is
// an optional text (left out when absent, null read as absent) or has a default (may be missing
// when read). `RecordLayout` holds that list together with the record's name in messages
// ("struct SourceRef"), and the generic `read_record` and `write_record` below do the rest with
// the JSON reader's record conventions (`json::read_struct`) and the JSON writer's quoting.
//
// Records are written in one of two key orders: the document order of the member list, or the
// canonical order (keys ascending by bytes) that content hashes are computed over. The canonical
// order of each record is computed once, at compile time, from its member list, so canonical
// text is written straight from the records without a generic intermediate value.
//
// How a member's value is read and written follows from its C++ type: texts, optional texts,
// enumerations (by their JSON names), booleans, integers of the declared width, nested records
// (through their `read_into` and `write_json`) and lists of any of these.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/cancellation.h"
#include "common/growing_records.h"
#include "common/growing_text.h"
#include "crypto/sha256.h"
#include "semantic_pack/enumerations.h"
#include "json/deserializer.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::semantic_pack {

// Where record writers write: compact JSON text appended to `out`, in one key order. Keys, strings
// and numbers go through the JSON writer's pieces (`json::append_plain_key`, `json::append_quoted`,
// `json::append_u64`); the separators are placed by the record and list writers below, which know
// whether an item is the first, so no container stack is kept. With a sink, the text written so far
// is handed to the sink piece by piece
// (`flush_if_large`) and dropped, so a document of any size can be hashed in little memory.
class RecordWriter {
public:
    enum class KeyOrder : uint8_t { Document, Canonical };

    RecordWriter(std::string& out, KeyOrder order, crypto::Sha256* sink = nullptr)
        : out_(out), order_(order), sink_(sink), consulted_at_(out.size()) {}

    bool canonical() const { return order_ == KeyOrder::Canonical; }

    void raw(char c) { out_.push_back(c); }
    // A key that needs no escaping (every key of these records is plain ASCII), then the colon.
    void key(std::string_view k, bool first) { json::append_plain_key(out_, k, first); }
    void string_value(std::string_view s) { json::append_quoted(out_, s); }
    void bool_value(bool b) { out_.append(b ? "true" : "false"); }
    void u64_value(uint64_t v) { json::append_u64(out_, v); }
    void i64_value(int64_t v) { json::append_i64(out_, v); }

    // Polls for cancellation, and for a long text consults the check once a step written and makes
    // room in steps (growing_text.h); the writer's text is the caller's to drop.
    void poll() {
        poller_.poll();
        consult_once_a_step(out_, consulted_at_);
        make_text_room(out_);
    }

    void flush_if_large() {
        if (sink_ != nullptr && out_.size() >= kFlushBytes) flush();
    }
    void flush() {
        if (sink_ == nullptr) return;
        sink_->update(out_);
        out_.clear();
        consulted_at_ = 0;
    }

private:
    static constexpr size_t kFlushBytes = 64 * 1024;
    std::string& out_;
    KeyOrder order_;
    crypto::Sha256* sink_;
    CancellationPoller poller_;
    std::size_t consulted_at_;
};

template <class R> struct Member {
    std::string_view key;
    // An optional text: left out when absent; missing or null reads as absent.
    bool optional = false;
    // Missing when read: the field keeps its default (an empty list or text); null is refused.
    bool defaulted = false;
    bool (*present)(const R&) = nullptr;
    void (*write)(RecordWriter&, const R&) = nullptr;
    json::Status (*read)(json::Deserializer&, R&) = nullptr;
};

template <class R, size_t N> struct RecordLayout {
    std::string_view expecting;
    std::array<Member<R>, N> members;
    // Member positions with the keys in ascending byte order.
    std::array<uint8_t, N> canonical;
};

namespace record_detail {

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};
template <class T> struct IsVector : std::false_type {};
template <class T> struct IsVector<std::vector<T>> : std::true_type {};

template <auto Field> struct FieldOf;
template <class R, class T, T R::*F> struct FieldOf<F> {
    using Record = R;
    using Type = T;
};

template <class T> void write_value(RecordWriter& w, const T& v) {
    if constexpr (std::is_same_v<T, std::string>) {
        w.string_value(v);
    } else if constexpr (IsOptional<T>::value) {
        write_value(w, *v);
    } else if constexpr (std::is_enum_v<T>) {
        w.string_value(json_name(v));
    } else if constexpr (std::is_same_v<T, bool>) {
        w.bool_value(v);
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        w.u64_value(v);
    } else if constexpr (std::is_integral_v<T>) {
        w.i64_value(v);
    } else if constexpr (IsVector<T>::value) {
        w.raw('[');
        bool first = true;
        for (const auto& item : v) {
            // Per item, so that writing or hashing a list of any length answers cancellation.
            w.poll();
            if (!first) w.raw(',');
            first = false;
            write_value(w, item);
            w.flush_if_large();
        }
        w.raw(']');
    } else {
        write_json(w, v);
    }
}

template <class T> json::Status read_value(json::Deserializer& de, T& out) {
    if constexpr (std::is_same_v<T, std::string>) {
        VOK_ASSIGN(out, json::read_string(de));
    } else if constexpr (IsOptional<T>::value) {
        VOK_ASSIGN(out, json::read_string(de));
    } else if constexpr (std::is_enum_v<T>) {
        VOK_ASSIGN(out, read_enum<T>(de));
    } else if constexpr (std::is_same_v<T, bool>) {
        VOK_ASSIGN(out, de.read_bool("a boolean"));
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        VOK_ASSIGN(out, json::read_u64(de));
    } else if constexpr (std::is_same_v<T, uint32_t>) {
        VOK_ASSIGN(out, json::read_u32(de));
    } else if constexpr (std::is_same_v<T, int32_t>) {
        VOK_ASSIGN(out, json::read_i32(de));
    } else if constexpr (IsVector<T>::value) {
        out.clear();
        return json::read_seq(de, "a sequence", [&](json::Deserializer& e) -> json::Status {
            // Read in place, not read aside and moved in; a long list grows in steps.
            make_record_room(out);
            out.emplace_back();
            return read_value(e, out.back());
        });
    } else {
        return read_into(de, out);
    }
    return Ok();
}

} // namespace record_detail

// The member of field `F` under `key`; an std::optional field is an optional text.
template <auto F> constexpr auto member(std::string_view key, bool defaulted = false) {
    using R = typename record_detail::FieldOf<F>::Record;
    using T = typename record_detail::FieldOf<F>::Type;
    Member<R> m;
    m.key = key;
    m.optional = record_detail::IsOptional<T>::value;
    m.defaulted = defaulted;
    if constexpr (record_detail::IsOptional<T>::value)
        m.present = [](const R& r) { return (r.*F).has_value(); };
    m.write = [](RecordWriter& w, const R& r) { record_detail::write_value(w, r.*F); };
    m.read = [](json::Deserializer& de, R& r) { return record_detail::read_value(de, r.*F); };
    return m;
}

// A member that may be missing when read and then keeps the record's initial value.
template <auto F> constexpr auto defaulted_member(std::string_view key) {
    return member<F>(key, true);
}

template <class R, size_t N>
constexpr RecordLayout<R, N> record_layout(std::string_view expecting,
                                           const Member<R> (&members)[N]) {
    static_assert(N <= 64 && N < 256);
    RecordLayout<R, N> layout{expecting, {}, {}};
    for (size_t i = 0; i < N; ++i) {
        layout.members[i] = members[i];
        layout.canonical[i] = static_cast<uint8_t>(i);
    }
    // Insertion sort: a handful of keys, run once by the compiler.
    for (size_t i = 1; i < N; ++i) {
        for (size_t j = i;
             j > 0 && members[layout.canonical[j]].key < members[layout.canonical[j - 1]].key;
             --j) {
            std::swap(layout.canonical[j], layout.canonical[j - 1]);
        }
    }
    return layout;
}

// Writes `record` as one object: absent optional texts are left out with their key.
template <class R, size_t N>
void write_record(RecordWriter& w, const R& record, const RecordLayout<R, N>& layout) {
    w.raw('{');
    bool first = true;
    for (size_t i = 0; i < N; ++i) {
        const Member<R>& m = layout.members[w.canonical() ? layout.canonical[i] : i];
        if (m.present != nullptr && !m.present(record)) continue;
        w.key(m.key, first);
        first = false;
        m.write(w, record);
    }
    w.raw('}');
}

// Reads one record into `record` with the JSON reader's record conventions. Defaulted and
// optional members keep the values `record` holds when their keys are missing.
template <class R, size_t N>
json::Status read_record_into(json::Deserializer& de, const RecordLayout<R, N>& layout, R& record) {
    std::array<json::Field, N> fields;
    for (size_t i = 0; i < N; ++i) {
        const Member<R>& m = layout.members[i];
        fields[i].name = m.key;
        fields[i].optional = m.optional;
        fields[i].defaulted = m.defaulted;
        fields[i].read = [read = m.read, &record](json::Deserializer& d) {
            return read(d, record);
        };
    }
    return json::read_struct(de, layout.expecting, fields);
}

// Reads one new record; missing defaulted and optional members take their initial values.
template <class R, size_t N>
Result<R, json::Error> read_record(json::Deserializer& de, const RecordLayout<R, N>& layout) {
    R record{};
    VOK_TRY(read_record_into(de, layout, record));
    return record;
}

// The compact text of one record in document order.
template <class R, size_t N>
std::string record_text(const R& record, const RecordLayout<R, N>& layout) {
    std::string out;
    RecordWriter w(out, RecordWriter::KeyOrder::Document);
    write_record(w, record, layout);
    return out;
}

// Defines the three functions every record has, from its layout: `R::read` (a new record),
// `read_into` (into an existing record) and `write_json`.
#define VOK_RECORD_JSON(R, layout)                                                                 \
    Result<R, json::Error> R::read(json::Deserializer& de) {                                       \
        return read_record(de, layout);                                                            \
    }                                                                                              \
    json::Status read_into(json::Deserializer& de, R& record) {                                    \
        return read_record_into(de, layout, record);                                               \
    }                                                                                              \
    void write_json(RecordWriter& w, const R& record) {                                            \
        write_record(w, record, layout);                                                           \
    }

// Reads a whole text holding one `T` (white space may follow). Every level of nesting counts
// against the reader's budget, values skipped under unknown keys included.
template <class T> Result<T, json::Error> read_text(std::string_view text) {
    json::TextDeserializer de(text);
    de.count_levels_when_skipping();
    VOK_ASSIGN(T value, T::read(de));
    VOK_TRY(de.finish());
    return value;
}

} // namespace vok::semantic_pack
