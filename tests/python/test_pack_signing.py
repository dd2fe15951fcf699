"""sign_pack and verify_pack_signature at the boundary, against a real Ed25519 client.

pyca/cryptography checks every signature sign_pack writes, over the signed text rebuilt from
compute_pack_hash, and makes keys and signatures that verify_pack_signature must accept, with the
PEM texts exactly as that library writes them.
"""

import base64
import json
from pathlib import Path

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey

import vok_dsl

ROOT = Path(__file__).resolve().parents[2]
PACK = (ROOT / "tests/golden/pack/full.json").read_text(encoding="utf-8")


def private_pem(key):
    return key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()
    ).decode()


def public_pem(key):
    return key.public_key().public_bytes(
        serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo
    ).decode()


def signed_text(pack_json):
    pack = json.loads(pack_json)
    return (
        "BRISVANDOLE_SEMANTIC_PACK_V0_3\n"
        + vok_dsl.compute_pack_hash(pack_json)
        + "\n"
        + pack["pack_id"]
        + "\n"
        + pack["schema_version"]
        + "\n"
    ).encode()


@pytest.fixture(scope="module")
def key():
    return Ed25519PrivateKey.from_private_bytes(bytes(range(32)))


@pytest.mark.parametrize("pack_id", ["acme/sales pack", "", 'q"uo\\te\n€'])
def test_pyca_verifies_what_sign_pack_writes(key, pack_id):
    pack = json.loads(PACK)
    pack["pack_id"] = pack_id
    text = json.dumps(pack)
    signed = vok_dsl.sign_pack(text, private_pem(key))
    trust = json.loads(signed)["trust"]
    assert trust["signature_alg"] == "ed25519" and trust["signature_state"] == "signed"
    assert len(trust["signature"]) == 88 and trust["signature"].endswith("==")
    key.public_key().verify(base64.b64decode(trust["signature"]), signed_text(signed))
    assert vok_dsl.verify_pack_signature(signed, public_pem(key)) is True


def test_verify_accepts_a_pack_signed_by_pyca(key):
    pack = json.loads(PACK)
    signature = key.sign(signed_text(PACK))
    pack["trust"]["signature"] = base64.b64encode(signature).decode()
    # The signer label, algorithm and state play no part in verification.
    pack["trust"]["signature_alg"] = "something else"
    pack["trust"]["signature_state"] = "invalid_signature"
    assert vok_dsl.verify_pack_signature(json.dumps(pack), public_pem(key)) is True
    other = Ed25519PrivateKey.from_private_bytes(bytes(32))
    assert vok_dsl.verify_pack_signature(json.dumps(pack), public_pem(other)) is False


def test_sign_pack_errors(key):
    with pytest.raises(ValueError, match=r"^Invalid pack JSON: missing field `schema_version`"):
        vok_dsl.sign_pack("{}", "not a key")
    encrypted = key.private_bytes(
        serialization.Encoding.PEM,
        serialization.PrivateFormat.PKCS8,
        serialization.BestAvailableEncryption(b"secret"),
    ).decode()
    with pytest.raises(ValueError) as failure:
        vok_dsl.sign_pack(PACK, encrypted)
    assert str(failure.value) == (
        'Signing error: KeyParseError("PKCS#8 ASN.1 error: PEM error: unexpected PEM type label: '
        'expecting \\"PRIVATE KEY\\"")'
    )
    with pytest.raises(ValueError, match=r'^Signing error: KeyParseError\(".*PRIVATE KEY'):
        vok_dsl.sign_pack(PACK, public_pem(key))


def test_verify_returns_false_for_key_and_signature_faults(key):
    signed = vok_dsl.sign_pack(PACK, private_pem(key))
    good_key = public_pem(key)
    for bad_key in ["", "not PEM", private_pem(key), good_key.replace("PUBLIC", "PRIVATE")]:
        assert vok_dsl.verify_pack_signature(signed, bad_key) is False
    # A BIT STRING that declares unused bits.
    der = bytearray(
        key.public_key().public_bytes(
            serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo
        )
    )
    der[11] = 1
    unused_bits = (
        "-----BEGIN PUBLIC KEY-----\n" + base64.b64encode(der).decode() + "\n-----END PUBLIC KEY-----\n"
    )
    assert vok_dsl.verify_pack_signature(signed, unused_bits) is False

    pack = json.loads(signed)
    signature = pack["trust"]["signature"]
    flipped = ("B" if signature[0] == "A" else "A") + signature[1:]
    for bad in [None, flipped, signature.rstrip("="), base64.b64encode(bytes(63)).decode(),
                base64.b64encode(bytes(65)).decode()]:
        pack["trust"]["signature"] = bad
        assert vok_dsl.verify_pack_signature(json.dumps(pack), good_key) is False
    with pytest.raises(ValueError, match="^Invalid pack JSON: "):
        vok_dsl.verify_pack_signature("{}", good_key)


def test_arguments_bind_by_name_and_must_be_str(key):
    pem = private_pem(key)
    assert vok_dsl.sign_pack(pack_json=PACK, private_key_pem=pem) == vok_dsl.sign_pack(PACK, pem)
    assert vok_dsl.verify_pack_signature(public_key_pem=public_pem(key), pack_json=PACK) is False
    with pytest.raises(TypeError, match="private_key_pem"):
        vok_dsl.sign_pack(PACK, pem.encode())
    with pytest.raises(TypeError):
        vok_dsl.verify_pack_signature(PACK)
    with pytest.raises(TypeError):
        vok_dsl.sign_pack(PACK, pem, private_key_pem=pem)
    assert vok_dsl.sign_pack.__text_signature__ == "(pack_json, private_key_pem)"
    assert vok_dsl.verify_pack_signature.__text_signature__ == "(pack_json, public_key_pem)"
