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
import signal
import stat
import subprocess
import sys
import tempfile
import time
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
        self.expect(0, "convert", "--dialog-defaults", "cube.ase", "out2.ase", "--quiet")
        for name in ("out.ase", "out2.ase"):
            with open(self.folder.file(name), "rb") as f:
                self.assertTrue(f.read().startswith(b"*3DSMAX_ASCIIEXPORT"))

    def test_1_host_could_not_do_its_part(self):
        # Arguments.
        self.expect(1, err=r"no command given")
        self.expect(1, "frobnicate", "cube.ase", err=r'unknown command "frobnicate".*info, import, export, convert')
        self.expect(1, "import", err=r"FILE is required")
        self.expect(1, "convert", "--dialog-defaults", "cube.ase", "out.ase", "--smoothing", "sometimes")
        self.expect(1, "info", "a.so", "--plugin", "b.so")
        # Files: missing, a folder, a scene the host rejects.
        os.mkdir(self.folder.file("folder.ase"))
        for command in (["import"], ["convert"], ["export"]):
            output = ["out.ase"] if command != ["import"] else []
            self.expect(1, *command, "missing.ase", *output, err=r'cannot open "missing\.ase": No such file or directory')
            self.expect(1, *command, "folder.ase", *output, err=r'cannot open "folder\.ase": it is a folder')
        long_name = "n" * 250 + ".ase"
        self.expect(1, "import", long_name, err=r"characters long as a full path; the host's file names hold 259")
        self.expect(1, "convert", "--dialog-defaults", "cube.ase", long_name, err=r"the host's file names hold 259")
        with open(self.folder.file("bad.json"), "w") as f:
            f.write('{"vertices": [')
        self.expect(1, "export", "bad.json", "out.ase", err=r"bad\.json: ")
        # The plug-in module.
        for command in (["info", "--plugin", "nowhere.so"], ["import", "cube.ase", "--plugin", "nowhere.so"],
                        ["convert", "--dialog-defaults", "cube.ase", "out.ase", "--plugin", "nowhere.so"]):
            self.expect(1, *command, err=r"cannot load the plug-in module")
        self.assertFalse(os.path.exists(self.folder.file("out.ase")))

    def test_1_unreadable_input(self):
        if WINDOWS or os.geteuid() == 0:
            self.skipTest("every file is readable here")
        os.chmod(self.folder.file("cube.ase"), 0)
        self.expect(1, "import", "cube.ase", err=r'cannot open "cube\.ase": Permission denied')

    def test_2_cancelled(self):
        self.expect(2, "convert", "--dialog-defaults", "cube.ase", "out.ase", "--cancel", err=r"export cancelled")
        self.assertFalse(os.path.exists(self.folder.file("out.ase")))

    def test_3_plugin_failed(self):
        # The plug-in's own error text is printed.
        self.expect(3, "import", "empty.ase", err=r"asehost: No geometry found\.")
        self.expect(3, "convert", "--dialog-defaults", "empty.ase", "out.ase", err=r"asehost: No geometry found\.")
        self.expect(3, "convert", "--dialog-defaults", "cube.ase", os.path.join("no-such-folder", "out.ase"), err=r"Could not open file for writing\.")


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
            self.expect(1, "convert", "--dialog-defaults", "cube.ase", spelling, err=r"is the input.*--force")
        with open(self.folder.file("cube.ase"), "rb") as f:
            self.assertEqual(f.read(), original)
        self.expect(1, "convert", "--dialog-defaults", "cube.ase", "out.obj", err=r"does not end in \.ase.*--force")
        self.expect(1, "convert", "--dialog-defaults", "cube.ase", "-", err=r'instead of "-"')
        self.assertEqual(sorted(os.listdir(self.folder.path)), ["cube.ase", "empty.ase", "sub", "tree.ase"])
        self.expect(0, "convert", "--dialog-defaults", "cube.ase", "out.obj", "--force", "--quiet")
        self.expect(0, "convert", "--dialog-defaults", "cube.ase", "cube.ase", "--force", "--quiet")
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
            self.expect(0, "convert", "--dialog-defaults", "cube.ase", "out.ase", "--quiet", *options, err=warning)
        _, stderr = self.expect(0, "convert", "--dialog-defaults", "cube.ase", "out.ase", "--quiet", "--angle", "40", "--smoothing", "angle")
        self.assertEqual(stderr, b"")

    def test_what_the_file_does_not_carry(self):
        _, stderr = self.expect(0, "convert", "--dialog-defaults", "tree.ase", "out.ase")
        lines = stderr.decode().splitlines()
        self.assertTrue(any(re.match(r"asehost: not written: the bone hierarchy \(\d+ bones", line) for line in lines), lines)
        _, stderr = self.expect(0, "convert", "--dialog-defaults", "cube.ase", "out.ase")
        self.assertRegex(stderr.decode(), r'not written: animation "cube" \(4 tracks, 50 frames at 10 per second\)')
        _, stderr = self.expect(0, "convert", "--dialog-defaults", "cube.ase", "out.ase", "--quiet")
        self.assertEqual(stderr, b"")


