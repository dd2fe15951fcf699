// Reading a request with its actor and resource; see request.h.
#include "authority/request.h"

#include "authority/record_fields.h"

namespace vok::authority {

using json::Deserializer;
using json::Status;

Result<ActorContext, json::Error> ActorContext::read(Deserializer& de) {
    ActorContext a;
    json::Field fields[] = {
        string_field("id", a.id),
        optional_string_field("role", a.role),
        defaulted(string_list_field("groups", a.groups)),
        optional_string_field("service_account", a.service_account),
        optional_string_field("agent_identity", a.agent_identity),
    };
    VOK_TRY(json::read_struct(de, "struct ActorContext", fields));
    return a;
}

Result<ResourceRef, json::Error> ResourceRef::read(Deserializer& de) {
    VOK_TRY(de.begin_map("struct ResourceRef"));
    ResourceRef r;
    std::vector<json::Object::Entry> attributes;
    bool seen_id = false;
    bool seen_type = false;
    auto read_named = [&](std::string_view name, bool& seen,
                          std::optional<std::string>& out) -> Status {
        if (seen) return Err(json::duplicate_field(name));
        seen = true;
        VOK_ASSIGN(bool none, de.read_none());
        if (none) return Ok();
        VOK_ASSIGN(std::string text, json::read_string(de));
        out = std::move(text);
        return Ok();
    };
    Status visited = [&]() -> Status {
        while (true) {
            VOK_ASSIGN(std::optional<std::string> key, de.next_key());
            if (!key) return Ok();
            if (*key == "id") {
                VOK_TRY(read_named("id", seen_id, r.id));
            } else if (*key == "type") {
                VOK_TRY(read_named("type", seen_type, r.type));
            } else {
                VOK_ASSIGN(json::Value value, de.read_any());
                attributes.emplace_back(std::move(*key), std::move(value));
            }
        }
    }();
    VOK_TRY(de.end(json::Form::Map, std::move(visited)));
    r.attributes = json::Object::from_entries(std::move(attributes));
    return r;
}

Result<AuthorityRequest, json::Error> AuthorityRequest::read(Deserializer& de) {
    AuthorityRequest q;
    json::Field fields[] = {
        string_field("request_id", q.request_id),
        record_field("actor", q.actor, &ActorContext::read),
        string_field("operation", q.operation),
        record_field("resource", q.resource, &ResourceRef::read),
        defaulted(value_field("context", q.context)),
        instant_field("requested_at", q.requested_at),
        optional_string_field("correlation_id", q.correlation_id),
        optional_string_field("risk_class", q.risk_class),
        defaulted({"metadata", false,
                   [&q](Deserializer& d) -> Status {
                       VOK_ASSIGN(q.metadata, read_value_map(d, "a map"));
                       return Ok();
                   }}),
    };
    VOK_TRY(json::read_struct(de, "struct AuthorityRequest", fields));
    return q;
}

Result<AuthorityRequest, std::string> AuthorityRequest::deserialize(std::string_view text) {
    return read_authority_document(text, &AuthorityRequest::read);
}

} // namespace vok::authority
