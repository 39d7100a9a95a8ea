#!/usr/bin/env python3
"""asehost as a user runs it: every row of the README's exit-code table for
every command, file names of every kind, the checks on outputs, the angle
warnings, and conversions that keep the file's numbers.

    cli_test.py --asehost PATH [--emulator WINE] [--failing-new PATH
                --module PATH] --version X.Y.Z --samples DIR --fixtures DIR
                --examples DIR

Every run happens in a fresh folder with relative names, so that the same
test runs natively and under wine (where a Unix absolute path is no
Windows path).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
WINDOWS = False


def run(*arguments, cwd, program=None, env=None, timeout=120):
    """Runs asehost with `arguments` (str or bytes) in `cwd`: (code, stdout, stderr)."""
    command = ([ARGS.emulator] if ARGS.emulator else []) + [program or ARGS.asehost] + list(arguments)
    environment = dict(os.environ)
    environment.update(env or {})
    done = subprocess.run(command, cwd=cwd, capture_output=True, env=environment, timeout=timeout)
    out = done.stdout.replace(b"\r\n", b"\n")
    err = done.stderr.replace(b"\r\n", b"\n")
    return done.returncode, out, err


class Folder:
    """A fresh working folder with the bundled inputs copied in."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="asehost_cli_")
        shutil.copy(os.path.join(ARGS.fixtures, "walk.cycle.ase"), os.path.join(self.path, "cube.ase"))
        shutil.copy(os.path.join(ARGS.fixtures, "no_geometry.ase"), os.path.join(self.path, "empty.ase"))
        shutil.copy(os.path.join(ARGS.fixtures, "hierarchy.ase"), os.path.join(self.path, "tree.ase"))

    def file(self, name):
        return os.path.join(self.path, name)

    def run(self, *arguments, **options):
        return run(*arguments, cwd=self.path, **options)

    def close(self):
        shutil.rmtree(self.path, ignore_errors=True)


class CliTestCase(unittest.TestCase):
    def setUp(self):
        self.folder = Folder()

    def tearDown(self):
        self.folder.close()

    def expect(self, code, *arguments, err=None, out=None):
        """Runs asehost and checks its exit code and, as regexes, its output."""
        got, stdout, stderr = self.folder.run(*arguments)
        shown = " ".join(a if isinstance(a, str) else repr(a) for a in arguments)
        self.assertEqual(got, code, f"asehost {shown}\nstdout: {stdout[-800:]!r}\nstderr: {stderr[-800:]!r}")
        if err is not None:
            self.assertRegex(stderr.decode("utf-8", "replace"), err, shown)
        if out is not None:
            self.assertRegex(stdout.decode("utf-8", "replace"), out, shown)
        return stdout, stderr


