// The writer that turns the proto file model (proto_file.h) into `.proto` text.
//
// The layout is fixed: a header of comment lines (written even when their values are empty),
// syntax, package, the option block, imports, then every enum, message and service preceded by
// exactly one empty line. Names, the package and standard option values are written as held;
// only custom string options are escaped. Text written into a `//` comment (header values,
// message, field, enum and service comments) has every line terminator (CR, LF, U+0085, U+2028,
// U+2029) written as one blank, so that no name can end its comment and add declarations.
//
// The writer never fails.
#pragma once

#include <string>

#include "projection/proto_file.h"

namespace vok::projection {

std::string render_proto_file(const ProtoFile& file);

// The message's lines, each ending with a line break; nested enums and messages are indented by
// two blanks per level.
std::string render_proto_message(const ProtoMessage& message);

std::string render_proto_enum(const ProtoEnum& proto_enum);

// "int64", "google.protobuf.Timestamp", "map<string, int64>".
std::string render_proto_field_type(const ProtoFieldType& type);

} // namespace vok::projection
