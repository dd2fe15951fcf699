"""Lookup keys, concept resolution, pack validation and SemanticValidationResult at the Python
boundary: signatures, argument order of the errors, prefixes, and the round trip of a result."""

import json

import pytest

import vok_dsl


def concept(cid, name, status="active", definition="d", owner="o"):
    return {"id": cid, "canonical_name": name, "kind": "entity", "status": status,
            "definition": {"text": definition, "definition_hash": "h", "decision_ref": "r"},
            "owner": owner}


def pack(concepts=(), aliases=(), schema="0.3", signature_state="unsigned", **extra):
    document = {
        "schema_version": schema, "pack_id": "p", "org_id": "o", "domain_id": "d",
        "pack_version": "1", "meaning_version": "1.0.0", "meaning_fingerprint": "f",
        "source_graph_hash": "s", "build_config_hash": "b", "review_manifest_hash": "r",
        "created_at": "t", "generator": {"name": "g", "version": "1"},
        "trust": {"approval_state": "approved", "signature_state": signature_state},
        "concepts": list(concepts), "relations": [], "metrics": [], "dimensions": [],
        "units": [], "aliases": list(aliases), "mapping_rules": [], "compatibility": {},
    }
    document.update(extra)
    return json.dumps(document)


def alias(text, target, status="approved"):
    source_ref = {"uri": "u", "start_byte": 0, "end_byte": 0, "start_line": 0, "start_col": 0,
                  "end_line": 0, "end_col": 0}
    return {"alias": text, "normalized_alias": vok_dsl.normalize_lookup_key(text),
            "target_concept_id": target, "status": status, "decision_ref": "r",
            "source_ref": source_ref}


SOUND = pack([concept("a", "Net Revenue")])
BROKEN = pack([concept("a", "A", owner=""), concept("a", "B")], schema="0.3.0")


def error_of(function, *args):
    with pytest.raises(ValueError) as raised:
        function(*args)
    return str(raised.value)


@pytest.mark.parametrize(
    "function, signature",
    [
        (vok_dsl.normalize_lookup_key, "(text)"),
        (vok_dsl.resolve_concept, "(raw_text, pack_json, options_json)"),
        (vok_dsl.validate_semantic_pack, "(pack_json)"),
        (vok_dsl.validate_graph_with_pack, "(pack_json, source, options_json)"),
        (vok_dsl.SemanticValidationResult.from_json, "(json)"),
    ],
)
def test_text_signatures(function, signature):
    assert function.__text_signature__ == signature


def test_pack_functions_have_no_documentation():
    # The caveat about declared signature state lives in the README, not in a docstring.
    for function in (vok_dsl.normalize_lookup_key, vok_dsl.resolve_concept,
                     vok_dsl.validate_semantic_pack, vok_dsl.validate_graph_with_pack):
        assert function.__doc__ is None
    assert vok_dsl.SemanticValidationResult.__doc__ is None


@pytest.mark.parametrize(
    "text, key",
    [("\u03a3", "\u03c3"), ("\u038c\u03a3\u039f\u03a3 \u03a3\u0391", "\u03cc\u03c3\u03bf\u03c2 \u03c3\u03b1"),
     ("\uff21", "\uff41"), ("\u00df", "\u00df"), ("a\u1680b", "a b"), ("\u01c5", "\u01c6"),
     (" Net\tRevenue \n", "net revenue"), ("", "")],
)
def test_normalize_lookup_key(text, key):
    assert vok_dsl.normalize_lookup_key(text) == key
    assert vok_dsl.normalize_lookup_key(text=text) == key


@pytest.mark.parametrize(
    "call",
    [lambda: vok_dsl.normalize_lookup_key(None), lambda: vok_dsl.normalize_lookup_key(),
     lambda: vok_dsl.normalize_lookup_key("a", text="b"),
     lambda: vok_dsl.resolve_concept("a", SOUND), lambda: vok_dsl.resolve_concept(1, "{", "{"),
     lambda: vok_dsl.resolve_concept("a", "{", None),
     lambda: vok_dsl.validate_graph_with_pack("{", b"source", "{}"),
     lambda: vok_dsl.validate_semantic_pack(pack_json=1),
     lambda: vok_dsl.SemanticValidationResult.from_json(None),
     lambda: vok_dsl.SemanticValidationResult()],
)
def test_argument_errors_are_type_errors_before_any_reading(call):
    with pytest.raises(TypeError):
        call()


def test_resolve_concept_reads_pack_then_options():
    assert error_of(vok_dsl.resolve_concept, "x", "{", "{").startswith("Invalid pack JSON: ")
    message = error_of(vok_dsl.resolve_concept, "x", SOUND, '{"mode": "loud"}')
    assert message.startswith("Invalid options JSON: unknown variant `loud`")
    assert error_of(vok_dsl.resolve_concept, "x", SOUND, "nope").startswith("Invalid options JSON: ")


