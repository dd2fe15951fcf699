// The in-memory model of one proto3 `.proto` file, filled by the protobuf projection and written
// out by proto_text.h.
//
// The model is deliberately wider than the projection needs (options, imports, enums, nested
// messages, reserved entries, map types), so that the writer can be tested on every construct
// the format has. Every record owns its texts and lists; nested messages and map types own their
// parts. Nothing here validates names or numbers: the writer writes what it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vok::projection {

enum class ProtoScalar : uint8_t {
    Double,
    Float,
    Int32,
    Int64,
    Uint32,
    Uint64,
    Sint32,
    Sint64,
    Fixed32,
    Fixed64,
    Sfixed32,
    Sfixed64,
    Bool,
    String,
    Bytes,
};

// The keyword written for the scalar ("double", "sfixed64", ...).
std::string_view proto_scalar_name(ProtoScalar scalar);

// A field's type: a scalar, a reference to a message or enum by type name, or a map. A map owns
// its key and value types, which makes the type a tree; copies are deep.
class ProtoFieldType {
public:
    struct MessageRef {
        std::string type_name;
    };
    struct EnumRef {
        std::string type_name;
    };
    struct Map {
        std::unique_ptr<ProtoFieldType> key;
        std::unique_ptr<ProtoFieldType> value;
    };

    static ProtoFieldType scalar(ProtoScalar scalar) { return ProtoFieldType(scalar); }
    static ProtoFieldType message(std::string type_name) {
        return ProtoFieldType(MessageRef{std::move(type_name)});
    }
    static ProtoFieldType enumeration(std::string type_name) {
        return ProtoFieldType(EnumRef{std::move(type_name)});
    }
    static ProtoFieldType map(ProtoFieldType key, ProtoFieldType value);

    ProtoFieldType(const ProtoFieldType& other);
    ProtoFieldType& operator=(const ProtoFieldType& other);
    ProtoFieldType(ProtoFieldType&&) noexcept = default;
    ProtoFieldType& operator=(ProtoFieldType&&) noexcept = default;
    ~ProtoFieldType() = default;

    const ProtoScalar* as_scalar() const { return std::get_if<ProtoScalar>(&kind_); }
    const MessageRef* as_message() const { return std::get_if<MessageRef>(&kind_); }
    const EnumRef* as_enum() const { return std::get_if<EnumRef>(&kind_); }
    const Map* as_map() const { return std::get_if<Map>(&kind_); }

private:
    using Kind = std::variant<ProtoScalar, MessageRef, EnumRef, Map>;
    explicit ProtoFieldType(Kind kind) : kind_(std::move(kind)) {}
    Kind kind_;
};

struct ProtoField {
    std::string name;
    std::vector<std::string> comments;
    ProtoFieldType type = ProtoFieldType::scalar(ProtoScalar::String);
    uint32_t number = 0;
    bool repeated = false;
    bool optional = false;
};

struct ProtoEnum {
    std::string name;
    std::vector<std::pair<std::string, int32_t>> values;
    std::vector<std::string> comments;
};

struct ProtoMessage {
    std::string name;
    std::vector<ProtoField> fields;
    std::vector<ProtoMessage> messages; // nested, written inside this one
    std::vector<ProtoEnum> enums;       // nested, written before the nested messages
    std::vector<uint32_t> reserved_numbers;
    std::vector<std::string> reserved_names;
    std::vector<std::string> comments; // one per comment line above the message

    // A message with this name and nothing in it.
    static ProtoMessage make(std::string name);
};

enum class StreamingMode : uint8_t {
    Unary = 0,
    ServerStreaming = 1,
    ClientStreaming = 2,
    Bidirectional = 3,
};

struct ProtoRpc {
    std::string name;
    std::string input_type;
    std::string output_type;
    StreamingMode streaming = StreamingMode::Unary;
};

struct ProtoService {
    std::string name;
    std::vector<ProtoRpc> rpcs;
    std::vector<std::string> comments;
};

// A custom file option. An identifier is written bare (an enum value such as SPEED); a string is
// quoted and escaped.
struct ProtoOption {
    struct Identifier {
        std::string name;
    };
    using Value = std::variant<std::string, int64_t, double, bool, Identifier>;

    std::string name;
    Value value;
};

struct ProtoFile {
    std::string package;
    std::string syntax;
    std::vector<std::string> imports; // unique and in byte order after collect_well_known_imports
    std::vector<ProtoOption> options; // custom options, in the order added

    // The standard file options, written unescaped.
    std::optional<std::string> java_package;
    std::optional<std::string> go_package;
    std::optional<std::string> csharp_namespace;
    std::optional<std::string> php_namespace;
    std::optional<std::string> ruby_package;
    std::optional<std::string> swift_prefix;
    std::optional<std::string> objc_class_prefix;
    std::optional<std::string> optimize_for; // an identifier such as SPEED, written bare
    bool java_multiple_files = false;
    bool deprecated = false;

    std::vector<ProtoEnum> enums;
    std::vector<ProtoMessage> messages;
    std::vector<ProtoService> services;

    // What the header comment lines say; each is written even when empty.
    std::string projection_name;
    std::string source_namespace;
    std::string generated_at;
    std::optional<std::string> version; // its header line is written only when set
};

} // namespace vok::projection
