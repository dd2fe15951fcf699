// A compact JSON object written member by member straight into one string, for the authority
// documents (trace, decision, hashed texts). Their keys are the system's own ASCII names, which
// need no escaping, so a key costs one copy (`json::append_plain_key`); values go through the JSON
// writer's quoting, so the bytes are those json::Writer writes in compact form. Arrays poll for
// cancellation as they go; the text is the caller's to drop.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "authority/enumerations.h"
#include "common/cancellation.h"
#include "json/writer.h"

namespace vok::authority {

using json::append_compact_array;

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
        json::append_plain_key(out_, k, first_);
        first_ = false;
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