class ExitCodes(CliTestCase):
    """One case per row of the table, for each command it applies to."""

    def test_0_done(self):
        self.expect(0, "info", out=r'version: "3\.50\.60"')
        if ARGS.module:
            self.expect(0, "info", "--plugin", os.path.relpath(ARGS.module, self.folder.path), out=r"filter id: ")
            self.expect(0, "info", os.path.relpath(ARGS.module, self.folder.path), out=r"filter id: ")
        self.expect(0, "--version", out=re.escape(ARGS.version))
        self.expect(0, "help", out=r"info.*\n.*import.*\n.*export.*\n.*convert")
        self.expect(0, "help", "convert", out=r"--plugin-axes")
        self.expect(0, "import", "cube.ase", out=r"objects: 4")
        json_text, _ = self.expect(0, "import", "cube.ase", "--json")
        with open(self.folder.file("scene.json"), "wb") as f:
            f.write(json_text)
        self.expect(0, "export", "scene.json", "out.ase", "--quiet")
        self.expect(0, "convert", "cube.ase", "out2.ase", "--quiet")
        for name in ("out.ase", "out2.ase"):
            with open(self.folder.file(name), "rb") as f:
                self.assertTrue(f.read().startswith(b"*3DSMAX_ASCIIEXPORT"))

    def test_1_host_could_not_do_its_part(self):
        # Arguments.
        self.expect(1, err=r"no command given")
        self.expect(1, "frobnicate", "cube.ase", err=r'unknown command "frobnicate".*info, import, export, convert')
        self.expect(1, "import", err=r"FILE is required")
        self.expect(1, "convert", "cube.ase", "out.ase", "--smoothing", "sometimes")
        self.expect(1, "info", "a.so", "--plugin", "b.so")
        # Files: missing, a folder, a scene the host rejects.
        os.mkdir(self.folder.file("folder.ase"))
        for command in (["import"], ["convert"], ["export"]):
            output = ["out.ase"] if command != ["import"] else []
            self.expect(1, *command, "missing.ase", *output, err=r'cannot open "missing\.ase": No such file or directory')
            self.expect(1, *command, "folder.ase", *output, err=r'cannot open "folder\.ase": it is a folder')
        long_name = "n" * 250 + ".ase"
        self.expect(1, "import", long_name, err=r"characters long as a full path; the host's file names hold 259")
        self.expect(1, "convert", "cube.ase", long_name, err=r"the host's file names hold 259")
        with open(self.folder.file("bad.json"), "w") as f:
            f.write('{"vertices": [')
        self.expect(1, "export", "bad.json", "out.ase", err=r"bad\.json: ")
        # The plug-in module.
        for command in (["info", "--plugin", "nowhere.so"], ["import", "cube.ase", "--plugin", "nowhere.so"],
                        ["convert", "cube.ase", "out.ase", "--plugin", "nowhere.so"]):
            self.expect(1, *command, err=r"cannot load the plug-in module")
        self.assertFalse(os.path.exists(self.folder.file("out.ase")))

    def test_1_unreadable_input(self):
        if WINDOWS or os.geteuid() == 0:
            self.skipTest("every file is readable here")
        os.chmod(self.folder.file("cube.ase"), 0)
        self.expect(1, "import", "cube.ase", err=r'cannot open "cube\.ase": Permission denied')

    def test_2_cancelled(self):
        self.expect(2, "convert", "cube.ase", "out.ase", "--cancel", err=r"export cancelled")
        self.assertFalse(os.path.exists(self.folder.file("out.ase")))

    def test_3_plugin_failed(self):
        # The plug-in's own error text is printed.
        self.expect(3, "import", "empty.ase", err=r"asehost: No geometry found\.")
        self.expect(3, "convert", "empty.ase", "out.ase", err=r"asehost: No geometry found\.")
        self.expect(3, "convert", "cube.ase", os.path.join("no-such-folder", "out.ase"), err=r"Could not open file for writing\.")


