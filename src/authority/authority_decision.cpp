// Writing the decision document; see authority_decision.h.
#include "authority/authority_decision.h"

#include "authority/compact_object.h"

namespace vok::authority {

std::string serialize_decision_record(const AuthorityDecision& d) {
    std::string out;
    out.reserve(256); // a typical decision, ids and reason included
    CompactObject o(out);
    o.string("decision_id", d.decision_id);
    o.string("request_id", d.request_id);
    o.string("final_decision", json_name(d.final_decision));
    o.string("reason_code", d.reason_code);
    o.string("trace_ref", d.trace_ref);
    if (d.operator_action_hint) o.string("operator_action_hint", *d.operator_action_hint);
    o.end();
    return out;
}

} // namespace vok::authority
