// The table of well-known message types and the walk that gathers their imports.
#include "projection/well_known_imports.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cancellation.h"

namespace vok::projection {

namespace {

constexpr std::pair<std::string_view, std::string_view> kWellKnownTypes[] = {
    {"google.protobuf.Timestamp", "google/protobuf/timestamp.proto"},
    {"google.protobuf.Duration", "google/protobuf/duration.proto"},
    {"google.protobuf.Any", "google/protobuf/any.proto"},
    {"google.protobuf.Struct", "google/protobuf/struct.proto"},
    {"google.protobuf.Value", "google/protobuf/struct.proto"},
    {"google.protobuf.ListValue", "google/protobuf/struct.proto"},
    {"google.protobuf.Empty", "google/protobuf/empty.proto"},
    {"google.protobuf.Int32Value", "google/protobuf/wrappers.proto"},
    {"google.protobuf.Int64Value", "google/protobuf/wrappers.proto"},
    {"google.protobuf.UInt32Value", "google/protobuf/wrappers.proto"},
    {"google.protobuf.UInt64Value", "google/protobuf/wrappers.proto"},
    {"google.protobuf.FloatValue", "google/protobuf/wrappers.proto"},
    {"google.protobuf.DoubleValue", "google/protobuf/wrappers.proto"},
    {"google.protobuf.BoolValue", "google/protobuf/wrappers.proto"},
    {"google.protobuf.StringValue", "google/protobuf/wrappers.proto"},
    {"google.protobuf.BytesValue", "google/protobuf/wrappers.proto"},
};

const std::string_view* import_path_of(std::string_view type_name) {
    for (const auto& [name, path] : kWellKnownTypes) {
        if (name == type_name) return &path;
    }
    return nullptr;
}

void add_once(std::vector<std::string>& paths, std::string_view path) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.emplace_back(path);
}

} // namespace

void collect_well_known_imports(ProtoFile& file) {
    std::vector<std::string> found;
    // Each top-level message depth first with an explicit stack, which holds only the nested
    // messages of one at a time; children are pushed in reverse to keep their order.
    std::vector<const ProtoMessage*> pending;
    for (const ProtoMessage& top : file.messages) {
        pending.push_back(&top);
        while (!pending.empty()) {
            poll_cancellation();
            const ProtoMessage* message = pending.back();
            pending.pop_back();
            for (const ProtoField& field : message->fields) {
                if (const auto* reference = field.type.as_message()) {
                    if (const std::string_view* path = import_path_of(reference->type_name))
                        add_once(found, *path);
                }
            }
            for (auto it = message->messages.rbegin(); it != message->messages.rend(); ++it)
                pending.push_back(&*it);
        }
    }
    for (const std::string& path : found)
        add_once(file.imports, path);
    std::stable_sort(file.imports.begin(), file.imports.end());
}

} // namespace vok::projection