class Outputs(CliTestCase):
    """What asehost writes, and what it refuses to write over."""

    def test_standard_output_and_files(self):
        printed, _ = self.expect(0, "import", "cube.ase", "--json")
        dashed, _ = self.expect(0, "import", "cube.ase", "--json", "-o", "-")
        self.assertEqual(printed, dashed)
        nothing, _ = self.expect(0, "import", "cube.ase", "--json", "-o", "dump.json")
        self.assertEqual(nothing, b"")
        with open(self.folder.file("dump.json"), "rb") as f:
            self.assertEqual(f.read().replace(b"\r\n", b"\n"), printed)
        self.assertFalse(os.path.exists(self.folder.file("-")))

    def test_output_that_cannot_be_written(self):
        if WINDOWS or not os.path.exists("/dev/full"):
            self.skipTest("no full device here")
        self.expect(1, "import", "cube.ase", "--json", "-o", "/dev/full", err=r'cannot write "/dev/full"')
        for arguments in (["import", "cube.ase", "--json"], ["info"], ["help"]):
            with open("/dev/full", "wb") as full:
                done = subprocess.run([ARGS.asehost] + arguments, cwd=self.folder.path, stdout=full, stderr=subprocess.PIPE)
            self.assertEqual(done.returncode, 1, arguments)
            self.assertIn(b"cannot write to standard output", done.stderr)

    def test_convert_and_export_refuse_what_would_lose_data(self):
        with open(self.folder.file("cube.ase"), "rb") as f:
            original = f.read()
        os.mkdir(self.folder.file("sub"))
        spellings = ["cube.ase", os.path.join(".", "cube.ase"), os.path.join("sub", "..", "cube.ase")]
        if WINDOWS:
            spellings.append("CUBE.ASE")
        for spelling in spellings:
            self.expect(1, "convert", "cube.ase", spelling, err=r"is the input.*--force")
        with open(self.folder.file("cube.ase"), "rb") as f:
            self.assertEqual(f.read(), original)
        self.expect(1, "convert", "cube.ase", "out.obj", err=r"does not end in \.ase.*--force")
        self.expect(1, "convert", "cube.ase", "-", err=r'instead of "-"')
        self.assertEqual(sorted(os.listdir(self.folder.path)), ["cube.ase", "empty.ase", "sub", "tree.ase"])
        self.expect(0, "convert", "cube.ase", "out.obj", "--force", "--quiet")
        self.expect(0, "convert", "cube.ase", "cube.ase", "--force", "--quiet")
        with open(self.folder.file("cube.ase"), "rb") as f:
            self.assertIn(b"Creator: asehost", f.read())
        json_text, _ = self.expect(0, "import", "cube.ase", "--json")
        with open(self.folder.file("scene.json"), "wb") as f:
            f.write(json_text)
        self.expect(1, "export", "scene.json", "scene.json", err=r"is the input")
        self.expect(1, "export", "scene.json", "scene.txt", err=r"does not end in \.ase")

    def test_arguments_starting_with_a_slash_are_names(self):
        self.expect(1, "import", "/no-such-folder/a.ase", err=r'cannot open "/no-such-folder/a\.ase"')
        self.expect(1, "import", "/?", err=r'cannot open "/\?"')

    def test_help_shows_the_dialogs_defaults(self):
        stdout, _ = self.expect(0, "convert", "--help")
        text = stdout.decode()
        for flag, default in (("export-materials", "on"), ("use-face-normals", "off"), ("split-vertices-per-uv", "on"),
                              ("smoothing", "all"), ("angle", "35.000")):
            self.assertRegex(text, rf"--{flag} TEXT\S*={default}\b")

    def test_angle_warnings(self):
        cases = [(["--angle", "banana", "--smoothing", "angle"], r'reads the angle "banana" as 0\.000'),
                 (["--angle", "500", "--smoothing", "angle"], r'reads the angle "500" as 180\.000'),
                 (["--angle", "12.5mm", "--smoothing", "angle"], r'as 12\.500'),
                 (["--angle", "", "--smoothing", "angle"], r'as 35\.000'),
                 (["--angle", "12"], r"--angle is used only with --smoothing angle")]
        for options, warning in cases:
            self.expect(0, "convert", "cube.ase", "out.ase", "--quiet", *options, err=warning)
        _, stderr = self.expect(0, "convert", "cube.ase", "out.ase", "--quiet", "--angle", "40", "--smoothing", "angle")
        self.assertEqual(stderr, b"")

    def test_what_the_file_does_not_carry(self):
        _, stderr = self.expect(0, "convert", "tree.ase", "out.ase")
        lines = stderr.decode().splitlines()
        self.assertTrue(any(re.match(r"asehost: not written: the bone hierarchy \(\d+ bones", line) for line in lines), lines)
        _, stderr = self.expect(0, "convert", "cube.ase", "out.ase")
        self.assertRegex(stderr.decode(), r'not written: animation "cube" \(4 tracks, 50 frames at 10 per second\)')
        _, stderr = self.expect(0, "convert", "cube.ase", "out.ase", "--quiet")
        self.assertEqual(stderr, b"")


class FileNames(CliTestCase):
    """Every name a user can type opens that file and writes that name."""

    def names(self):
        names = ["日本.ase".encode(), "ü ber.ase".encode()]
        if not WINDOWS:
            names += [b"in\xff.ase", b"\xed\xa0\x80.ase", b"a\xc3.ase"]
        return names

    def test_names(self):
        for name in self.names():
            shutil.copy(self.folder.file("cube.ase"), os.path.join(self.folder.path.encode(), name))
            argument = name if not WINDOWS else name.decode()
            self.expect(0, "import", argument, out=r"objects: 4")
            out = b"out-" + name
            self.expect(0, "convert", argument, out if not WINDOWS else out.decode(), "--quiet")
            self.assertIn(out, os.listdir(self.folder.path.encode()))
        if not WINDOWS:
            self.expect(0, "convert", "cube.ase", b"out\xff\xfe.ase", "--quiet")
            made = set(os.listdir(self.folder.path.encode()))
            self.assertIn(b"out\xff\xfe.ase", made)
            self.assertNotIn("outÿþ.ase".encode(), made)


# --- Conversions keep the file's numbers ---------------------------------------

FACE = re.compile(rb"\*MESH_FACE\s+\d+:\s+A:\s+(\d+)\s+B:\s+(\d+)\s+C:\s+(\d+)")
VERTEX = re.compile(rb"\*MESH_VERTEX\s+(\d+)\s+(\S+)\s+(\S+)\s+(\S+)")


def corner_positions(path):
    """Every face corner's position, object after object, face after face,
    and the most decimals a coordinate is written with."""
    with open(path, "rb") as f:
        text = f.read()
    corners, decimals = [], 0
    for block in text.split(b"*GEOMOBJECT")[1:]:
        vertices = {}
        for m in VERTEX.finditer(block):
            vertices[int(m.group(1))] = tuple(float(v) for v in m.groups()[1:])
            for v in m.groups()[1:]:
                decimals = max(decimals, len(v.split(b".")[1]) if b"." in v else 0)
        for m in FACE.finditer(block):
            corners.extend(vertices[int(i)] for i in m.groups())
    return corners, decimals


