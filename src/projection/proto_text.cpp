// The `.proto` writer. Everything appends to one output text, whose room grows in steps between
// the top-level blocks (common/growing_text.h); nested blocks are rendered on their own and
// re-indented line by line, which keeps each block's writer unaware of its depth.
#include "projection/proto_text.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <type_traits>
#include <variant>

#include "common/cancellation.h"
#include "common/growing_text.h"

namespace vok::projection {

namespace {

constexpr std::string_view kIndent = "  ";

// Appends text destined for a `//` comment with every line terminator made a blank. The
// terminators outside ASCII are matched as their UTF-8 bytes: C2 85 (U+0085), E2 80 A8 (U+2028)
// and E2 80 A9 (U+2029). In well-formed UTF-8 these sequences are exactly those characters.
void append_comment_text(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            out += ' ';
            i += 1;
        } else if (c == '\xC2' && i + 1 < text.size() && text[i + 1] == '\x85') {
            out += ' ';
            i += 2;
        } else if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += ' ';
            i += 3;
        } else {
            out += c;
            i += 1;
        }
    }
}

void append_comment_lines(std::string& out, const std::vector<std::string>& comments) {
    for (const std::string& comment : comments) {
        out += "// ";
        append_comment_text(out, comment);
        out += '\n';
    }
}

void append_header_line(std::string& out, std::string_view label, std::string_view value) {
    out += "// ";
    out += label;
    out += ": ";
    append_comment_text(out, value);
    out += '\n';
}

// Each line of `block` indented by two blanks.
void append_indented(std::string& out, std::string_view block) {
    size_t start = 0;
    while (start < block.size()) {
        size_t end = block.find('\n', start);
        if (end == std::string_view::npos) end = block.size();
        out += kIndent;
        out.append(block.substr(start, end - start));
        out += '\n';
        start = end + 1;
    }
}

std::string quoted_escaped(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

// The shortest decimal text that reads back as the same double, never with an exponent. The
// non-finite values have no decimal text; they are written as protoc reads them.
std::string double_text(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400]; // the longest fixed form of a double is about 330 characters
    const auto converted =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, converted.ptr);
}

std::string option_value_text(const ProtoOption::Value& value) {
    return std::visit(
        [](const auto& held) -> std::string {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return quoted_escaped(held);
            } else if constexpr (std::is_same_v<T, int64_t>) {
                return std::to_string(held);
            } else if constexpr (std::is_same_v<T, double>) {
                return double_text(held);
            } else if constexpr (std::is_same_v<T, bool>) {
                return held ? "true" : "false";
            } else {
                return held.name;
            }
        },
        value);
}

// Appends the option block; says whether it wrote a line.
bool append_options(std::string& out, const ProtoFile& file) {
    bool any = false;
    auto line = [&](std::string_view text) {
        out += '\n';
        out += text;
        any = true;
    };
    auto quoted = [&](std::string_view name, const std::optional<std::string>& value) {
        if (value) line("option " + std::string(name) + " = \"" + *value + "\";");
    };
    quoted("java_package", file.java_package);
    if (file.java_multiple_files) line("option java_multiple_files = true;");
    quoted("go_package", file.go_package);
    quoted("csharp_namespace", file.csharp_namespace);
    quoted("php_namespace", file.php_namespace);
    quoted("ruby_package", file.ruby_package);
    quoted("swift_prefix", file.swift_prefix);
    quoted("objc_class_prefix", file.objc_class_prefix);
    if (file.optimize_for) line("option optimize_for = " + *file.optimize_for + ";");
    if (file.deprecated) line("option deprecated = true;");
    for (const ProtoOption& option : file.options)
        line("option " + option.name + " = " + option_value_text(option.value) + ";");
    return any;
}

void append_service(std::string& out, const ProtoService& service) {
    append_comment_lines(out, service.comments);
    out += "service ";
    out += service.name;
    out += " {\n";
    for (const ProtoRpc& rpc : service.rpcs) {
        const bool stream_in = rpc.streaming == StreamingMode::ClientStreaming ||
                               rpc.streaming == StreamingMode::Bidirectional;
        const bool stream_out = rpc.streaming == StreamingMode::ServerStreaming ||
                                rpc.streaming == StreamingMode::Bidirectional;
        out += kIndent;
        out += "rpc ";
        out += rpc.name;
        out += '(';
        if (stream_in) out += "stream ";
        out += rpc.input_type;
        out += ") returns (";
        if (stream_out) out += "stream ";
        out += rpc.output_type;
        out += ");\n";
    }
    out += "}\n";
}