LOSSES_NOT_CARRIED = [
    "2 lights (the host has no lights)",
    "1 camera (the host has no cameras)",
    "corner colours of 1 object, averaged per vertex (the host holds one colour a vertex)",
    "2 mapping channels of 2 objects beyond the second UV channel (the host takes the first channel numbered 2)",
    "UV offset, tiling or angle of 1 map (host textures have none)",
    "the folders of 1 texture path (the import looks for the file name beside the file)",
    "1 map of kinds the host has no slot for (*MAP_REFLECT 1; it takes diffuse, opacity, bump and specular)",
    "values of 1 material that the host has no field for (*MATERIAL_SELFILLUM)",
]

# One triangle, unparented, at the identity: nothing of it is lost anywhere.
PLAIN_TRIANGLE = """*3DSMAX_ASCIIEXPORT 200
*GEOMOBJECT {
\t*NODE_NAME "@NAME@"
\t*MESH {
\t\t*MESH_NUMVERTEX 3
\t\t*MESH_NUMFACES 1
\t\t*MESH_VERTEX_LIST {
\t\t\t*MESH_VERTEX 0 0.0 0.0 0.0
\t\t\t*MESH_VERTEX 1 1.0 0.0 0.0
\t\t\t*MESH_VERTEX 2 0.0 1.0 0.0
\t\t}
\t\t*MESH_FACE_LIST {
\t\t\t*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1 *MESH_SMOOTHING 1 *MESH_MTLID 0
\t\t}
\t}
}
"""


