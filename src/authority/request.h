// AuthorityRequest: who (the actor) wants to do what (the operation) to which resource, and when,
// with the caller's free context and metadata.
//
// The reader checks form and types only; a request without its identifying fields (request id,
// actor id, operation, resource id or type) is refused when it is evaluated. The context is any
// JSON value (null when left out) from which evaluation makes caller facts; metadata is a map of
// free caller data, in which policies look up structural keys other than the request's own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "time/rfc3339.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::authority {

struct ActorContext {
    std::string id;
    std::optional<std::string> role;
    std::vector<std::string> groups;
    std::optional<std::string> service_account;
    std::optional<std::string> agent_identity;

    // An object of the five keys or an array of the five values in field order.
    static Result<ActorContext, json::Error> read(json::Deserializer& de);
};

// The resource of a request: an optional id and type, and every other key of its object, with its
// value, as an attribute (of a key given twice, the value given last).
struct ResourceRef {
    std::optional<std::string> id;
    std::optional<std::string> type;
    json::Object attributes;

    // An object only.
    static Result<ResourceRef, json::Error> read(json::Deserializer& de);
};

struct AuthorityRequest {
    std::string request_id;
    ActorContext actor;
    // Structural predicates see it under the key "action".
    std::string operation;
    ResourceRef resource;
    json::Value context;
    UtcInstant requested_at;
    std::optional<std::string> correlation_id;
    std::optional<std::string> risk_class;
    json::Object metadata;

    // An object, or an array of the nine values in field order (eight: no metadata).
    static Result<AuthorityRequest, json::Error> read(json::Deserializer& de);
    // Reads the whole of `text`; the error is the JSON reader's (or the date parser's) message
    // with its position.
    static Result<AuthorityRequest, std::string> deserialize(std::string_view text);
};

} // namespace vok::authority
