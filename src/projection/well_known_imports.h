// The imports a `.proto` file needs for the well-known types its fields name.
//
// Fields that reference a message such as "google.protobuf.Timestamp" only compile when the file
// imports its definition; this adds those imports, so the model's users only name the types.
#pragma once

#include "projection/proto_file.h"

namespace vok::projection {

// Adds the import path of every well-known message type that a field of a message (nested
// messages included, depth first) references, unless `imports` already holds it, then sorts
// `imports` in byte order. Enum references, map types and rpc types are not looked at. Running it
// a second time adds nothing.
void collect_well_known_imports(ProtoFile& file);

} // namespace vok::projection
