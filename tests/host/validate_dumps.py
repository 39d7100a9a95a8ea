#!/usr/bin/env python3
"""Validates the JSON dump of every ASE file the suite imports against the
scene schema: asehost import FILE --json for each .ase under the given
folders, and the hand-written scene files given with --scene. Each dump is
also exported again, which must give the bytes asehost convert gives (the
time stamp aside).

Usage: validate_dumps.py ASEHOST SCHEMA [--scene FILE]... FOLDER...
Exit 0 when every check passes, 1 otherwise, 77 (skipped) when the
round trips pass but the python3 jsonschema module is missing."""
import json
import pathlib
import re
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    jsonschema = None

TIME_LINE = re.compile(rb'^\*COMMENT "Time: [^"]*"\r?$', re.M)


def export_matches_convert(asehost, path, dump, folder):
    """The dump exported again against convert of the file itself (in the
    plug-in's own axes: the dump holds the scene as imported, unturned; with
    the dialog's defaults, which export starts from)."""
    (folder / "dump.json").write_bytes(dump)
    results = []
    for name, command in (("convert", ["convert", "--plugin-axes", "--dialog-defaults", str(path)]), ("export", ["export", str(folder / "dump.json")])):
        (folder / name).mkdir(exist_ok=True)
        target = folder / name / "out.ase"
        target.unlink(missing_ok=True)
        run = subprocess.run([asehost, *command, str(target)], capture_output=True)
        output = TIME_LINE.sub(b"", target.read_bytes()) if run.returncode == 0 else None
        results.append((run.returncode, output))
    if results[0] != results[1]:
        return f"export of the dump (exit {results[1][0]}) differs from convert (exit {results[0][0]})"
    return None


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
    validator = None
    if jsonschema is not None:
        schema = json.loads(pathlib.Path(schema_path).read_text(encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        validator = jsonschema.Draft202012Validator(schema)

    failures = 0
    checked = 0
    work = pathlib.Path(tempfile.mkdtemp(prefix="asehost_dumps_"))

    def check(name, document, must_have_format):
        nonlocal failures, checked
        checked += 1
        if validator is None:
            return True
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
            mismatch = export_matches_convert(asehost, path, run.stdout, work)
            if mismatch:
                print(f"{path}: {mismatch}")
                failures += 1
            if first_dump is None and document.get("faceGroups"):
                first_dump = document
    for scene in scenes:
        check(scene, json.loads(pathlib.Path(scene).read_text(encoding="utf-8")), False)

    if first_dump is None:
        print("no dump had faces: nothing real was checked")
        return 1
    if validator is None:
        print(f"{checked} round trips, {failures} failures; schema checks skipped: the python3 jsonschema module "
              "is missing (scripts/deps.sh installs python3-jsonschema)")
        return 1 if failures else 77

    # The validator must refuse what the reader refuses: a few mutations of
    # a real dump, each of which has to fail.
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
