"""diff_packs at the boundary: arguments, the report's JSON form and the error prefixes."""

import json
from pathlib import Path

import pytest

import vok_dsl

ROOT = Path(__file__).resolve().parents[2]
PACK = json.loads((ROOT / "tests/golden/pack/full.json").read_text(encoding="utf-8"))
SUMMARY_KEYS = [
    "additive_count",
    "definitional_change_count",
    "deprecating_count",
    "breaking_count",
    "governance_critical_count",
    "signature_only_count",
]


def changed(change):
    pack = json.loads(json.dumps(PACK))
    change(pack)
    return json.dumps(pack)


def test_identical_packs():
    report = vok_dsl.diff_packs(json.dumps(PACK), json.dumps(PACK))
    assert " " not in report.replace(PACK["pack_id"], "")
    document = json.loads(report)
    assert list(document) == ["old_pack_id", "new_pack_id", "entries", "summary"]
    assert document["entries"] == []
    assert list(document["summary"]) == SUMMARY_KEYS
    assert set(document["summary"].values()) == {0}


def test_removed_active_concept_is_breaking():
    active = next(c for c in PACK["concepts"] if c["status"] == "active")

    def remove(pack):
        pack["concepts"] = [c for c in pack["concepts"] if c["id"] != active["id"]]

    report = json.loads(vok_dsl.diff_packs(old_json=json.dumps(PACK), new_json=changed(remove)))
    assert report["entries"][0] == {
        "classification": "breaking",
        "subject_type": "concept",
        "subject_id": active["id"],
        "detail": "Removed concept '" + active["canonical_name"] + "' (was active)",
    }
    assert report["summary"]["breaking_count"] >= 1


def test_errors_and_arguments():
    good = json.dumps(PACK)
    with pytest.raises(ValueError, match="^Invalid old pack JSON: "):
        vok_dsl.diff_packs("{", "{")
    with pytest.raises(ValueError, match="^Invalid new pack JSON: missing field `schema_version`"):
        vok_dsl.diff_packs(good, "{}")
    with pytest.raises(TypeError, match="new_json"):
        vok_dsl.diff_packs(good, None)
    with pytest.raises(TypeError):
        vok_dsl.diff_packs(good)
    assert vok_dsl.diff_packs.__text_signature__ == "(old_json, new_json)"
