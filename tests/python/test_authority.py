"""AuthorityEnvironment and evaluate_authority at the Python boundary: signatures, the error
prefix of every step, borrows, the evidence store, and the returned documents."""

import json

import pytest

import _vok_testhooks as hooks
import vok_dsl
from authority_documents import READ_WRITE, config, fact, policy, request
from vok_dsl import AuthorityEnvironment, evaluate_authority


def environment(text=READ_WRITE):
    env = AuthorityEnvironment(text)
    env.validate()
    return env


def test_signatures_docs_and_repr():
    assert AuthorityEnvironment.__text_signature__ == "(config_json)"
    assert AuthorityEnvironment.__doc__ == ""
    assert AuthorityEnvironment.validate.__text_signature__ == "($self)"
    assert (AuthorityEnvironment.evaluate.__text_signature__
            == '($self, request_json, facts_json="[]")')
    assert (evaluate_authority.__text_signature__
            == '(config_json, request_json, facts_json="[]")')
    assert evaluate_authority.__doc__ == (
        "Evaluate an authority request against a policy environment configuration.\n\n"
        "Args:\n"
        "    config_json: JSON string of AuthorityEnvironmentConfig\n"
        "    request_json: JSON string of AuthorityRequest\n"
        "    facts_json: JSON array of FactEnvelope objects (optional)\n\n"
        "Returns:\n"
        "    Tuple of (trace_json, decision_json)\n")
    assert repr(AuthorityEnvironment(READ_WRITE)) == "<Py AuthorityEnvironment>"


def test_evaluate_returns_trace_and_decision():
    env = environment()
    trace_json, decision_json = env.evaluate(request("write"))
    trace, decision = json.loads(trace_json), json.loads(decision_json)
    assert list(decision) == ["decision_id", "request_id", "final_decision", "reason_code",
                              "trace_ref"]
    assert decision["final_decision"] == "deny"
    assert decision["reason_code"] == "denied_by_deny-write"
    assert decision["trace_ref"] == decision["decision_id"] == trace["decision_id"]
    assert trace["conflict_resolution_steps"] == [
        {"step": "single_applicable", "policy_id": "deny-write", "result": "Deny"}]
    assert trace["created_at"].endswith("+00:00")
    assert hooks.evidence_store_size(env) == 1


def test_omitted_facts_mean_an_empty_list_and_none_is_refused():
    env = environment()
    one = json.loads(env.evaluate(request())[0])
    two = json.loads(env.evaluate(request(), "[]")[0])
    three = json.loads(env.evaluate(request(), facts_json="[]")[0])
    for trace in (one, two, three):
        assert trace["fact_trust_decisions"] == [] and trace["final_decision"] == "allow"
    with pytest.raises(TypeError, match="facts_json"):
        env.evaluate(request(), None)
    with pytest.raises(TypeError, match="request_json"):
        env.evaluate(b"{}")
    with pytest.raises(TypeError, match="facts_json"):
        evaluate_authority(READ_WRITE, request(), None)
    with pytest.raises(TypeError):
        AuthorityEnvironment(None)


def test_facts_reach_the_trace():
    env = environment()
    trace = json.loads(env.evaluate(request(), json.dumps([fact(), fact(source_id="nope")]))[0])
    assert [d["reason"] for d in trace["fact_trust_decisions"]] == [
        "trusted", "unregistered_source"]


BAD_CONFIG = config(sources=[{"id": "", "source_class": "system_of_record",
                              "allowed_paths": ["a"], "evidence_required": False,
                              "signature_required": False, "max_response_latency_ms": 1}])


@pytest.mark.parametrize("arguments, class_prefix, function_prefix", [
    (("{", request()), "Invalid config JSON: ", "Invalid config: "),
    ((BAD_CONFIG, request()),
     "Authority error: [InvalidFactSourceError] Fact source id is required",
     "Environment error: [InvalidFactSourceError] Fact source id is required"),
    ((config(permission="allow"), request()),
     "Validation error: [InvalidAuthorityEnvironment] Unknown permission must not default to Allow",
     "Validation error: [InvalidAuthorityEnvironment] Unknown permission must not default to Allow"),
    ((READ_WRITE, "[", "{"), "Invalid request JSON: ", "Invalid request: "),
    ((READ_WRITE, request(), "{"), "Invalid facts JSON: ", "Invalid facts: "),
    ((READ_WRITE, request(request_id="")),
     "Evaluation error: [InvalidRequest] request_id is required",
     "Evaluation error: [InvalidRequest] request_id is required"),
])
def test_every_step_has_its_prefix(arguments, class_prefix, function_prefix):
    with pytest.raises(ValueError) as raised:
        evaluate_authority(*arguments)
    assert str(raised.value).startswith(function_prefix)
    with pytest.raises(ValueError) as raised:
        env = AuthorityEnvironment(arguments[0])
        env.validate()
        env.evaluate(*arguments[1:])
    assert str(raised.value).startswith(class_prefix)