def round_trip_inputs():
    inputs = [os.path.join(ARGS.examples, "crate.ase")]
    if os.path.isdir(ARGS.samples):
        inputs += [os.path.join(ARGS.samples, n) for n in sorted(os.listdir(ARGS.samples)) if n.lower().endswith(".ase")]
    else:
        print(f"\n  no samples in {ARGS.samples}: fixtures only", file=sys.stderr)
    for name in sorted(os.listdir(ARGS.fixtures)):
        if name.endswith(".ase") and not name.startswith(("bad_", "no_geometry")):
            inputs.append(os.path.join(ARGS.fixtures, name))
    return inputs


class Orientation(CliTestCase):
    def compare(self, plugin_axes):
        compared, files, worst = 0, 0, 0.0
        for source in round_trip_inputs():
            shutil.copy(source, self.folder.file("in.ase"))
            options = ["--plugin-axes"] if plugin_axes else []
            self.expect(0, "convert", "in.ase", "out.ase", "--quiet", *options)
            before, _ = corner_positions(self.folder.file("in.ase"))
            after, decimals = corner_positions(self.folder.file("out.ase"))
            self.assertEqual(len(before), len(after), source)
            for (x, y, z), got in zip(before, after):
                want = (x, -z, y) if plugin_axes else (x, y, z)
                for w, g in zip(want, got):
                    # Half a unit of the last written decimal, and the
                    # float the host keeps.
                    bound = 0.5 * 10.0 ** -decimals + abs(w) * 2.0 ** -23
                    self.assertLessEqual(abs(w - g), bound, f"{source}: {want} written as {got}")
                    worst = max(worst, abs(w - g))
            compared += len(before)
            files += 1
        self.assertGreaterEqual(files, 6)
        print(f"\n  convert{' --plugin-axes' if plugin_axes else ''}: {files} files, {compared} face corners, "
              f"largest difference {worst:.3g}", file=sys.stderr)

    def test_convert_keeps_the_files_positions(self):
        self.compare(plugin_axes=False)

    def test_plugin_axes_gives_what_the_plugin_writes(self):
        self.compare(plugin_axes=True)


class OutOfMemory(CliTestCase):
    """Memory that runs out from the n-th allocation on, at every stage of
    each command: a message and a non-zero exit, never an abort."""

    def sweep(self, *arguments, runs):
        program = ARGS.failing_new
        plugin = ["--plugin", os.path.relpath(ARGS.module, self.folder.path)]
        code, _, err = self.folder.run(*arguments, *plugin, program=program, env={"ASEHOST_COUNT_ALLOCATIONS": "1"})
        self.assertEqual(code, 0, err)
        total = int(re.search(rb"allocations: (\d+)", err).group(1))
        step = max(1, total // runs)
        outcomes = {}
        for n in list(range(1, total + 1, step)) + [total]:
            code, _, err = self.folder.run(*arguments, *plugin, program=program, env={"ASEHOST_FAIL_ALLOCATION": str(n)})
            self.assertIn(code, (1, 3), f"allocation {n} of {total}: exit {code}, {err[-300:]!r}")
            self.assertRegex(err.decode("utf-8", "replace"), r"^asehost: ", f"allocation {n}")
            self.assertNotIn(b"terminate", err)
            outcomes[code] = outcomes.get(code, 0) + 1
        print(f"\n  out of memory in {' '.join(arguments[:1])}: {total} allocations, {len(range(1, total + 1, step)) + 1} runs, "
              f"exits {outcomes}", file=sys.stderr)

    def test_every_command_fails_cleanly(self):
        if not ARGS.failing_new or WINDOWS:
            self.skipTest("no failing-allocation build here")
        json_text, _ = self.expect(0, "import", "tree.ase", "--json")
        with open(self.folder.file("scene.json"), "wb") as f:
            f.write(json_text)
        self.sweep("import", "tree.ase", "--json", runs=150)
        self.sweep("export", "scene.json", "out.ase", runs=150)
        self.sweep("convert", "tree.ase", "out.ase", runs=150)


def main():
    global ARGS, WINDOWS
    parser = argparse.ArgumentParser()
    parser.add_argument("--asehost", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--failing-new", default="")
    parser.add_argument("--module", default="")
    parser.add_argument("--version", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--examples", required=True)
    ARGS, rest = parser.parse_known_args()
    WINDOWS = ARGS.asehost.lower().endswith(".exe")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