class LossReport(CliTestCase):
    """After import, convert and export, one stderr line per kind of content
    that does not travel, with its count: "not carried" for what the file
    holds and the host cannot take, "not written" for what the host holds
    and the written file leaves out; nothing for a file that loses nothing,
    nothing with --quiet, nothing from a batch child."""

    def setUp(self):
        super().setUp()
        shutil.copy(os.path.join(ARGS.fixtures, "..", "host", "losses.ase"), self.folder.file("losses.ase"))

    def report(self, *arguments):
        _, stderr = self.expect(0, *arguments)
        return stderr.decode("utf-8", "replace").splitlines()

    def test_every_kind_is_named_with_its_count(self):
        carried = ["asehost: not carried: " + line for line in LOSSES_NOT_CARRIED]
        self.assertEqual(self.report("import", "losses.ase"), carried)
        self.assertEqual(self.report("import", "--json", "losses.ase"), carried)
        # The dialog's defaults leave the second channel out; a helper parent
        # makes a hierarchy; the empty object is not written.
        written = ["asehost: not written: UV channel 2 of 1 object (--export-multiple-uvsets=on writes it)",
                   "asehost: not written: the bone hierarchy (4 bones, 3 roots): objects are written in world space",
                   "asehost: not written: 1 object without faces (a written object needs one)"]
        self.assertEqual(self.report("convert", "--dialog-defaults", "losses.ase", "out.ase"), carried + written)
        self.assertEqual(self.report("convert", "--dialog-defaults", "--export-texture-coordinates", "off", "losses.ase", "out.ase"),
                         carried + [written[0].replace("(--export", "(--export-texture-coordinates=on --export")] + written[1:])
        # convert's own defaults write the second channel.
        self.assertEqual(self.report("convert", "losses.ase", "out.ase"), carried + written[1:])
        # An exported scene names only what the written file leaves out.
        json_text, _ = self.expect(0, "import", "--json", "--quiet", "losses.ase")
        with open(self.folder.file("scene.json"), "wb") as f:
            f.write(json_text)
        self.assertEqual(self.report("export", "scene.json", "out.ase"), written)
        for arguments in (["import", "losses.ase"], ["convert", "losses.ase", "out.ase"], ["export", "scene.json", "out.ase"]):
            self.assertEqual(self.report(*arguments, "--quiet"), [], arguments)

    def test_nothing_lost_nothing_said(self):
        with open(self.folder.file("plain.ase"), "w") as f:
            f.write(PLAIN_TRIANGLE)
        for arguments in (["import", "plain.ase"], ["convert", "plain.ase", "out.ase"],
                          ["convert", "--dialog-defaults", "plain.ase", "out.ase"]):
            self.assertEqual(self.report(*arguments), [], arguments)
        # Values spelt otherwise than the export writes them, but equal.
        with open(self.folder.file("losses.ase")) as f:
            text = f.read()
        quiet_material = text.replace("*MATERIAL_SELFILLUM 0.5000", "*MATERIAL_SELFILLUM -0.00").replace(
            "*MATERIAL_SHINESTRENGTH 0.0500", "*MATERIAL_SHINESTRENGTH .05")
        with open(self.folder.file("quiet_material.ase"), "w") as f:
            f.write(quiet_material)
        self.assertNotIn("asehost: not carried: " + LOSSES_NOT_CARRIED[-1], self.report("import", "quiet_material.ase"))
        # An object whose colours all read the same loses none by averaging.
        one_colour = re.sub(r"(\*MESH_VERTCOL \d)\t[^\n]*", r"\1\t0.5000\t0.5000\t0.5000", text)
        with open(self.folder.file("one_colour.ase"), "w") as f:
            f.write(one_colour)
        self.assertNotIn("asehost: not carried: " + LOSSES_NOT_CARRIED[2], self.report("import", "one_colour.ase"))

    def test_many_map_kinds_are_summed_up(self):
        with open(self.folder.file("losses.ase")) as f:
            text = f.read()
        kinds = "".join(f"\t\t*MAP_KIND{k} {{\n\t\t}}\n" for k in range(10))
        with open(self.folder.file("kinds.ase"), "w") as f:
            f.write(text.replace("\t\t*MAP_REFLECT {", kinds + "\t\t*MAP_REFLECT {"))
        named = ", ".join(f"*MAP_KIND{k} 1" for k in range(8))
        self.assertIn("asehost: not carried: 11 maps of kinds the host has no slot for (" + named +
                      " and 3 more kinds; it takes diffuse, opacity, bump and specular)", self.report("import", "kinds.ase"))

    def test_names_outside_the_code_page(self):
        # Marked text is converted to the code page: a Cyrillic name keeps
        # none of its letters, an accented Latin one keeps them all.
        for name, lost in (("\u041a\u0443\u0431", True), ("Caf\u00e9", False)):
            with open(self.folder.file("named.ase"), "wb") as f:
                f.write(b"\xef\xbb\xbf" + PLAIN_TRIANGLE.replace("@NAME@", name).encode("utf-8"))
            expected = ["asehost: not carried: 1 name outside the code page (their characters outside it became '?')"]
            self.assertEqual(self.report("import", "named.ase"), expected if lost else [], name)

    def test_batch_lines_stay_whole(self):
        out, err = self.expect(0, "convert", "losses.ase", "cube.ase", "--output-dir", "out")
        self.assertEqual(out.decode().splitlines()[:2], ["losses.ase -> out/losses.ase: 3 objects, 3 faces",
                                                         "cube.ase -> out/cube.ase: 4 objects, 1 face"])
        self.assertNotIn(b"not carried", err)
        self.assertNotIn(b"not written", err)


