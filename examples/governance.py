"""Evaluate, sign and decide with the shipped warehouse model: the governing half of the module.

scripts/example runs this after show_model.py. It prints:
  1. the model's policies evaluated in three-valued logic and in strict two-valued logic, then
     each policy violated by a flow added from code: one of zero kilograms, and one of FrozenGoods
     that reports a broken cold chain;
  2. a semantic pack built from warehouse.pack-input.json: its hash, its signature with a
     throwaway Ed25519 key, its verification (and its refusal once one byte changes), two texts
     resolved against it, and its validation, unsigned and signed, with the signature required;
  3. two release requests decided against warehouse.authority.json, with each decision and the
     first lines of its trace.

It needs the module and the standard library only.

The output is the same on every run. Three values come from the clock or the random source: the
pack's created_at stamp, each decision's id and each trace's created_at. They are left out of
the printed text, and the output says where.

Usage: python3 examples/governance.py [folder holding warehouse.vok and its inputs]
"""

import base64
import hashlib
import json
import sys
import uuid
from pathlib import Path
from typing import Any

import vok_dsl

# The seed is derived from a fixed text so that the signature printed below is the same on every
# run (Ed25519 signs without randomness). Anyone can derive it: the key proves nothing and must
# sign nothing real.
THROWAWAY_SEED = hashlib.sha256(b"vok_dsl example key, public and worthless").digest()
# The public half of that key. Ed25519 computes it from the seed, which the standard library
# cannot do, so it is written out; a changed seed needs it computed again.
THROWAWAY_PUBLIC_KEY = bytes.fromhex(
    "f428d17fd5caddc5f654f0bbc0adca66b376418b3180f51af9c604b322965aeb")

# RFC 8410: an Ed25519 key in PKCS#8 and in SubjectPublicKeyInfo is a fixed DER prefix followed
# by the 32 bytes of the seed or of the public key.
PKCS8_ED25519_PREFIX = bytes.fromhex("302e020100300506032b657004220420")
SPKI_ED25519_PREFIX = bytes.fromhex("302a300506032b6570032100")


def pem(label: str, der: bytes) -> str:
    return f"-----BEGIN {label}-----\n{base64.b64encode(der).decode()}\n-----END {label}-----\n"


def expression_json(node: Any) -> Any:
    """The policy form of an expression given in its syntax-tree form: {"type": "Binary", ...}
    becomes {"Binary": {...}}, and the one-field kinds hold their value directly."""
    if isinstance(node, list):
        return [expression_json(item) for item in node]
    if not isinstance(node, dict) or "type" not in node:
        return node
    fields = {key: expression_json(value) for key, value in node.items() if key != "type"}
    single = {"Variable": "name", "Literal": "value", "TimeLiteral": "timestamp"}
    kind = node["type"]
    return {kind: fields[single[kind]] if kind in single else fields}


def model_policies(source: str) -> list[str]:
    """The policies declared in the source, as the policy JSON that evaluate_policy reads."""
    tree = json.loads(vok_dsl.Graph.parse_to_ast_json(source))
    namespace = tree["metadata"].get("namespace") or "default"
    policies = []
    for declaration in tree["declarations"]:
        node = declaration["node"]
        if node["type"] != "Policy":
            continue
        header = node["metadata"]
        major, minor, patch = (int(part) for part in node.get("version", "1.0.0").split("."))
        policies.append(json.dumps({
            # The id a declaration gets: name-based, from the namespace and the name.
            "id": str(uuid.uuid5(uuid.NAMESPACE_DNS, f"{namespace}::{node['name']}")),
            "name": node["name"], "namespace": namespace,
            "version": {"major": major, "minor": minor, "patch": patch},
            "expression": expression_json(node["expression"]),
            "modality": header["modality"], "kind": header["kind"],
            "priority": header.get("priority", 0), "rationale": header.get("rationale"),
            "tags": header.get("tags", []),
        }))
    return policies


def outcome(graph: vok_dsl.Graph, policy: str) -> str:
    try:
        result = graph.evaluate_policy(policy)
    except ValueError as error:
        return f"error: {error}"
    state = {True: "satisfied", False: "violated", None: "unknown"}[result.is_satisfied_tristate]
    return "; ".join([state] + [f"{v.message} [{v.severity!r}]" for v in result.violations])


def show_policies(source: str) -> None:
    policies = model_policies(source)
    names = [json.loads(policy)["name"] for policy in policies]

    def show(graph: vok_dsl.Graph) -> None:
        for name, policy in zip(names, policies):
            print(f"  {name:<30} {outcome(graph, policy)}")

    graph = vok_dsl.Graph.parse(source)
    for three_valued, title in ((True, "three-valued logic"), (False, "strict two-valued logic")):
        graph.set_evaluation_mode(three_valued)
        print(f"Policies in {title}:")
        show(graph)

    # Each addition goes into the model as shipped; three-valued logic, the default.
    def with_flow(resource: str, source_entity: str, target_entity: str, quantity: float,
                  **attributes: Any) -> vok_dsl.Graph:
        graph = vok_dsl.Graph.parse(source)
        resource_id = graph.find_resource_by_name(resource)
        source_id = graph.find_entity_by_name(source_entity)
        target_id = graph.find_entity_by_name(target_entity)
        assert resource_id and source_id and target_id
        flow = vok_dsl.Flow(resource_id, source_id, target_id, quantity)
        for key, value in attributes.items():
            flow.set_attribute(key, value)
        graph.add_flow(flow)
        return graph

    graph = with_flow("Produce", "Warehouse", "Supplier", 0)
    print("After adding a Produce flow of 0 kg from Warehouse back to Supplier:")
    show(graph)

    graph = with_flow("FrozenGoods", "Warehouse", "Store", 1.5, cold_chain=False)
    print("After adding a FrozenGoods flow of 1.5 t from Warehouse to Store with cold_chain False:")
    show(graph)


