// Wrappers of the authority engine; see authority_environment_class.h.
#include "python/authority/authority_environment_class.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "authority/evaluate_request.h"
#include "python/binding/binding.h"
#include "python/core_errors.h"

namespace vok::python {

namespace {

using authority::AuthorityEnvironment;
using authority::AuthorityEnvironmentConfig;
using authority::AuthorityRequest;
using authority::FactEnvelope;

constexpr Signature kNew{"AuthorityEnvironment.__new__", {{"config_json"}}};
constexpr Signature kValidate{"AuthorityEnvironment.validate"};
constexpr Signature kEvaluate{"AuthorityEnvironment.evaluate",
                              {{"request_json"}, {"facts_json", "\"[]\""}}};
constexpr Signature kEvaluateAuthoritySignature{
    "evaluate_authority", {{"config_json"}, {"request_json"}, {"facts_json", "\"[]\""}}};

constexpr std::string_view kNoFacts = "[]";

// The error prefixes of one entry point, step by step.
struct Prefixes {
    std::string_view config;
    std::string_view build;
    std::string_view request;
    std::string_view facts;
};

constexpr Prefixes kClassPrefixes{
    messages::prefix::kInvalidConfigJson, messages::prefix::kAuthority,
    messages::prefix::kInvalidRequestJson, messages::prefix::kInvalidFactsJson};
constexpr Prefixes kFunctionPrefixes{
    messages::prefix::kInvalidConfig, messages::prefix::kEnvironment,
    messages::prefix::kInvalidRequest, messages::prefix::kInvalidFacts};

PyResult<AuthorityEnvironment> build(std::string_view config_json, const Prefixes& prefixes) {
    VOK_ASSIGN(AuthorityEnvironmentConfig config,
               core_result(AuthorityEnvironmentConfig::deserialize(config_json), prefixes.config));
    return core_result(authority::build_environment(std::move(config)), prefixes.build);
}

using TraceAndDecision = std::pair<std::string, std::string>;

// The (trace, decision) tuple of strs.
PyResult<Ref> evaluate_texts(const AuthorityEnvironment& environment, std::string_view request_json,
                             std::string_view facts_json, const Prefixes& prefixes) {
    VOK_ASSIGN(AuthorityRequest request,
               core_result(AuthorityRequest::deserialize(request_json), prefixes.request));
    VOK_ASSIGN(std::vector<FactEnvelope> facts,
               core_result(FactEnvelope::deserialize_list(facts_json), prefixes.facts));
    VOK_ASSIGN(authority::EvaluationResult result,
               core_result(authority::decide_request(environment, request, std::move(facts),
                                                     authority::system_clock()),
                           messages::prefix::kEvaluation));
    // Writing into memory cannot fail, so the two serialization prefixes are never needed. The
    // documents are written, and made the strs returned, before the trace is stored: storing is
    // the last step and nothing may stop the call after it, so a long trace's str made then would
    // be a stretch that Ctrl-C cannot cut short.
    VOK_ASSIGN(Ref texts,
               to_python(TraceAndDecision(authority::serialize_decision_trace(*result.trace),
                                          authority::serialize_decision_record(result.decision))));
    VOK_TRY(
        core_result(authority::store_trace(environment, result), messages::prefix::kEvaluation));
    return texts;
}

PyResult<AuthorityEnvironment> new_environment(Args& args) {
    VOK_ASSIGN(std::string_view config_json, args.text(0));
    return build(config_json, kClassPrefixes);
}

PyResult<void> validate_environment(AuthorityEnvironment& self) {
    return core_result(authority::validate(self), messages::prefix::kValidation);
}

PyResult<Ref> evaluate(const AuthorityEnvironment& self, Args& args) {
    VOK_ASSIGN(std::string_view request_json, args.text(0));
    VOK_ASSIGN(std::string_view facts_json, args.text_or(1, kNoFacts));
    return evaluate_texts(self, request_json, facts_json, kClassPrefixes);
}

PyResult<std::string> environment_repr(const AuthorityEnvironment&) {
    return std::string("<Py AuthorityEnvironment>");
}

// A temporary environment, validated, used once and dropped with its evidence store.
PyResult<Ref> evaluate_authority(Args& args) {
    VOK_ASSIGN(std::string_view config_json, args.text(0));
    VOK_ASSIGN(std::string_view request_json, args.text(1));
    VOK_ASSIGN(std::string_view facts_json, args.text_or(2, kNoFacts));
    VOK_ASSIGN(AuthorityEnvironment environment, build(config_json, kFunctionPrefixes));
    VOK_TRY(validate_environment(environment));
    return evaluate_texts(environment, request_json, facts_json, kFunctionPrefixes);
}

constexpr const char* kEvaluateAuthorityDoc =
    "Evaluate an authority request against a policy environment configuration.\n"
    "\n"
    "Args:\n"
    "    config_json: JSON string of AuthorityEnvironmentConfig\n"
    "    request_json: JSON string of AuthorityRequest\n"
    "    facts_json: JSON array of FactEnvelope objects (optional)\n"
    "\n"
    "Returns:\n"
    "    Tuple of (trace_json, decision_json)\n";

const MethodRow kMethods[] = {
    exclusive_method<kValidate, validate_environment>(),
    method<kEvaluate, evaluate>(),
};

} // namespace

const ClassSpec kAuthorityEnvironmentClass{.name = "AuthorityEnvironment",
                                           .layout = layout_of<AuthorityEnvironment>(),
                                           .constructor = constructor<kNew, new_environment>(),
                                           .methods = kMethods,
                                           .slots = {.repr = unary_slot<environment_repr>}};

const FunctionRow kEvaluateAuthority =
    function<kEvaluateAuthoritySignature, evaluate_authority>(kEvaluateAuthorityDoc);

} // namespace vok::python
