// How graph names become `.proto` names: type names for messages, services and rpcs, and field
// names for attribute keys.
//
// Type names always come out as ASCII identifiers that protoc accepts and that no keyword or
// scalar type shadows; characters outside ASCII are dropped after capitalisation. Field names are
// snake case and may come out empty, digit-first or non-ASCII: the projection writes them as they
// are, so such keys give a file that protoc refuses rather than a silently renamed field.
#pragma once

#include <string>
#include <string_view>

namespace vok::projection {

// "order item" and "order_item" give "OrderItem", "3d-model" gives "Vok3dModel", "message" gives
// "VokMessage"; a name with no letters or digits gives "VokUnnamed".
std::string to_proto_type_name(std::string_view name);

// "unitPrice" gives "unit_price", "OrderID" gives "order_id", "Unit Price" gives "unit__price".
std::string to_proto_field_name(std::string_view key);

} // namespace vok::projection