void append_field(std::string& out, const ProtoField& field) {
    out += kIndent;
    if (field.repeated) {
        out += "repeated ";
    } else if (field.optional) {
        out += "optional ";
    }
    out += render_proto_field_type(field.type);
    out += ' ';
    out += field.name;
    out += " = ";
    out += std::to_string(field.number);
    out += ';';
    if (!field.comments.empty()) {
        out += " // ";
        for (size_t i = 0; i < field.comments.size(); ++i) {
            if (i > 0) out += "; ";
            append_comment_text(out, field.comments[i]);
        }
    }
    out += '\n';
}

} // namespace

std::string render_proto_file(const ProtoFile& file) {
    std::string out;
    out += "// Generated by VOK Projection Framework\n";
    append_header_line(out, "Projection", file.projection_name);
    append_header_line(out, "Source Namespace", file.source_namespace);
    if (file.version) append_header_line(out, "Version", *file.version);
    append_header_line(out, "Generated At", file.generated_at);
    out += "// DO NOT EDIT - This file is auto-generated\n\n";
    out += "syntax = \"" + file.syntax + "\";\n\n";
    out += "package " + file.package + ";\n";
    if (append_options(out, file)) out += '\n';
    if (!file.imports.empty()) {
        out += '\n';
        for (const std::string& path : file.imports)
            out += "import \"" + path + "\";\n";
    }
    for (const ProtoEnum& proto_enum : file.enums) {
        out += '\n';
        out += render_proto_enum(proto_enum);
    }
    TextWritingPolls polls(out);
    for (const ProtoMessage& message : file.messages) {
        polls.poll(out);
        out += '\n';
        out += render_proto_message(message);
    }
    for (const ProtoService& service : file.services) {
        polls.poll(out);
        out += '\n';
        append_service(out, service);
    }
    return out;
}

std::string render_proto_message(const ProtoMessage& message) {
    std::string out;
    append_comment_lines(out, message.comments);
    out += "message " + message.name + " {\n";
    if (!message.reserved_numbers.empty()) {
        out += kIndent;
        out += "reserved ";
        for (size_t i = 0; i < message.reserved_numbers.size(); ++i) {
            if (i > 0) out += ", ";
            out += std::to_string(message.reserved_numbers[i]);
        }
        out += ";\n";
    }
    if (!message.reserved_names.empty()) {
        out += kIndent;
        out += "reserved ";
        for (size_t i = 0; i < message.reserved_names.size(); ++i) {
            if (i > 0) out += ", ";
            out += '"' + message.reserved_names[i] + '"';
        }
        out += ";\n";
    }
    for (const ProtoEnum& nested : message.enums)
        append_indented(out, render_proto_enum(nested));
    for (const ProtoMessage& nested : message.messages)
        append_indented(out, render_proto_message(nested));
    for (const ProtoField& field : message.fields) {
        poll_cancellation();
        append_field(out, field);
    }
    out += "}\n";
    return out;
}

std::string render_proto_enum(const ProtoEnum& proto_enum) {
    std::string out;
    append_comment_lines(out, proto_enum.comments);
    out += "enum " + proto_enum.name + " {\n";
    for (const auto& [name, number] : proto_enum.values) {
        out += kIndent;
        out += name + " = " + std::to_string(number) + ";\n";
    }
    out += "}\n";
    return out;
}

std::string render_proto_field_type(const ProtoFieldType& type) {
    if (const ProtoScalar* scalar = type.as_scalar())
        return std::string(proto_scalar_name(*scalar));
    if (const auto* message = type.as_message()) return message->type_name;
    if (const auto* enumeration = type.as_enum()) return enumeration->type_name;
    const ProtoFieldType::Map& map = *type.as_map();
    return "map<" + render_proto_field_type(*map.key) + ", " + render_proto_field_type(*map.value) +
           ">";
}

} // namespace vok::projection
