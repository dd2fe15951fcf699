// Message texts of GraphError; see graph_error.h.
#include "graph/graph_error.h"

namespace vok {

namespace {

struct MessageWriter {
    std::string operator()(const GraphError::DuplicateId& e) const {
        return std::string(kRecordKindNames[static_cast<size_t>(e.kind)]) + " with ID " +
               e.id.to_string() + " already exists";
    }
    std::string operator()(const GraphError::SourceEntityNotFound&) const {
        return "Source entity not found";
    }
    std::string operator()(const GraphError::TargetEntityNotFound&) const {
        return "Target entity not found";
    }
    std::string operator()(const GraphError::ResourceNotFound&) const {
        return "Resource not found";
    }
    std::string operator()(const GraphError::EntityNotFound&) const { return "Entity not found"; }
    std::string operator()(const GraphError::DestinationEntityNotFound&) const {
        return "Destination entity not found";
    }
    std::string operator()(const GraphError::PatternAlreadyDeclared& e) const {
        return "Pattern '" + e.name + "' already declared in namespace '" + e.namespace_ + "'";
    }
};

} // namespace

std::string GraphError::to_string() const {
    return std::visit(MessageWriter{}, variant);
}

} // namespace vok