class ConvertDefaults(CliTestCase):
    """convert keeps what it can unless told otherwise: the scene's smoothing
    groups, and the second UV channel of a file that has one; export of a
    JSON scene starts from the dialog's defaults."""

    def written(self, *arguments):
        """The file convert or export writes with `arguments`, without the
        lines that name the file or the time."""
        self.expect(0, *arguments, "out.ase", "--quiet")
        with open(self.folder.file("out.ase"), "rb") as f:
            return re.sub(rb"\*COMMENT \"Time: [^\n]*\n", b"", f.read())

    def test_convert_keeps_groups_and_the_second_channel_unless_told_otherwise(self):
        shutil.copy(os.path.join(ARGS.fixtures, "channels.ase"), self.folder.file("channels.ase"))
        default = self.written("convert", "channels.ase")
        self.assertIn(b"*MESH_MAPPINGCHANNEL 2 {", default)
        self.assertEqual(default, self.written("convert", "channels.ase", "--dialog-defaults", "--smoothing", "scene",
                                               "--export-multiple-uvsets", "on"))
        dialog = self.written("convert", "channels.ase", "--dialog-defaults")
        self.assertNotIn(b"*MESH_MAPPINGCHANNEL", dialog)
        self.assertEqual(set(re.findall(rb"\*MESH_SMOOTHING (\d+)", dialog)), {b"1"})
        self.assertEqual(dialog, self.written("convert", "channels.ase", "--smoothing", "all",
                                              "--export-multiple-uvsets", "off"))
        # Each option given wins over convert's default for it, and only for it.
        self.assertEqual(self.written("convert", "channels.ase", "--smoothing", "group"),
                         self.written("convert", "channels.ase", "--dialog-defaults", "--smoothing", "group",
                                      "--export-multiple-uvsets", "on"))
        self.assertEqual(self.written("convert", "channels.ase", "--export-multiple-uvsets", "off"),
                         self.written("convert", "channels.ase", "--dialog-defaults", "--smoothing", "scene"))
        # A file without a second channel gets no empty one.
        self.assertNotIn(b"*MESH_MAPPINGCHANNEL", self.written("convert", "cube.ase"))
        self.assertEqual(self.written("convert", "cube.ase"),
                         self.written("convert", "cube.ase", "--dialog-defaults", "--smoothing", "scene"))

    def test_export_of_a_scene_keeps_the_dialogs_defaults(self):
        shutil.copy(os.path.join(ARGS.fixtures, "channels.ase"), self.folder.file("channels.ase"))
        json_text, _ = self.expect(0, "import", "channels.ase", "--json")
        with open(self.folder.file("scene.json"), "wb") as f:
            f.write(json_text)
        exported = self.written("export", "scene.json")
        self.assertNotIn(b"*MESH_MAPPINGCHANNEL", exported)
        self.assertEqual(set(re.findall(rb"\*MESH_SMOOTHING (\d+)", exported)), {b"1"})
        self.expect(1, "export", "scene.json", "out.ase", "--dialog-defaults", err=r"--dialog-defaults")
        stdout, _ = self.expect(0, "help", "convert")
        self.assertRegex(stdout.decode(), r"--dialog-defaults")
        self.assertRegex(stdout.decode(), r"--smoothing TEXT:\{all,group,angle,scene\}")


    def test_export_of_a_dump_with_file_axes_writes_what_convert_writes(self):
        # Without --file-axes the dump is written as the plug-in holds it, a
        # quarter turn about x from the file; with it and convert's options,
        # byte for byte what convert writes.
        compared = 0
        for source in round_trip_inputs():
            shutil.copy(source, self.folder.file("in.ase"))
            with open(source, "rb") as f:
                second = b"*MESH_MAPPINGCHANNEL 2" in f.read()
            json_text, _ = self.expect(0, "import", "in.ase", "--json")
            with open(self.folder.file("scene.json"), "wb") as f:
                f.write(json_text)
            converted = self.written("convert", "in.ase")
            options = ["--smoothing", "scene"] + (["--export-multiple-uvsets", "on"] if second else [])
            self.assertEqual(converted, self.written("export", "scene.json", "--file-axes", *options), source)
            if b"*MESH_VERTEX " in converted:
                self.assertNotEqual(converted, self.written("export", "scene.json", *options), source)
            compared += 1
        self.assertGreaterEqual(compared, 6)

