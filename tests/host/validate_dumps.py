#!/usr/bin/env python3
"""Validates the JSON dump of every ASE file the suite imports against the
scene schema: asehost import FILE --json for each .ase under the given
folders, and the hand-written scene files given with --scene.

Usage: validate_dumps.py ASEHOST SCHEMA [--scene FILE]... FOLDER...
Exit 0 when every dump is valid, 1 otherwise, 77 (skipped) without the
python3-jsonschema module."""
import json
import pathlib
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    print("skipped: the python3 jsonschema module is missing (scripts/deps.sh installs python3-jsonschema)")
    sys.exit(77)


def main():
    args = sys.argv[1:]
    asehost, schema_path = args[0], args[1]
    scenes, folders = [], []
    rest = iter(args[2:])
    for arg in rest:
        if arg == "--scene":
            scenes.append(next(rest))
        else:
            folders.append(arg)
    schema = json.loads(pathlib.Path(schema_path).read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    failures = 0
    checked = 0

    def check(name, document, must_have_format):
        nonlocal failures, checked
        checked += 1
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))
        for error in errors[:5]:
            where = "/".join(str(p) for p in error.absolute_path)
            print(f"{name}: {where or '(root)'}: {error.message}")
        if errors:
            failures += 1
        if must_have_format and document.get("format") != "asehost-scene/1":
            print(f"{name}: no \"format\": \"asehost-scene/1\"")
            failures += 1
        return not errors

    first_dump = None
    for folder in folders:
        for path in sorted(p for p in pathlib.Path(folder).rglob("*") if p.suffix.lower() == ".ase"):
            run = subprocess.run([asehost, "import", str(path), "--json"], capture_output=True)
            if run.returncode != 0:
                continue  # files meant to fail; the exit-code tests cover them
            document = json.loads(run.stdout.decode("utf-8"))
            check(str(path), document, True)
            if first_dump is None and document.get("faceGroups"):
                first_dump = document
    for scene in scenes:
        check(scene, json.loads(pathlib.Path(scene).read_text(encoding="utf-8")), False)

    # The validator must refuse what the reader refuses: a few mutations of
    # a real dump, each of which has to fail.
    if first_dump is None:
        print("no dump had faces: nothing real was validated")
        return 1
    mutations = {
        "unknown key": lambda d: d.update(vertex=[]),
        "wrong format": lambda d: d.update(format="asehost-scene/2"),
        "two-number position": lambda d: d["vertices"][0].update(position=[0, 0]),
        "text as an index": lambda d: d["faceGroups"][0]["faces"][0].update(materialIndex="0"),
        "face without corners": lambda d: d["faceGroups"][0]["faces"][0].pop("vertexIndices"),
        "three UV channels": lambda d: d["faceGroups"][0]["faces"][0]["uvChannels"].append({}),
        "texture kind 2": lambda d: d["materials"].append({"textures": [{"channel": 0, "kind": 2}]}),
        "image texture with layers": lambda d: d["materials"].append({"textures": [{"channel": 0, "kind": 1, "layers": None}]}),
    }
    for name, mutate in mutations.items():
        document = json.loads(json.dumps(first_dump))
        mutate(document)
        if validator.is_valid(document):
            print(f"the schema accepts a dump with {name}")
            failures += 1

    print(f"{checked} scenes checked, {failures} failures")
    return 1 if failures or checked == 0 else 0


sys.exit(main())
