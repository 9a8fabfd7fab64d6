#!/usr/bin/env python3
"""vorpanex.exe under Wine, as a release engineer on Windows runs it: a folder with
names outside ASCII packs to the very bytes that the Linux tool makes of it, and the
setup lists, tests and extracts.

usage: test_windows_tool.py LINUX_VORPANEX VORPANEX_EXE WINE_RUN
"""
import os
import subprocess
import sys
import tempfile
import unittest

LINUX = ""
WINDOWS = ""
WINE_RUN = ""

# A user folder with a Polish name, holding a payload with a Japanese folder (code page
# 932 holds its names; it has no Ł, so that one stays on the path outside the setup).
USER = "Łukasz"
FILES = {
    "SETUP.EXE": b"MZ" + bytes(range(256)) * 300,
    "readme.txt": b"line of text for the compressor\r\n" * 2000,
    "日本語/テスト.txt": "こんにちは、世界\r\n".encode("utf-8") * 50,
    "日本語/空/.keep": b"",
}
MTIME = "2024-05-06T07:08:09Z"


def run(command, cwd, ok=True, tz="UTC"):
    env = dict(os.environ, TZ=tz, VORPANEX_WINE_ARCH="win64")
    result = subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=600)
    if ok and result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (
            command, result.returncode, result.stdout.decode("utf-8", "replace"),
            result.stderr.decode("utf-8", "replace")))
    return result


def wine(arguments, cwd, ok=True, tz="UTC"):
    return run([WINE_RUN, WINDOWS] + arguments, cwd, ok, tz)


class WindowsTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="vorpanex-win64-")
        cls.root = cls.scratch.name
        for name, data in FILES.items():
            path = os.path.join(cls.root, USER, "payload", *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)
        run([LINUX, "pack", "-q", "--codepage", "932", "--mtime", MTIME, "-o", "linux.exe",
             os.path.join(USER, "payload")], cls.root)
        # Backslashes as a Windows user types them, and the path given with a trailing one.
        wine(["pack", "-q", "--codepage", "932", "--mtime", MTIME, "-o",
              USER + "\\setup.exe", USER + "\\payload\\"], cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def read(self, *parts):
        with open(os.path.join(self.root, *parts), "rb") as source:
            return source.read()

    def test_pack_gives_the_linux_tools_bytes(self):
        self.assertEqual(self.read("linux.exe"), self.read(USER, "setup.exe"))
        self.assertEqual([], [n for n in os.listdir(os.path.join(self.root, USER))
                              if n not in ("payload", "setup.exe", "out")])

    def test_list_shows_the_names_in_utf8(self):
        listing = wine(["list", "--codepage", "932", USER + "/setup.exe"], self.root)
        text = listing.stdout.decode("utf-8")
        for name in FILES:
            self.assertIn(name, text)

    def test_test_and_extract_give_back_every_file(self):
        tested = wine(["test", USER + "\\setup.exe"], self.root)
        self.assertIn(b"all OK", tested.stdout + tested.stderr)
        wine(["extract", "--codepage", "932", "-C", USER + "\\out", USER + "\\setup.exe"],
             self.root)
        for name, data in FILES.items():
            self.assertEqual(data, self.read(USER, "out", *name.split("/")), name)
        leftovers = [n for _, folders, files in os.walk(os.path.join(self.root, USER, "out"))
                     for n in folders + files if n.startswith(".vx-")]
        self.assertEqual([], leftovers)

    def test_a_tz_in_iana_form_gives_the_linux_tools_times(self):
        # As MSYS2 and Cygwin shells set it; the C runtime reads only the POSIX form.
        folder = os.path.join(self.root, "zone")
        os.makedirs(folder, exist_ok=True)
        program = os.path.join(folder, "SETUP.EXE")
        with open(program, "wb") as out:
            out.write(b"MZ" + bytes(100))
        os.utime(program, (1720000000, 1720000000))  # July: summer time in the US
        run([LINUX, "pack", "-q", "-o", "zone-linux.exe", "zone"], self.root, tz="Asia/Tokyo")
        wine(["pack", "-q", "-o", "zone-windows.exe", "zone"], self.root, tz="Asia/Tokyo")
        self.assertEqual(self.read("zone-linux.exe"), self.read("zone-windows.exe"))

    def test_a_failed_pack_leaves_no_file(self):
        failed = wine(["pack", "-o", USER + "\\bad.exe", USER + "\\missing"], self.root, ok=False)
        self.assertEqual(1, failed.returncode)
        self.assertIn("missing", failed.stderr.decode("utf-8"))
        self.assertEqual([], [n for n in os.listdir(os.path.join(self.root, USER))
                              if n.startswith("bad.exe")])


if __name__ == "__main__":
    LINUX, WINDOWS, WINE_RUN = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
