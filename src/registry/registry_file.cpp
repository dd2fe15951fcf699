// Reading `.vok-registry.toml` with toml++; see registry_file.h.
//
// Shape errors are worded like those of a serde-based TOML reader ("missing field `patterns`",
// "invalid type: string \"1\", expected u8") followed by the key and the position, so a user
// sees which key of which line to fix. toml++ reports syntax errors by exception; it is caught
// here and never leaves this file. Text nested deeper than the library can build without running
// out of stack is refused before the library sees it (see toml_nesting.h).
#include "registry/registry_file.h"

#include <toml++/toml.h>

#include <charconv>
#include <cmath>

#include "common/cancellation.h"
#include "registry/toml_nesting.h"

namespace vok::registry {

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string float_text(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

// What a value is, as an "invalid type" message names it.
std::string describe(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::string:
        return "string " + quoted(node.as_string()->get());
    case toml::node_type::integer:
        return "integer `" + std::to_string(node.as_integer()->get()) + "`";
    case toml::node_type::floating_point:
        return "floating point `" + float_text(node.as_floating_point()->get()) + "`";
    case toml::node_type::boolean:
        return std::string("boolean `") + (node.as_boolean()->get() ? "true" : "false") + "`";
    case toml::node_type::array:
        return "sequence";
    case toml::node_type::table:
        return "map";
    default:
        return "datetime";
    }
}

std::string position_suffix(std::string_view key, const toml::source_region& where) {
    std::string text;
    if (!key.empty()) {
        text += " for key `";
        text += key;
        text += "`";
    }
    if (where.begin.line > 0) {
        text += " at line " + std::to_string(where.begin.line) + " column " +
                std::to_string(where.begin.column);
    }
    return text;
}

RegistryError parse_error(std::string message) {
    return RegistryError::Parse{std::move(message)};
}

RegistryError invalid_type(const toml::node& node, std::string_view expected,
                           std::string_view key) {
    return parse_error("invalid type: " + describe(node) + ", expected " + std::string(expected) +
                       position_suffix(key, node.source()));
}

RegistryError missing_field(std::string_view field, std::string_view key,
                            const toml::source_region& where) {
    return parse_error("missing field `" + std::string(field) + "`" + position_suffix(key, where));
}

Result<std::string, RegistryError> read_string(const toml::node& node, std::string_view key) {
    if (const auto* value = node.as_string()) return value->get();
    return Err(invalid_type(node, "a string", key));
}

Result<std::vector<std::string>, RegistryError> read_patterns(const toml::node& node) {
    constexpr std::string_view kKey = "namespaces.patterns";
    const auto* array = node.as_array();
    if (array == nullptr) return Err(invalid_type(node, "a sequence", kKey));
    std::vector<std::string> patterns;
    for (const toml::node& element : *array) {
        poll_cancellation();
        VOK_ASSIGN(auto pattern, read_string(element, kKey));
        patterns.push_back(std::move(pattern));
    }
    return patterns;
}

Result<RawNamespace, RegistryError> read_namespace(const toml::node& node) {
    const auto* table = node.as_table();
    if (table == nullptr) return Err(invalid_type(node, "struct RawNamespace", "namespaces"));
    RawNamespace entry;
    const toml::node* name = table->get("namespace");
    const toml::node* patterns = table->get("patterns");
    if (name != nullptr) {
        VOK_ASSIGN(entry.namespace_name, read_string(*name, "namespaces.namespace"));
    }
    if (patterns != nullptr) {
        VOK_ASSIGN(entry.patterns, read_patterns(*patterns));
    }
    if (name == nullptr) return Err(missing_field("namespace", "namespaces", table->source()));
    if (patterns == nullptr) return Err(missing_field("patterns", "namespaces", table->source()));
    return entry;
}

Result<std::uint8_t, RegistryError> read_version(const toml::node& node) {
    const auto* integer = node.as_integer();
    if (integer == nullptr) return Err(invalid_type(node, "u8", "version"));
    const std::int64_t value = integer->get();
    if (value < 0 || value > 255) {
        return Err(parse_error("invalid value: integer `" + std::to_string(value) +
                               "`, expected u8" + position_suffix("version", node.source())));
    }
    return static_cast<std::uint8_t>(value);
}

Result<RawRegistry, RegistryError> read_document(const toml::table& document) {
    RawRegistry raw;
    const toml::node* version = document.get("version");
    if (version != nullptr) {
        VOK_ASSIGN(raw.version, read_version(*version));
    }
    if (const toml::node* name = document.get("default_namespace")) {
        VOK_ASSIGN(raw.default_namespace, read_string(*name, "default_namespace"));
    }
    if (const toml::node* namespaces = document.get("namespaces")) {
        const auto* array = namespaces->as_array();
        if (array == nullptr) return Err(invalid_type(*namespaces, "a sequence", "namespaces"));
        for (const toml::node& element : *array) {
            poll_cancellation();
            VOK_ASSIGN(auto entry, read_namespace(element));
            raw.namespaces.push_back(std::move(entry));
        }
    }
    if (version == nullptr) return Err(missing_field("version", "", toml::source_region{}));
    return raw;
}

} // namespace

Result<RawRegistry, RegistryError> parse_raw_registry(std::string_view text) {
    if (const auto deep = find_nesting_beyond(text, kMaxTomlNesting)) {
        return Err(parse_error("tables and arrays nested deeper than " +
                               std::to_string(kMaxTomlNesting) + " levels at line " +
                               std::to_string(deep->line) + " column " +
                               std::to_string(deep->column)));
    }
    toml::table document;
    try {
        document = toml::parse(text);
    } catch (const toml::parse_error& error) {
        std::string message(error.description());
        message += position_suffix("", error.source());
        return Err(parse_error(std::move(message)));
    }
    return read_document(document);
}

} // namespace vok::registry
