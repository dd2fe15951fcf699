// Writing the decision document; see authority_decision.h.
#include "authority/authority_decision.h"

#include "json/writer.h"

namespace vok::authority {

std::string serialize_decision_record(const AuthorityDecision& d) {
    std::string out;
    json::Writer w(out);
    w.begin_object();
    w.string_member("decision_id", d.decision_id);
    w.string_member("request_id", d.request_id);
    w.key("final_decision");
    write_final_decision(w, d.final_decision);
    w.string_member("reason_code", d.reason_code);
    w.string_member("trace_ref", d.trace_ref);
    if (d.operator_action_hint) w.string_member("operator_action_hint", *d.operator_action_hint);
    w.end_object();
    return out;
}

} // namespace vok::authority
