#!/usr/bin/python3
"""Times AuthorityEnvironment.evaluate against a plain Python evaluator of the same checks.

usage: PYTHONPATH=<build>/python authority.py [DECISIONS]

The configuration has 100 policies in four packs, three fact sources and one transform. Each
request makes ten policies candidates and comes with two facts; the requests cycle through the
ten "action" values. Both sides take JSON text in and give JSON text out, so the Python loop
parses the request and the facts, checks trust, finds candidates by their structural predicates,
tests fact requirements and conditions, resolves by modality, priority and specificity, and
writes a trace and a decision with json.dumps.

The evidence store keeps every trace, so decisions run in batches on fresh environments; the
resident-memory growth per decision within a batch is reported as the bytes stored per trace.
Only the standard library is used.
"""

import gc
import json
import sys
import time
import uuid

import vok_dsl

ACTIONS = [f"op{i}" for i in range(10)]
BATCH = 10_000


def configuration():
    packs = []
    for p in range(4):
        policies = []
        for i in range(25):
            n = p * 25 + i
            policies.append({
                "policy_id": f"pol{n}",
                "modality": ["Permission", "Prohibition", "Permission", "Obligation"][n % 4],
                "priority": n % 5,
                "applies_to": {"action": ACTIONS[n % 10],
                               **({"resource.type": "doc"} if n % 3 else {})},
                "when": {"customer.status": {"__neq": "blocked"}} if n % 2 else {},
                "requires_fact": [{"fact_path": "customer.tier",
                                   "allowed_source_classes": ["system_of_record", "attested"]}],
                "semantics_version": "s1",
            })
        packs.append({"id": f"pack{p}", "version": "1", "semantics_version": "s1",
                      "required_specificity_profile": "p1", "hash": f"hash{p}",
                      "policies": policies})
    purity = {k: False for k in ("network_access", "filesystem_access", "clock_access",
                                 "random_access", "side_effects", "global_state_access")}
    return {
        "resolver_semantics_version": "s1",
        "specificity_profile": {"id": "p1", "dimensions": ["actor", "resource", "condition"],
                                "scoring_rules": None, "hash": "ph"},
        "unknown_handling": {k: {"default": "deny"}
                             for k in ("permission", "prohibition", "obligation", "override_")},
        "fact_sources": [
            {"id": "crm", "source_class": "system_of_record", "allowed_paths": ["customer."],
             "evidence_required": False, "signature_required": False,
             "max_response_latency_ms": 100},
            {"id": "kyc", "source_class": "attested", "allowed_paths": ["kyc."],
             "evidence_required": False, "signature_required": False,
             "max_response_latency_ms": 100},
            {"id": "ops", "source_class": "runtime_observed", "allowed_paths": ["ops."],
             "evidence_required": False, "signature_required": False,
             "max_response_latency_ms": 100},
        ],
        "fact_transforms": [{"id": "tier_copy", "version": "1", "hash": "t",
                             "inputs": [{"fact_path": "customer.tier",
                                         "source_classes": ["system_of_record"]}],
                             "output": {"fact_path": "derived.tier"}, "purity": purity,
                             "determinism_tests": ["t1"]}],
        "authority_packs": packs,
        "strict_mode": False,
        "compatibility_lowering_version": "c1",
        "resolver_version": "r1",
    }


def requests(count):
    return [json.dumps({
        "request_id": f"r{i}", "actor": {"id": "u1", "role": "clerk"},
        "operation": ACTIONS[i % 10], "resource": {"type": "doc", "id": f"d{i}"},
        "context": {"channel": "web"}, "requested_at": "2024-05-01T08:00:00Z"})
        for i in range(count)]


FACTS = json.dumps([
    {"path": "customer.tier", "value": "gold", "source_class": "system_of_record",
     "source_id": "crm", "observed_at": "2024-05-01T08:00:00Z"},
    {"path": "customer.status", "value": "active", "source_class": "system_of_record",
     "source_id": "crm", "observed_at": "2024-05-01T08:00:00Z"},
])

RANK = {"Permission": 2, "Obligation": 3, "Prohibition": 4, "Override": 5}
WORD = {"allow": "allowed", "deny": "denied", "escalate": "escalated"}


