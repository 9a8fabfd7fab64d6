#!/usr/bin/env python3
"""The list, test and extract verbs of the vorpanex tool, run as a user runs them.

usage: test_cli.py VORPANEX FIXTURES_DIR
"""
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import make_archive  # noqa: E402  (the stored-archive writer of the stub's tests)

TOOL = ""
FIXTURES = ""


def stored_member(name, data, crc=None):
    return make_archive.member(name.encode("latin-1"), data, crc)


def fake_stub(size=1000):
    """MZ and PE headers, as pack checks them, filled up with 'S'."""
    head = b"MZ" + b"S" * 58 + (0x40).to_bytes(4, "little") + b"PE\0\0\x4c\x01"
    return head + b"S" * (size - len(head))


def run(*args, cwd=None):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, cwd=cwd,
                          errors="replace")


class ToolVerbs(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.dir = self.temp.name

    def tearDown(self):
        self.temp.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_list_shows_every_member_and_a_total(self):
        result = run("list", os.path.join(FIXTURES, "fx-lh5.lzh"))
        self.assertEqual(0, result.returncode, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(1 + 7 + 1, len(lines))
        self.assertIn("-lh5-", lines[1])
        self.assertIn("TEXT.TXT", lines[1])
        self.assertIn("7065", lines[1])
        self.assertTrue(lines[-1].startswith("total"))
        self.assertIn("261017", lines[-1])
        self.assertIn("7 files", lines[-1])

    def test_test_names_the_failing_member_and_the_cause(self):
        good = stored_member("GOOD.TXT", b"good")
        cases = [
            ("crc", good + stored_member("BAD.TXT", b"data", crc=1) + b"\0",
             "BAD.TXT: CRC mismatch"),
            ("name", good + stored_member("..\\EVIL.TXT", b"x") + b"\0",
             "..\\EVIL.TXT: name not allowed"),
            ("stored cut", good + stored_member("CUT.BIN", b"x" * 100)[:-10],
             "CUT.BIN: truncated"),
            ("header sum", good + bytes([30, 0]) + b"\1" * 30, "header of member 2"),
        ]
        for what, archive, message in cases:
            with self.subTest(what):
                result = run("test", self.write(what + ".lzh", archive))
                self.assertEqual(1, result.returncode, result.stdout)
                self.assertIn(message, result.stderr)
                self.assertIn("ok  GOOD.TXT", result.stdout)

    def test_compressed_member_cut_short_says_truncated(self):
        with open(os.path.join(FIXTURES, "fx-lh6.lzh"), "rb") as f:
            archive = f.read()
        # TEXT.TXT is the first member: cut inside its packed data.
        result = run("test", self.write("cut.lzh", archive[:5000]))
        self.assertEqual(1, result.returncode)
        self.assertIn("TEXT.TXT: truncated", result.stderr)

    def test_pack_extract_round_trip_keeps_bytes_and_times(self):
        source = os.path.join(self.dir, "source")
        os.mkdir(source)
        contents = {"SETUP.EXE": b"MZ" + bytes(range(256)) * 300, "EMPTY.TXT": b"",
                    "README.TXT": b"read me\r\n" * 1000}
        mtime = time.mktime((2024, 3, 9, 17, 45, 30, 0, 0, -1))
        for name, data in contents.items():
            path = os.path.join(source, name)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (mtime, mtime))
        for method in ("lh0", "lh5", "lh6"):
            with self.subTest(method):
                setup = os.path.join(self.dir, method + ".exe")
                result = run("pack", "-m", method, "--stub", self.write("stub.bin", fake_stub()),
                             "-o", setup, source)
                self.assertEqual(0, result.returncode, result.stderr)
                # A signature appended after the end marker is ignored.
                with open(setup, "ab") as f:
                    f.write(b"\x30\x82signature" * 50)
                self.assertEqual(0, run("test", setup).returncode)
                target = os.path.join(self.dir, "out-" + method)
                result = run("extract", setup, "-C", target)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(sorted(contents), sorted(os.listdir(target)))
                for name, data in contents.items():
                    path = os.path.join(target, name)
                    with open(path, "rb") as f:
                        self.assertEqual(data, f.read(), name)
                    self.assertEqual(int(mtime), int(os.stat(path).st_mtime), name)

    def test_extract_writes_nothing_outside_its_directory(self):
        archive = (stored_member("OK.TXT", b"ok") + stored_member("../ESCAPE.TXT", b"x")
                   + b"\0")
        target = os.path.join(self.dir, "target")
        result = run("extract", self.write("evil.lzh", archive), "-C", target)
        self.assertEqual(1, result.returncode)
        self.assertIn("../ESCAPE.TXT: name not allowed", result.stderr)
        self.assertEqual(["OK.TXT"], os.listdir(target))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "ESCAPE.TXT")))

    def test_usage_errors_and_help(self):
        for verb in ("list", "test", "extract", "pack"):
            with self.subTest(verb):
                result = run(verb, "--help")
                self.assertEqual(0, result.returncode)
                self.assertIn("usage: vorpanex " + verb, result.stdout)
        self.assertEqual(2, run().returncode)
        self.assertEqual(2, run("frobnicate").returncode)
        self.assertEqual(2, run("list").returncode)
        self.assertEqual(2, run("test", "--bogus", "x").returncode)
        missing = run("list", os.path.join(self.dir, "missing.lzh"))
        self.assertEqual(1, missing.returncode)
        self.assertIn("missing.lzh", missing.stderr)
        short = run("test", self.write("short.exe", b"MZ" + bytes(100)))
        self.assertEqual(1, short.returncode)
        self.assertIn("too short", short.stderr)


if __name__ == "__main__":
    TOOL, FIXTURES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=1)