def show_pack(folder: Path, source: str) -> None:
    build_input = folder / "warehouse.pack-input.json"
    pack, findings = vok_dsl.build_semantic_pack(build_input.read_text(encoding="utf-8"))
    built = vok_dsl.SemanticPack.from_json(pack)
    print(f"\nSemantic pack built from {build_input.name} (its created_at stamp is the build's "
          "clock time, not printed):")
    print(f"  {built.pack_id()}: {built.concept_count()} concepts, {built.alias_count()} aliases, "
          f"{built.approval_state()!r}, {built.signature_state()!r}, "
          f"{len(findings)} build findings, "
          f"{len(vok_dsl.validate_semantic_pack(pack))} validation findings")
    print(f"  content hash:        {vok_dsl.compute_pack_hash(pack)}")
    print(f"  meaning fingerprint: {built.meaning_fingerprint()}")

    private_pem = pem("PRIVATE KEY", PKCS8_ED25519_PREFIX + THROWAWAY_SEED)
    public_pem = pem("PUBLIC KEY", SPKI_ED25519_PREFIX + THROWAWAY_PUBLIC_KEY)
    signed = vok_dsl.sign_pack(pack, private_pem)
    trust = json.loads(signed)["trust"]
    print(f"  signed ({trust['signature_alg']}, throwaway key): {trust['signature']}")
    print(f"  verifies with the key's public half: "
          f"{vok_dsl.verify_pack_signature(signed, public_pem)}")
    tampered = signed.replace("-18 degrees", "-17 degrees", 1)
    assert len(tampered) == len(signed) and tampered != signed
    print(f"  verifies with one byte of a definition changed (-18 to -17 degrees): "
          f"{vok_dsl.verify_pack_signature(tampered, public_pem)}")

    print("Resolving texts against the pack:")
    for text in ("  distribution  CENTRE ", "Lorry"):
        resolved = json.loads(vok_dsl.resolve_concept(text, signed, "{}"))
        answer = resolved["resolved_concept_id"] or resolved["message"]
        print(f"  {text!r:<26} key {vok_dsl.normalize_lookup_key(text)!r:<22} "
              f"{resolved['semantic_truth']:<8} {answer}")

    # Validation trusts the signature state the pack declares; it was verified above.
    options = json.dumps({"mode": "strict", "require_signed_pack": True})
    print("Validating with the pack (strict, signature required): checks the signature state the "
          "pack\n  declares and the pack's structure; the model's source is not read, only hashed "
          "into input_hash:")
    for label, document in (("unsigned pack", pack), ("signed pack", signed)):
        result = vok_dsl.SemanticValidationResult.from_json(
            vok_dsl.validate_graph_with_pack(document, source, options))
        diagnostics = json.loads(result.diagnostics_json())
        details = "".join(f"; {d['code']}: {d['message']}" for d in diagnostics)
        print(f"  {label:<14} {result.status()!r}{details}")


def release_request(request_id: str, shipment: str) -> str:
    return json.dumps({
        "request_id": request_id, "actor": {"id": "dock-7", "role": "dispatcher"},
        "operation": "release", "resource": {"type": "shipment", "id": shipment},
        "context": None, "requested_at": "2024-05-01T08:00:00Z",
    })


def cold_chain_fact(source_class: str, source_id: str) -> dict[str, Any]:
    return {"path": "shipment.cold_chain_verified", "value": True, "source_class": source_class,
            "source_id": source_id, "observed_at": "2024-05-01T07:55:00Z"}


def show_authority(folder: Path) -> None:
    config = folder / "warehouse.authority.json"
    environment = vok_dsl.AuthorityEnvironment(config.read_text(encoding="utf-8"))
    environment.validate()
    requests = [
        ("the warehouse system verified the cold chain", release_request("req-1", "SH-1001"),
         [cold_chain_fact("system_of_record", "wms")]),
        ("only the dispatcher says so", release_request("req-2", "SH-1002"),
         [cold_chain_fact("caller_supplied", "dock-7")]),
    ]
    print(f"\nAuthority decisions against {config.name} (decision ids are random and traces carry "
          "the clock time: both left out):")
    for label, request, facts in requests:
        trace_json, decision_json = environment.evaluate(request, json.dumps(facts))
        decision = json.loads(decision_json)
        print(f"  release of {json.loads(request)['resource']['id']}, {label}: "
              f"{decision['final_decision']} ({decision['reason_code']})")
        trace = json.loads(trace_json)
        # The request, then (past the hashes and versions of the environment and the request)
        # what decided it; empty members are left out.
        members = list(trace)
        print(f"    request_id: {json.dumps(trace['request_id'])}")
        print("    ... hashes and versions of the environment and the request ...")
        for key in members[members.index("action_request_hash") + 1:members.index("final_decision")]:
            if trace[key] not in ([], None):
                print(f"    {key}: {json.dumps(trace[key])}")


def main() -> None:
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    source = (folder / "warehouse.vok").read_text(encoding="utf-8")
    show_policies(source)
    show_pack(folder, source)
    show_authority(folder)


if __name__ == "__main__":
    main()