def test_evaluate_before_validate_and_failed_validate_leave_the_object_usable():
    env = AuthorityEnvironment(READ_WRITE)
    with pytest.raises(ValueError, match=r"^Evaluation error: \[InvalidAuthorityEnvironment\] "
                                         r"Environment not validated\. Call validate\(\) first\.$"):
        env.evaluate(request())
    env.validate()
    env.validate()
    assert json.loads(env.evaluate(request())[1])["final_decision"] == "allow"
    bad = AuthorityEnvironment(config(permission="allow"))
    for _ in range(2):
        with pytest.raises(ValueError, match="^Validation error: "):
            bad.validate()


def test_methods_check_their_receiver():
    with pytest.raises(TypeError, match="AuthorityEnvironment"):
        AuthorityEnvironment.validate("x")
    with pytest.raises(TypeError, match="AuthorityEnvironment"):
        AuthorityEnvironment.evaluate(object(), request())


def test_poisoned_store_refuses_only_allow():
    env = environment()
    hooks.poison_evidence_store(env)
    decision = json.loads(env.evaluate(request("write"))[1])
    assert decision["final_decision"] == "deny"
    with pytest.raises(ValueError) as raised:
        env.evaluate(request("read"))
    assert str(raised.value) == (
        "Evaluation error: [TracePersistenceFailure] Trace persistence failed: Cannot confirm "
        "high-impact decision without trace persistence")
    assert hooks.evidence_store_size(env) == 0


def test_each_environment_keeps_its_own_store():
    a, b = environment(), environment()
    for _ in range(3):
        a.evaluate(request())
    b.evaluate(request())
    evaluate_authority(READ_WRITE, request())
    assert (hooks.evidence_store_size(a), hooks.evidence_store_size(b)) == (3, 1)


def test_strict_mode_conflict_is_an_evaluation_error():
    text = config([policy("x"), policy("y")], strict=True)
    with pytest.raises(ValueError, match=r"^Evaluation error: \[SpecificityConflict\] "
                                         r"Incomparable specificity between 'x' and 'y'$"):
        evaluate_authority(text, request())


def test_enumerations():
    assert int(vok_dsl.FinalDecision.NotApplicable) == 3
    assert repr(vok_dsl.PolicyModality.Override) == "PolicyModality.Override"
    assert vok_dsl.ClaimLevel.Validated == 1


def test_a_trusted_fact_replaces_the_callers_value_but_a_derived_fact_comes_after_it():
    requirement = [{"fact_path": "customer.verified",
                    "allowed_source_classes": ["system_of_record"]}]
    document = json.loads(config([
        policy("allow-verified", "Permission", 10, {"action": "read"},
               when={"customer.verified": True}, requires_fact=requirement),
        policy("deny-unverified", "Prohibition", 20, {"action": "read"},
               when={"customer.verified": False}),
    ]))
    plain = environment(json.dumps(document))
    document["fact_transforms"] = [{
        "id": "check", "version": "1", "hash": "h",
        "inputs": [{"fact_path": "customer.checked", "source_classes": []}],
        "output": {"fact_path": "customer.verified"},
        "purity": dict.fromkeys(["network_access", "filesystem_access", "clock_access",
                                 "random_access", "side_effects", "global_state_access"], False),
        "determinism_tests": []}]
    deriving = environment(json.dumps(document))

    def decided(env, facts, context):
        decision = env.evaluate(request(context=context), json.dumps(facts))[1]
        return json.loads(decision)["final_decision"]

    unverified = {"customer": {"verified": False}}
    assert decided(plain, [], unverified) == "deny"
    assert decided(plain, [fact("customer.verified", True)], unverified) == "allow"
    checked = [fact("customer.checked", True)]
    assert decided(deriving, checked, None) == "allow"
    assert decided(deriving, checked, unverified) == "deny"
