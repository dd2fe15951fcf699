// A compact JSON object written member by member straight into one string, for the authority
// documents (trace, decision, hashed texts). Their keys are the system's own ASCII names, which
// need no escaping, so a key costs one copy; values go through the JSON writer's quoting, so the
// bytes are those json::Writer writes in compact form. Arrays poll for cancellation as they go;
// the text is the caller's to drop.
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "authority/enumerations.h"
#include "common/cancellation.h"
#include "json/writer.h"

namespace vok::authority {

// Appends the elements of `items` as a compact JSON array, each written by `write_one(out, item)`.
// Polls once every 64 elements: writing one is short, and most arrays are.
template <class T, class WriteOne>
void append_compact_array(std::string& out, const std::vector<T>& items, WriteOne write_one) {
    out += '[';
    bool first = true;
    size_t written = 0;
    for (const T& item : items) {
        if (++written % 64 == 0) poll_cancellation();
        if (!first) out += ',';
        first = false;
        write_one(out, item);
    }
    out += ']';
}

inline void append_string_array(std::string& out, const std::vector<std::string>& items) {
    append_compact_array(
        out, items, [](std::string& o, const std::string& item) { json::append_quoted(o, item); });
}

// Opens an object on construction and closes it on `end()`; between them, members in order.
class CompactObject {
public:
    explicit CompactObject(std::string& out) : out_(out) { out_ += '{'; }
    void end() { out_ += '}'; }

    // Appends the separator and `"k":`, and gives the output for the value.
    std::string& key(std::string_view k) {
        // One growth check and one copy for the separator, the quoted key and the colon.
        const size_t separator = first_ ? 0 : 1;
        first_ = false;
        const size_t at = out_.size();
        out_.resize(at + separator + k.size() + 3);
        char* p = out_.data() + at;
        if (separator) *p++ = ',';
        *p++ = '"';
        std::memcpy(p, k.data(), k.size());
        p += k.size();
        *p++ = '"';
        *p = ':';
        return out_;
    }
    void string(std::string_view k, std::string_view value) { json::append_quoted(key(k), value); }
    void boolean(std::string_view k, bool value) { key(k) += value ? "true" : "false"; }

    template <class T, class WriteOne>
    void list(std::string_view k, const std::vector<T>& items, WriteOne write_one) {
        append_compact_array(key(k), items, write_one);
    }
    void strings(std::string_view k, const std::vector<std::string>& items) {
        append_string_array(key(k), items);
    }
    void source_classes(std::string_view k, const std::vector<SourceClass>& items) {
        list(k, items,
             [](std::string& out, SourceClass item) { json::append_quoted(out, json_name(item)); });
    }

private:
    std::string& out_;
    bool first_ = true;
};

} // namespace vok::authority
