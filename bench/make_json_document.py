"""Writes a JSON document of about the requested size (default 1 MB) with a realistic mix of
objects, arrays, strings with escapes and non-ASCII text, integers and floats.

Usage: python3 bench/make_json_document.py OUTPUT [SIZE_BYTES]
"""

import json
import random
import sys


def record(rng: random.Random, i: int) -> dict:
    return {
        "id": f"{rng.getrandbits(128):032x}",
        "name": f"Entity {i} \u00e9t\u00e9 \"quoted\"",
        "namespace": rng.choice(["default", "logistics", "finance"]),
        "quantity": round(rng.uniform(0, 10000), 3),
        "count": rng.randint(-1000000, 1000000),
        "active": rng.random() < 0.5,
        "tags": [f"tag{j}" for j in range(rng.randint(0, 5))],
        "attributes": {"owner": None, "score": rng.random(), "notes": "line\nbreak\ttab"},
    }


def main() -> None:
    out = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    rng = random.Random(7)
    items = []
    text = "[]"
    while len(text) < size:
        items.extend(record(rng, len(items) + j) for j in range(200))
        text = json.dumps({"records": items}, ensure_ascii=False)
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
