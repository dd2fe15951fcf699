"""The SemanticPack class: making one, its methods, repr, identity semantics and signatures."""

import json
from pathlib import Path

import pytest

import vok_dsl
from vok_dsl import ApprovalState, SemanticPack, SignatureState

ROOT = Path(__file__).resolve().parents[2]
PACK = (ROOT / "tests/golden/pack/full.json").read_text(encoding="utf-8")
METHODS = [
    "to_json",
    "pack_id",
    "schema_version",
    "meaning_version",
    "meaning_fingerprint",
    "approval_state",
    "signature_state",
    "concept_count",
    "alias_count",
    "pack_content_hash",
]


def with_changes(**changes):
    pack = json.loads(PACK)
    pack.update(changes)
    return json.dumps(pack)


def test_from_json_and_accessors():
    pack = SemanticPack.from_json(PACK)
    document = json.loads(PACK)
    assert pack.pack_id() == document["pack_id"]
    assert pack.schema_version() == "0.3"
    assert pack.meaning_version() == document["meaning_version"]
    assert pack.meaning_fingerprint() == document["meaning_fingerprint"]
    assert pack.concept_count() == len(document["concepts"])
    assert pack.alias_count() == len(document["aliases"])
    assert pack.approval_state() == ApprovalState.Approved and int(pack.approval_state()) == 1
    assert pack.approval_state() is not pack.approval_state()
    assert pack.signature_state() == SignatureState.Signed
    assert pack.pack_content_hash() == vok_dsl.compute_pack_hash(PACK)
    assert SemanticPack.from_json(json=pack.to_json()).to_json() == pack.to_json()


def test_to_json_drops_unknown_keys():
    pack = SemanticPack.from_json(with_changes(extra={"x": [1, 2]}))
    assert "extra" not in json.loads(pack.to_json())


def test_empty_lists_count_zero():
    pack = SemanticPack.from_json(with_changes(concepts=[], aliases=[]))
    assert (pack.concept_count(), pack.alias_count()) == (0, 0)


@pytest.mark.parametrize(
    "pack_id, expected",
    [("p1", "<SemanticPack('p1')>"), ("a'\"\\b", "<SemanticPack('a'\"\\b')>")],
)
def test_repr_inserts_the_id_unescaped(pack_id, expected):
    assert repr(SemanticPack.from_json(with_changes(pack_id=pack_id))) == expected


def test_errors():
    with pytest.raises(ValueError) as failure:
        SemanticPack.from_json(json.dumps({k: v for k, v in json.loads(PACK).items() if k != "trust"}))
    assert str(failure.value).startswith("Invalid pack JSON: missing field `trust` at line 1 column ")
    with pytest.raises(TypeError, match="json"):
        SemanticPack.from_json(PACK.encode())
    with pytest.raises(TypeError):
        SemanticPack.from_json()
    with pytest.raises(TypeError):
        SemanticPack.from_json(PACK, json=PACK)
    with pytest.raises(TypeError, match="^No constructor defined for SemanticPack$"):
        SemanticPack()
    with pytest.raises(TypeError, match="SemanticPack"):
        SemanticPack.pack_id(object())


def test_identity_semantics_and_signatures():
    a = SemanticPack.from_json(PACK)
    b = SemanticPack.from_json(PACK)
    assert a == a and a != b and hash(a) != hash(b)
    assert len({a, b}) == 2
    assert SemanticPack.__doc__ is None
    assert SemanticPack.from_json.__text_signature__ == "(json)"
    for name in METHODS:
        method = getattr(a, name)
        assert callable(method) and method.__self__ is a
        assert getattr(SemanticPack, name).__text_signature__ == "($self)"


def test_pack_content_hash_survives_signing_and_follows_the_id():
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey

    pem = Ed25519PrivateKey.from_private_bytes(bytes(32)).private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()
    ).decode()
    before = SemanticPack.from_json(PACK)
    after = SemanticPack.from_json(vok_dsl.sign_pack(PACK, pem))
    assert after.pack_content_hash() == before.pack_content_hash()
    renamed = SemanticPack.from_json(with_changes(pack_id="other"))
    assert renamed.pack_content_hash() != before.pack_content_hash()
