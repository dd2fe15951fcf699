"""build_semantic_pack at the Python boundary: signature, argument types, the reading errors and
their prefix, the shape of the result and the order of its diagnostics."""

import json

import pytest

import vok_dsl


def concept(cid, status="active", text="t", definition_hash="", owner="o"):
    return {"id": cid, "canonical_name": cid, "kind": "entity", "status": status,
            "definition": {"text": text, "definition_hash": definition_hash,
                           "decision_ref": "r"},
            "owner": owner}


def alias(text, key, target, status):
    return {"alias": text, "normalized_alias": key, "target_concept_id": target,
            "status": status, "decision_ref": "r",
            "source_ref": {"uri": "u", "start_byte": 0, "end_byte": 0, "start_line": 0,
                           "start_col": 0, "end_line": 0, "end_col": 0}}


def build_input(**changes):
    document = {
        "org_id": "acme", "domain_id": "sales", "pack_version": "2", "meaning_version": "1.0",
        "approval": "candidate", "concepts": [concept("c")], "relations": [], "metrics": [],
        "dimensions": [], "units": [], "aliases": [], "mapping_rules": [],
        "review_records": [], "allow_first_approved_version": False, "source_graph_hash": "g",
    }
    document.update(changes)
    return json.dumps(document)


def codes(diagnostics):
    return [json.loads(d)["code"] for d in diagnostics]


def test_signature_and_argument_types():
    assert vok_dsl.build_semantic_pack.__text_signature__ == "(input_json)"
    for bad in (None, b"{}", 1):
        with pytest.raises(TypeError, match="input_json"):
            vok_dsl.build_semantic_pack(bad)
    with pytest.raises(TypeError):
        vok_dsl.build_semantic_pack()
    with pytest.raises(TypeError):
        vok_dsl.build_semantic_pack(build_input(), build_input())
    pack, diagnostics = vok_dsl.build_semantic_pack(input_json=build_input())
    assert isinstance(pack, str) and diagnostics == []


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "EOF while parsing a value at line 1 column 0"),
        ("[]", "invalid length 0, expected struct PackBuildInput with 16 elements"),
        (json.dumps({k: v for k, v in json.loads(build_input()).items()
                     if k != "allow_first_approved_version"}),
         "missing field `allow_first_approved_version`"),
        (build_input(review_records=None), "invalid type: null, expected a sequence"),
        (build_input(approval="Approved"), "unknown variant `Approved`, expected one of "
         "`candidate`, `approved`, `rejected`"),
        (build_input(previous_pack={}), "missing field `schema_version`"),
        (build_input() + " x", "trailing characters"),
    ],
)
def test_unreadable_input_is_one_value_error(text, message):
    with pytest.raises(ValueError) as raised:
        vok_dsl.build_semantic_pack(text)
    assert str(raised.value).startswith("Invalid build input JSON: " + message)


def test_unknown_keys_and_missing_or_null_previous_pack_are_accepted():
    for text in (build_input(extra={"deep": [1, {"x": None}]}), build_input(previous_pack=None)):
        pack, _ = vok_dsl.build_semantic_pack(text)
        assert json.loads(pack)["pack_id"] == "acme/sales/2"


def test_built_pack_reads_back_and_its_reference_carries_its_hash():
    text = build_input(meaning_version="1.0", previous_pack=None)
    pack, _ = vok_dsl.build_semantic_pack(text)
    document = json.loads(pack)
    assert list(document)[:2] == ["schema_version", "pack_id"]
    assert document["created_at"].endswith("+00:00")
    assert document["trust"] == {"approval_state": "candidate", "signature_state": "unsigned"}
    # A previous pack with another fingerprint and a version that does not go up.
    previous = dict(document, meaning_fingerprint="other", meaning_version="2.0")
    pack, diagnostics = vok_dsl.build_semantic_pack(build_input(previous_pack=previous))
    assert codes(diagnostics) == ["meaning_version_not_bumped"]
    reference = json.loads(diagnostics[0])["pack_ref"]
    assert reference["path_or_uri"] == "pack://acme/sales/2"
    assert reference["pack_content_hash"] == vok_dsl.compute_pack_hash(pack)


def test_refused_build_returns_the_main_list_only():
    aliases = [alias("a", "k", "c", "ambiguous"), alias("b", "k", "d", "ambiguous")]
    concepts = [concept("c"), concept("d")]
    pack, diagnostics = vok_dsl.build_semantic_pack(
        build_input(approval="approved", concepts=concepts, aliases=aliases))
    assert pack == ""
    assert codes(diagnostics) == ["unreviewed_concept", "unreviewed_concept",
                                  "meaning_version_baseline_missing"]
    # A candidate build keeps the alias-group warning, after the main list.
    pack, diagnostics = vok_dsl.build_semantic_pack(
        build_input(concepts=concepts + [concept("c", owner="")], aliases=aliases))
    assert pack
    assert codes(diagnostics) == ["duplicate_concept_id", "missing_owner",
                                  "ambiguous_alias_group"]
