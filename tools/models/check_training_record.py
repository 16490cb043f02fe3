#!/usr/bin/python3
"""Checks the trained default models against their training record.

    /usr/bin/python3 tools/models/check_training_record.py [MODEL_DIR]

Training takes minutes, too long for every test run, so the tests check what it
left instead: every model file in MODEL_DIR (default models/) has the SHA-256
that models/training_record.json recorded when train_reference_models.py wrote
it, and the photographs the record lists are exactly the training and
validation rows of tools/models/training_manifest.csv, with the same hashes.
Each row of the manifest names its package, version, file, hash, licence and
split. Prints one line per problem and exits 1 when there is any.
"""

import csv
import hashlib
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MODEL_FILES = ("xepo_entrance.qdnn", "xepo_albedo.qdnn", "light-STDCNet813.pt.tflite.qdnn",
               "xepo_smooth.qdnn")
COLUMNS = ("package", "version", "file", "sha256", "photo", "split", "licence", "copyright")
SPLITS = ("train", "val")


def problems(model_dir):
    found = []
    record = json.load(open(os.path.join(model_dir, "training_record.json"), encoding="utf-8"))
    for name in MODEL_FILES:
        path = os.path.join(model_dir, name)
        if not os.path.isfile(path):
            found.append(f"{name}: missing")
            continue
        digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
        if record["models"].get(name) != digest:
            found.append(f"{name}: SHA-256 {digest} is not the recorded "
                         f"{record['models'].get(name)} (retrain or restore the file)")
    if sorted(record["models"]) != sorted(MODEL_FILES):
        found.append(f"the record names {sorted(record['models'])}")

    with open(os.path.join(HERE, "training_manifest.csv"), newline="", encoding="utf-8") as f:
        reader = csv.DictReader(f)
        if tuple(reader.fieldnames or ()) != COLUMNS:
            found.append(f"manifest columns {reader.fieldnames}, expected {list(COLUMNS)}")
        rows = list(reader)
    listed = {}
    for number, row in enumerate(rows, start=2):
        empty = [c for c in COLUMNS if not (row.get(c) or "").strip()]
        if empty:
            found.append(f"manifest line {number}: empty {', '.join(empty)}")
        if row.get("split") not in SPLITS:
            found.append(f"manifest line {number}: split {row.get('split')!r} is not one of "
                         f"{', '.join(SPLITS)}")
        if len(row.get("sha256", "")) != 64:
            found.append(f"manifest line {number}: sha256 is not 64 hex digits")
        if row.get("photo") in listed:
            found.append(f"manifest line {number}: photograph {row['photo']} listed twice")
        listed[row.get("photo")] = (row.get("split"), row.get("sha256"))
    used = {name: (entry["split"], entry["sha256"])
            for name, entry in record["photographs"].items()}
    for name in sorted(set(used) - set(listed)):
        found.append(f"{name}: trained on but not in the manifest")
    for name in sorted(set(listed) - set(used)):
        found.append(f"{name}: in the manifest but not in the training record")
    for name in sorted(set(used) & set(listed)):
        if used[name] != listed[name]:
            found.append(f"{name}: the record has {used[name]}, the manifest {listed[name]}")
    return found


def main(argv):
    model_dir = argv[1] if len(argv) > 1 else os.path.join(ROOT, "models")
    found = problems(model_dir)
    for line in found:
        print(line)
    print(f"training record: {len(found)} problem(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