def test_resolve_concept_result_and_ignored_options():
    clean = vok_dsl.resolve_concept("net  REVENUE", SOUND, "{}")
    assert clean == ('{"diagnostic_code":null,"message":"","resolved_concept_id":"a",'
                     '"semantic_truth":"Valid","suggestions":[]}')
    strict = '{"mode":"strict","require_signed_pack":true,"unknown_concept_policy":"error"}'
    assert vok_dsl.resolve_concept(raw_text="net revenue", pack_json=SOUND,
                                   options_json=strict) == clean
    ambiguous = pack([concept("a", "A"), concept("b", "B")],
                     [alias("t", "a", "ambiguous"), alias("t", "b", "ambiguous")])
    result = json.loads(vok_dsl.resolve_concept("T", ambiguous, "{}"))
    assert result["diagnostic_code"] == "ambiguous_alias"
    assert result["suggestions"] == [{"label": "a", "rank": 5}, {"label": "b", "rank": 5}]


def test_validate_semantic_pack_keeps_check_order():
    assert vok_dsl.validate_semantic_pack(SOUND) == []
    found = [json.loads(text) for text in vok_dsl.validate_semantic_pack(BROKEN)]
    assert [d["code"] for d in found] == ["pack_schema_mismatch", "duplicate_concept_id",
                                          "missing_owner"]
    assert list(found[0]) == ["code", "severity", "semantic_truth", "message", "source_ref",
                              "pack_ref", "suggestions", "recoverability_hint"]
    assert found[0]["source_ref"]["uri"] == "brisvandole://semantic-pack/p"
    assert found[0]["pack_ref"]["pack_content_hash"] == vok_dsl.compute_pack_hash(BROKEN)
    assert error_of(vok_dsl.validate_semantic_pack, "[]").startswith("Invalid pack JSON: ")


def test_validate_graph_with_pack_result_reads_back():
    text = vok_dsl.validate_graph_with_pack(BROKEN, "source text", '{"mode":"warn"}')
    document = json.loads(text)
    assert list(document) == ["status", "diagnostics", "pack_set_ref", "input_hash",
                              "validation_mode", "expected_hashes",
                              "unsigned_fixture_bypass_used", "first_approved_version_bypass_used"]
    assert [d["code"] for d in document["diagnostics"]] == [
        "duplicate_concept_id", "missing_owner", "pack_schema_mismatch"]
    result = vok_dsl.SemanticValidationResult.from_json(text)
    assert result.status() == vok_dsl.SemanticValidationStatus.Failed
    assert repr(result) == "<SemanticValidationResult(status=Failed)>"
    start = text.index('"diagnostics":') + len('"diagnostics":')
    end = text.index(',"pack_set_ref"')
    assert result.diagnostics_json() == text[start:end]
    assert result.unsigned_fixture_bypass_used() is False
    assert result.first_approved_version_bypass_used() is False


def test_validation_status_and_flags():
    off = json.loads(vok_dsl.validate_graph_with_pack(BROKEN, "", '{"mode":"off"}'))
    assert off["status"] == "passed" and len(off["diagnostics"]) == 3
    blocked = vok_dsl.validate_graph_with_pack(BROKEN, "", '{"require_signed_pack":true}')
    result = vok_dsl.SemanticValidationResult.from_json(blocked)
    assert repr(result) == "<SemanticValidationResult(status=Blocked)>"
    assert json.loads(result.diagnostics_json())[0]["code"] == "pack_unsigned"
    bypassed = vok_dsl.SemanticValidationResult.from_json(
        vok_dsl.validate_graph_with_pack(SOUND, "", '{"allow_unsigned_test_fixtures":true}'))
    assert bypassed.unsigned_fixture_bypass_used() is True
    assert repr(bypassed) == "<SemanticValidationResult(status=Passed)>"
    assert error_of(vok_dsl.validate_graph_with_pack, "{", "", "{").startswith("Invalid pack JSON: ")
    assert error_of(vok_dsl.validate_graph_with_pack, SOUND, "", "[1]").startswith(
        "Invalid options JSON: ")


def test_from_json_refusals():
    document = json.loads(vok_dsl.validate_graph_with_pack(SOUND, "", "{}"))
    for key in ("expected_hashes", "input_hash", "status"):
        partial = {k: v for k, v in document.items() if k != key}
        message = error_of(vok_dsl.SemanticValidationResult.from_json, json.dumps(partial))
        assert message.startswith(f"Invalid result JSON: missing field `{key}`")
    document["evidence_ref"] = "e"
    document["expected_hashes"] = [{"path": "x", "expected_hash": "h", "matched": False}]
    assert vok_dsl.SemanticValidationResult.from_json(json.dumps(document)).status() == 0
    document["status"] = "Passed"
    assert error_of(vok_dsl.SemanticValidationResult.from_json, json.dumps(document)).startswith(
        "Invalid result JSON: unknown variant `Passed`")
    with pytest.raises(TypeError, match="No constructor defined for SemanticValidationResult"):
        vok_dsl.SemanticValidationResult()
