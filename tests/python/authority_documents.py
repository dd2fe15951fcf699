"""Authority configuration, request and fact documents shared by the authority tests."""

import json


def policy(policy_id, modality="Permission", priority=0, applies_to=None, **extra):
    p = {
        "policy_id": policy_id, "modality": modality, "priority": priority,
        "applies_to": applies_to if applies_to is not None else {}, "semantics_version": "s1",
    }
    p.update(extra)
    return p


def config(policies=(), *, permission="deny", strict=False, sources=None):
    return json.dumps({
        "resolver_semantics_version": "s1",
        "specificity_profile": {"id": "p1", "dimensions": ["actor", "resource"],
                                "scoring_rules": None, "hash": "ph"},
        "unknown_handling": {"permission": {"default": permission},
                             "prohibition": {"default": "deny"},
                             "obligation": {"default": "deny"},
                             "override_": {"default": "deny"}},
        "fact_sources": sources if sources is not None else [{
            "id": "crm", "source_class": "system_of_record", "allowed_paths": ["customer."],
            "evidence_required": False, "signature_required": False,
            "max_response_latency_ms": 250}],
        "fact_transforms": [],
        "authority_packs": [{"id": "pk", "version": "1", "semantics_version": "s1",
                             "required_specificity_profile": "p1", "hash": "pack-hash",
                             "policies": list(policies)}],
        "strict_mode": strict,
        "compatibility_lowering_version": "c1",
        "resolver_version": "r1",
    })


def request(operation="read", context=None, request_id="r1"):
    return json.dumps({
        "request_id": request_id, "actor": {"id": "u1", "role": "clerk"}, "operation": operation,
        "resource": {"type": "doc", "id": "d1"}, "context": context,
        "requested_at": "2024-05-01T08:00:00Z",
    })


def fact(path="customer.tier", value="gold", source_class="system_of_record", source_id="crm"):
    return {"path": path, "value": value, "source_class": source_class, "source_id": source_id,
            "observed_at": "2024-05-01T08:00:00Z"}


# Allow for "read", Deny for "write".
READ_WRITE = config([
    policy("allow-read", "Permission", 0, {"action": "read"}),
    policy("deny-write", "Prohibition", 0, {"action": "write"}),
])
