"""The shipped example (scripts/example's Python part) prints the same text on every run.

Its two scripts run twice, in fresh interpreters, as scripts/example runs them; the outputs must
be equal, and must show each subsystem doing what the example says it does.
"""

import os
import subprocess
import sys
from pathlib import Path

import vok_dsl

ROOT = Path(os.environ.get("VOK_SOURCE_DIR", Path(__file__).resolve().parents[2]))


def run_example():
    env = dict(os.environ, PYTHONPATH=str(Path(vok_dsl.__file__).parent),
               SOURCE_DATE_EPOCH="1700000000")
    outputs = []
    for script, argument in (("show_model.py", "warehouse.vok"), ("governance.py", ".")):
        outputs.append(subprocess.run(
            [sys.executable, str(ROOT / "examples" / script), str(ROOT / "examples" / argument)],
            env=env, capture_output=True, text=True, check=True).stdout)
    return "\n".join(outputs)


def test_example_output_is_the_same_on_every_run():
    first, second = run_example(), run_example()
    assert first == second
    for expected in [
        '"vok:timestamp": "2023-11-14T22:13:20+00:00"',
        "positive_quantities            violated; Policy 'positive_quantities' was violated",
        "verifies with the key's public half: True",
        "verifies with one byte of a definition changed (-18 to -17 degrees): False",
        "Valid    logistics.warehouse",
        "Unknown concept: 'Lorry'",
        "signed pack    SemanticValidationStatus.Passed",
        "release of SH-1001, the warehouse system verified the cold chain: allow",
        "release of SH-1002, only the dispatcher says so: escalate",
    ]:
        assert expected in first