class PythonEvaluator:
    """The same checks, written the straightforward way."""

    def __init__(self, config_json):
        self.config = json.loads(config_json)
        self.sources = {s["id"]: s for s in self.config["fact_sources"]}
        self.policies = [p for pack in self.config["authority_packs"] for p in pack["policies"]]
        self.dimensions = self.config["specificity_profile"]["dimensions"]
        self.traces = []

    def value(self, request, key):
        if key == "action":
            return request["operation"]
        if key == "resource.type":
            return request["resource"].get("type")
        return request.get("metadata", {}).get(key)

    def scores(self, policy):
        out = [sum(1 for k in policy["applies_to"] if k == d or k.startswith(d + "."))
               for d in self.dimensions]
        if "condition" in self.dimensions:
            out[self.dimensions.index("condition")] += len(policy.get("when", {}))
        return out

    def evaluate(self, request_json, facts_json):
        request = json.loads(request_json)
        store = [(k, v, "caller_supplied") for k, v in request["context"].items()]
        decisions = []
        for f in json.loads(facts_json):
            source = self.sources.get(f["source_id"])
            ok = (source is not None and source["source_class"] == f["source_class"]
                  and any(f["path"].startswith(p) for p in source["allowed_paths"]))
            decisions.append({"fact_path": f["path"], "trusted": ok})
            if ok:
                store.append((f["path"], f["value"], f["source_class"]))
        store.append(("derived.tier", store[1][1], "system_of_record"))
        first = {}
        for path, value, cls in store:
            first.setdefault(path, (value, cls))
        candidates, applicable = [], []
        for p in self.policies:
            if any(self.value(request, k) != v for k, v in p["applies_to"].items()):
                continue
            candidates.append(p)
            met = all(any(path == r["fact_path"] and cls in r["allowed_source_classes"]
                          for path, _, cls in store) for r in p["requires_fact"])
            status = "satisfied" if met else "unknown"
            for path, expected in p.get("when", {}).items():
                value = first.get(path, (None,))[0]
                if isinstance(expected, dict) and "__neq" in expected:
                    passed = value != expected["__neq"]
                else:
                    passed = value == expected
                if not passed:
                    status = "not_satisfied"
            if status != "not_satisfied":
                applicable.append(p)
        steps = []
        kept = applicable
        if kept:
            top = max(RANK[p["modality"]] for p in kept)
            kept = [p for p in kept if RANK[p["modality"]] == top]
            steps.append({"step": "modality_precedence",
                          "policy_id": ",".join(p["policy_id"] for p in kept),
                          "result": f"modality_rank={top}"})
            if len(kept) > 1:
                best = max(p["priority"] for p in kept)
                kept = [p for p in kept if p["priority"] == best]
                if len(kept) > 1:
                    scores = [self.scores(p) for p in kept]
                    kept = [p for p, s in zip(kept, scores)
                            if not any(t != s and all(a >= b for a, b in zip(t, s))
                                       for t in scores)]
        if len(kept) == 1:
            final = "deny" if kept[0]["modality"] == "Prohibition" else "allow"
        else:
            final = "escalate" if kept else "not_applicable"
        decision_id = str(uuid.uuid4())
        trace = {"decision_id": decision_id, "request_id": request["request_id"],
                 "fact_trust_decisions": decisions,
                 "candidate_policies": [p["policy_id"] for p in candidates],
                 "applicable_policies": [p["policy_id"] for p in applicable],
                 "conflict_resolution_steps": steps, "final_decision": final}
        self.traces.append(trace)
        reason = (WORD.get(final, final) + "_by_" + ",".join(p["policy_id"] for p in kept)
                  if kept else "no_applicable_policy")
        return json.dumps(trace), json.dumps({
            "decision_id": decision_id, "request_id": request["request_id"],
            "final_decision": final, "reason_code": reason, "trace_ref": decision_id})


def rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def measure(decisions=50_000):
    """Returns (decisions per second, Python loop decisions per second, bytes per trace)."""
    config_json = json.dumps(configuration())
    texts = requests(BATCH)
    gc.collect()
    gc.disable()
    try:
        native_seconds, stored, done = 0.0, [], 0
        while done < decisions:
            env = vok_dsl.AuthorityEnvironment(config_json)
            env.validate()
            before = rss_bytes()
            start = time.perf_counter()
            for text in texts:
                env.evaluate(text, FACTS)
            native_seconds += time.perf_counter() - start
            stored.append((rss_bytes() - before) / len(texts))
            done += len(texts)
            del env
        native_rate = done / native_seconds
        python_seconds, done = 0.0, 0
        while done < max(decisions // 5, BATCH):
            evaluator = PythonEvaluator(config_json)
            start = time.perf_counter()
            for text in texts:
                evaluator.evaluate(text, FACTS)
            python_seconds += time.perf_counter() - start
            done += len(texts)
    finally:
        gc.enable()
    return native_rate, done / python_seconds, max(stored)


def candidates_per_request():
    trace, _ = vok_dsl.evaluate_authority(json.dumps(configuration()), requests(1)[0], FACTS)
    return len(json.loads(trace)["candidate_policies"])


def main():
    decisions = int(sys.argv[1]) if len(sys.argv) > 1 else 50_000
    native, python, per_trace = measure(decisions)
    print(f"candidates per request: {candidates_per_request()}")
    print(f"AuthorityEnvironment.evaluate: {native:,.0f} decisions/s "
          f"({1e6 / native:.1f} us each)")
    print(f"pure-Python evaluator:         {python:,.0f} decisions/s "
          f"({1e6 / python:.1f} us each)")
    print(f"ratio: {native / python:.1f}x; stored per trace: about {per_trace:,.0f} bytes")


if __name__ == "__main__":
    main()
