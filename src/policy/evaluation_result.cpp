// The records a policy evaluation produces; the definitions behind evaluation_result.h.
#include "policy/evaluation_result.h"

#include <utility>

namespace vok {

Severity severity_for(DeonticModality modality) {
    return modality == DeonticModality::Permission ? Severity::Info : Severity::Error;
}

Violation Violation::make(std::string_view name, std::string message, Severity severity) {
    return Violation{std::string(name), std::move(message), json::Value(json::Object()), severity};
}

} // namespace vok