class SafeOutputs(CliTestCase):
    """Paths mean what they meant where asehost started, an output never
    lands on the input, and a replaced file is replaced whole and keeps what
    it is."""

    def write(self, name, data):
        with open(self.folder.file(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.folder.file(name), "rb") as f:
            return f.read()

    def test_paths_are_resolved_where_asehost_started(self):
        # The crate has a material list, for which the plug-in moves into the
        # file's folder while it imports.
        os.mkdir(self.folder.file("assets"))
        os.mkdir(self.folder.file("work"))
        shutil.copy(os.path.join(ARGS.examples, "crate.ase"), self.folder.file(os.path.join("assets", "m.ase")))
        self.write(os.path.join("assets", "scene.json"), b"keep")
        work = self.folder.file("work")
        for command in (["import", "--json", os.path.join("..", "assets", "m.ase"), "-o", "scene.json"],
                        ["convert", "--dialog-defaults", os.path.join("..", "assets", "m.ase"), "out.ase", "--quiet"]):
            code, _, err = run(*command, cwd=work)
            self.assertEqual(code, 0, err)
        self.assertEqual(sorted(os.listdir(work)), ["out.ase", "scene.json"])
        self.assertEqual(self.read(os.path.join("assets", "scene.json")), b"keep")

    def test_import_refuses_its_input_however_spelt(self):
        original = self.read("cube.ase")
        os.mkdir(self.folder.file("sub"))
        spellings = ["cube.ase", os.path.join(".", "cube.ase"), os.path.join("sub", "..", "cube.ase")]
        if not WINDOWS:
            os.link(self.folder.file("cube.ase"), self.folder.file("hard.ase"))
            os.symlink("cube.ase", self.folder.file("soft.ase"))
            spellings += ["hard.ase", "soft.ase"]
        for spelling in spellings:
            self.expect(1, "import", "cube.ase", "-o", spelling, err=r"is the input")
            self.expect(1, "import", "cube.ase", "--json", "-o", spelling, err=r"is the input")
        self.assertEqual(self.read("cube.ase"), original)

    def test_an_unwritable_output_is_named_with_its_reason(self):
        missing = os.path.join("missing", "out.ase")
        self.expect(3, "convert", "--dialog-defaults", "cube.ase", missing, "--quiet",
                    err=r'Could not open file for writing\.\nasehost: cannot write "missing.out\.ase": no such file or folder')
        self.expect(1, "import", "cube.ase", "-o", os.path.join("missing", "out.txt"),
                    err=r'cannot write "missing.out\.txt": no such file or folder')
        self.assertEqual(sorted(os.listdir(self.folder.path)), ["cube.ase", "empty.ase", "tree.ase"])

    def test_links_and_mode_are_kept(self):
        if WINDOWS:
            self.skipTest("POSIX links and modes")
        self.write("real.ase", b"old")
        os.chmod(self.folder.file("real.ase"), 0o640)
        os.symlink("real.ase", self.folder.file("link.ase"))
        self.write("real.json", b"old")
        os.chmod(self.folder.file("real.json"), 0o600)
        os.link(self.folder.file("real.json"), self.folder.file("other.json"))
        self.expect(0, "convert", "--dialog-defaults", "cube.ase", "link.ase", "--quiet")
        self.expect(0, "import", "cube.ase", "--json", "-o", "real.json")
        self.assertTrue(os.path.islink(self.folder.file("link.ase")))
        self.assertIn(b"*GEOMOBJECT", self.read("real.ase"))
        self.assertEqual(stat.S_IMODE(os.stat(self.folder.file("real.ase")).st_mode), 0o640)
        self.assertEqual(self.read("other.json"), self.read("real.json"))
        self.assertEqual(stat.S_IMODE(os.stat(self.folder.file("real.json")).st_mode), 0o600)

    def test_a_full_disk_keeps_the_previous_output(self):
        if WINDOWS or os.geteuid() != 0:
            self.skipTest("needs root to mount a small file system")
        small = self.folder.file("small")
        os.mkdir(small)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", small], capture_output=True).returncode != 0:
            self.skipTest("cannot mount a tmpfs here")
        try:
            for name in ("keep.json", "keep.ase"):
                with open(os.path.join(small, name), "wb") as f:
                    f.write(b"keep")
            # Fill what is left, to the last block.
            with open(os.path.join(small, "fill"), "wb", buffering=0) as f:
                try:
                    while True:
                        f.write(b"\0" * 1024)
                except OSError:
                    pass
            cube = os.path.join("..", "cube.ase")
            for command, err in ((["import", "--json", cube, "-o", "keep.json"], r'cannot write "keep\.json": no space left'),
                                 (["import", cube, "-o", "new.txt"], r'cannot write "new\.txt": no space left'),
                                 (["convert", "--dialog-defaults", cube, "keep.ase", "--quiet"], r'"keep\.ase": no space left')):
                code, _, stderr = run(*command, cwd=small)
                self.assertEqual(code, 1 if command[0] == "import" else 3, stderr)
                self.assertRegex(stderr.decode(), err)
            self.assertEqual(sorted(os.listdir(small)), ["fill", "keep.ase", "keep.json"])
            for name in ("keep.json", "keep.ase"):
                with open(os.path.join(small, name), "rb") as f:
                    self.assertEqual(f.read(), b"keep")
        finally:
            subprocess.run(["umount", small])

    def test_an_interrupt_leaves_the_old_file_or_the_whole_new_one(self):
        if WINDOWS:
            self.skipTest("POSIX signals")
        big = self.folder.file("big.ase")
        generator = os.path.join(ARGS.samples, "..", "tools", "gen_ase.py")
        if not os.path.exists(generator):
            self.skipTest("no scene generator here")
        subprocess.run([sys.executable, generator, big, "2", "60", "100"], check=True, capture_output=True)
        self.write("out.ase", b"old")
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for delay in (0.05, 0.3, 1.0):
                child = subprocess.Popen([ARGS.asehost, "convert", "--dialog-defaults", "big.ase", "out.ase", "--quiet"], cwd=self.folder.path,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(delay)
                child.send_signal(sig)
                child.wait(timeout=120)
                self.assertEqual(sorted(os.listdir(self.folder.path)),
                                 ["big.ase", "cube.ase", "empty.ase", "out.ase", "tree.ase"])
                written = self.read("out.ase")
                self.assertTrue(written == b"old" or written.endswith(b"}\n"), written[-40:])


class Messages(CliTestCase):
    """Words that help: each command's own exit codes, a hint for a scene
    named as a module, and what a written file says of its creator."""

    def test_help_and_hints(self):
        self.expect(0, "help", "check", out=r"Exit codes: 0 clean \(notes only\); 4 warnings; 3 the import would fail; 1(.|\n)*the worst")
        self.expect(0, "help", "convert", out=r"2 the export dialog was cancelled")
        self.expect(1, "info", "cube.ase", err=r'"cube\.ase" is an ASE scene, not a plug-in module.*asehost import')
        self.expect(0, "convert", "cube.ase", "out.ase", "--quiet")
        with open(self.folder.file("out.ase"), "rb") as f:
            head = f.read(200).replace(b"\r\n", b"\n")
        self.assertIn(f'*COMMENT "Creator: asehost {ARGS.version}"\n*COMMENT "Website: "\n'.encode(), head)


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
            self.expect(0, "convert", "--dialog-defaults", argument, out if not WINDOWS else out.decode(), "--quiet")
            self.assertIn(out, os.listdir(self.folder.path.encode()))
        if not WINDOWS:
            self.expect(0, "convert", "--dialog-defaults", "cube.ase", b"out\xff\xfe.ase", "--quiet")
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
            self.expect(0, "convert", "--dialog-defaults", "in.ase", "out.ase", "--quiet", *options)
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
        self.sweep("convert", "--dialog-defaults", "tree.ase", "out.ase", runs=150)


def comparable(path):
    """An ASE file's bytes without the lines that name the time or the file."""
    with open(path, "rb") as f:
        lines = f.read().replace(b"\r\n", b"\n").split(b"\n")
    return [line for line in lines if b"*COMMENT \"Time:" not in line and b"*SCENE_FILENAME" not in line]


class BatchRuns(CliTestCase):
    """convert and import --json over files and folders: outputs named and
    mirrored, clashes refused before anything runs, one line per file in
    input order, a summary, and the exit code of the worst file."""

    def make_tree(self):
        os.makedirs(self.folder.file(os.path.join("models", "sub")))
        shutil.copy(self.folder.file("cube.ase"), self.folder.file(os.path.join("models", "cube.ase")))
        shutil.copy(self.folder.file("tree.ase"), self.folder.file(os.path.join("models", "sub", "tree.ASE")))
        with open(self.folder.file(os.path.join("models", "readme.txt")), "w") as f:
            f.write("not a scene\n")

    def test_a_folder_is_mirrored_with_the_command_lines_options(self):
        self.make_tree()
        out, _ = self.expect(0, "convert", "--smoothing", "group", "--quiet", "models", "--output-dir", "out", "-j", "2")
        lines = out.decode().splitlines()
        self.assertRegex(lines[0], r"^models/cube\.ase -> out/cube\.ase: 4 objects, 1 face$")
        self.assertRegex(lines[1], r"^models/sub/tree\.ASE -> out/sub/tree\.ASE: 6 objects, 6 faces$")
        self.assertEqual(lines[2], "summary: 2 files, 10 objects, 7 faces, 0 failures")
        self.assertEqual(len(lines), 3)
        self.assertFalse(os.path.exists(self.folder.file(os.path.join("out", "readme.txt"))))
        # Each output is what a single convert with the same options writes.
        for source, target in (("cube.ase", "out/cube.ase"), ("tree.ase", "out/sub/tree.ASE")):
            self.expect(0, "convert", "--smoothing", "group", "--quiet", source, "single.ase")
            self.assertEqual(comparable(self.folder.file("single.ase")), comparable(self.folder.file(target)), target)

    def test_import_json_into_a_folder(self):
        self.expect(0, "import", "--json", "cube.ase", "tree.ase", "--output-dir", "dumps", out=r"summary: 2 files, 10 objects")
        for name in ("cube", "tree"):
            single, _ = self.expect(0, "import", "--json", name + ".ase")
            with open(self.folder.file(os.path.join("dumps", name + ".json")), "rb") as f:
                self.assertEqual(f.read().replace(b"\r\n", b"\n"), single)
        self.expect(1, "import", "cube.ase", "tree.ase", "--output-dir", "dumps", err=r"--json --output-dir")

    def test_one_failed_file_fails_only_itself(self):
        out, err = self.expect(3, "convert", "--quiet", "cube.ase", "empty.ase", "tree.ase", "--output-dir", "out")
        text = out.decode()
        self.assertIn("empty.ase: failed: No geometry found.", text)
        self.assertIn("summary: 3 files, 10 objects, 7 faces, 1 failure\n", text)
        self.assertTrue(os.path.exists(self.folder.file(os.path.join("out", "tree.ase"))))
        self.assertIn(b"No geometry found.", err)
        # A file that cannot be read is worse than a failed import.
        self.expect(1, "convert", "--quiet", "empty.ase", "missing.ase", "cube.ase", "--output-dir", "out", out=r"1 object|4 objects")

    def test_a_cancel_stops_the_run(self):
        out, _ = self.expect(2, "convert", "--cancel", "cube.ase", "tree.ase", "--output-dir", "out", "-j", "1")
        self.assertIn("cancelled, 1 not run", out.decode())
        self.assertFalse(os.path.exists(self.folder.file(os.path.join("out", "tree.ase"))))

    def test_clashes_are_refused_before_anything_runs(self):
        os.makedirs(self.folder.file("other"))
        shutil.copy(self.folder.file("cube.ase"), self.folder.file(os.path.join("other", "CUBE.ase")))
        self.expect(1, "convert", "cube.ase", os.path.join("other", "CUBE.ase"), "--output-dir", "out", err=r"would both be written")
        self.assertFalse(os.path.exists(self.folder.file("out")))
        self.expect(1, "convert", "cube.ase", "--output-dir", ".", err=r"would be an input")
        self.expect(1, "import", "--json", "cube.ase", "--output-dir", "cube.ase", err=r"is not a folder")
        # The output folder inside an input folder is not walked.
        self.expect(0, "convert", "--quiet", "cube.ase", "--output-dir", "out")
        self.expect(3, "convert", "--quiet", ".", "--output-dir", "out", out=r"summary: 4 files, 14 objects, 8 faces, 1 failure")

    def test_convert_in_out_keeps_its_meaning(self):
        out, _ = self.expect(0, "convert", "--quiet", "cube.ase", "out.ase")
        self.assertEqual(out, b"")
        self.expect(1, "convert", "cube.ase", "tree.ase", "out.ase", err=r"two files.*--output-dir")

    def test_many_files_at_once_come_out_whole_and_in_order(self):
        os.makedirs(self.folder.file("many"))
        names = [f"m{k:02}.ase" for k in range(12)]
        for name in names:
            shutil.copy(self.folder.file("tree.ase"), self.folder.file(os.path.join("many", name)))
        out, _ = self.expect(0, "convert", "--quiet", "many", "--output-dir", "out", "-j", "4")
        lines = out.decode().splitlines()
        self.assertEqual(lines[:-1], [f"many/{n} -> out/{n}: 6 objects, 6 faces" for n in names])
        self.assertEqual(lines[-1], "summary: 12 files, 72 objects, 72 faces, 0 failures")


class CheckFolders(CliTestCase):
    """check over several files and folders: a summary line per file and a
    total, notes only with --notes, one JSON document, exit by precedence."""

    def test_a_folder_by_precedence(self):
        out, err = self.expect(3, "check", ".")
        text = out.decode()
        self.assertNotIn("folder", err.decode())
        for name, verdict in (("cube", "0 errors, 0 warnings, 2 notes"), ("empty", "1 error, 0 warnings"), ("tree", "0 errors, 1 warning,")):
            self.assertRegex(text, rf"(?m)^\./{name}\.ase: {verdict}")
        self.assertRegex(text, r"(?m)^total: 3 files, 1 error, 1 warning, \d+ notes, 0 unreadable$")
        self.assertNotIn(": note: ", text)
        self.assertIn(": note: ", self.expect(3, "check", "--notes", ".", "-j", "2")[0].decode())
        self.expect(4, "check", "cube.ase", "tree.ase", out=r"total: 2 files")
        self.expect(0, "check", "cube.ase", "cube.ase", out=r"total: 2 files, 0 errors, 0 warnings")
        out, _ = self.expect(1, "check", "tree.ase", "missing.ase", "empty.ase")
        self.assertRegex(out.decode(), r"(?m)^missing\.ase: cannot be read: .*\n(.|\n)*1 unreadable")

    def test_threads_print_what_each_file_alone_prints_in_order(self):
        # Many files on several threads of one process: each file's lines
        # whole and in the order named, as a run on it alone prints them,
        # whatever folder an import moved to meanwhile.
        names = []
        for k, source in enumerate(round_trip_inputs()):
            os.makedirs(self.folder.file(f"d{k % 3}"), exist_ok=True)
            names.append(f"d{k % 3}/{k:02d}.ase")
            shutil.copy(source, self.folder.file(names[-1]))
        names.insert(len(names) // 2, "missing.ase")
        alone = b""
        for name in names:
            _, out, _ = self.folder.run("check", name)
            alone += out if name != "missing.ase" else b""
        for jobs in ("1", "4"):
            code, out, _ = self.folder.run("check", "-j", jobs, *names)
            self.assertEqual(code, 1)
            lines = out.split(b"\n")
            self.assertIn(b"missing.ase: cannot be read: cannot open \"missing.ase\"", out)
            kept = b"\n".join(l for l in lines if not l.startswith((b"missing.ase", b"total: ")))
            self.assertEqual(kept, alone)

    def test_json_documents(self):
        import json
        out, _ = self.expect(4, "check", "--json", "tree.ase")
        single = json.loads(out)
        self.assertEqual(single["count"]["warnings"], 1)
        self.assertEqual(single["count"]["listed"], len(single["findings"]))
        self.assertTrue(all(f["severity"] != "note" for f in single["findings"]))
        out, _ = self.expect(1, "check", "--json", "--notes", "missing.ase", "tree.ase", "cube.ase")
        document = json.loads(out)
        files = document["files"]
        self.assertEqual([f["file"] for f in files], ["missing.ase", "tree.ase", "cube.ase"])
        self.assertFalse(files[0]["opened"])
        self.assertTrue(any(f.get("keyword", "").startswith("*") for f in files[1]["findings"]))
        count = document["count"]
        self.assertEqual(count["unreadable"], 1)
        self.assertEqual(count["notes"], sum(f.get("notes", 0) for f in files))
        self.assertEqual(count["files"], 3)
        out, _ = self.expect(1, "check", "--json", "missing.ase")
        self.assertFalse(json.loads(out)["opened"])

    def test_windows_expands_wildcards(self):
        if not WINDOWS:
            self.skipTest("the POSIX shell expands wildcards")
        self.expect(3, "check", "*.ase", out=r"total: 3 files, 1 error, 1 warning")


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
