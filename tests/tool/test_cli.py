#!/usr/bin/env python3
"""The list, test and extract verbs of the vorpanex tool, run as a user runs them.

usage: test_cli.py VORPANEX FIXTURES_DIR
"""
import hashlib
import json
import os
import signal
import struct
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


def raw_member(name, data, crc=None, method=b"-lh0-"):
    """A stored member (or, with -lhd-, a folder entry) named by raw bytes."""
    header = bytearray(make_archive.member(name, data, crc))
    header[2:7] = method
    header[1] = sum(header[2:2 + header[0]]) & 0xFF
    return bytes(header)


def level2_member(extended, data, total=None):
    """A stored member with a level-2 header: extended headers given as type byte and
    content; total pads the header to that size with a comment header."""
    chain = b"".join(len(e + b"..").to_bytes(2, "little") + e for e in extended)
    if total is not None:
        pad = b"\x3f" + b"c" * (total - 24 - len(chain) - 2 - 3)
        chain += len(pad + b"..").to_bytes(2, "little") + pad
    chain += b"\0\0"
    head = ((24 + len(chain)).to_bytes(2, "little") + b"-lh0-" +
            struct.pack("<IIIBBHB", len(data), len(data), 1700000000, 0x20, 2,
                        make_archive.crc16(data), ord("U")))
    return head + chain + data


def fake_stub(size=1000):
    """MZ and PE headers, as pack checks them, filled up with 'S'."""
    head = b"MZ" + b"S" * 58 + (0x40).to_bytes(4, "little") + b"PE\0\0\x4c\x01"
    return head + b"S" * (size - len(head))


def zeros_member(name, size):
    """An -lh5- member of `size` zero bytes in seven packed bytes: one block of size 0
    (its codes last to the member's end) whose one symbol is a match of 256, 1 back."""
    fields = [(0, 16), (0, 5), (0, 5), (0, 9), (509, 9), (0, 4), (0, 4)]
    value = 0
    for field, bits in fields:
        value = value << bits | field
    packed = (value << 4).to_bytes(7, "big")  # 52 bits and 4 of padding
    header = bytearray(stored_member(name, packed, crc=0))
    header[2:7] = b"-lh5-"
    header[11:15] = size.to_bytes(4, "little")
    header[1] = sum(header[2:2 + header[0]]) & 0xFF
    return bytes(header)


def wait_for_sigint_handler(process):
    """Waits until the process catches SIGINT (SigCgt in /proc), as a user pressing
    Ctrl-C during the work would find it."""
    deadline = time.monotonic() + 30
    while process.poll() is None and time.monotonic() < deadline:
        with open("/proc/%d/status" % process.pid) as status:
            caught = [line.split()[1] for line in status if line.startswith("SigCgt:")]
        if caught and int(caught[0], 16) & (1 << (signal.SIGINT - 1)):
            return True
        time.sleep(0.01)
    return False


def run(*args, cwd=None, env=None, stdout=subprocess.PIPE):
    return subprocess.run([TOOL, *args], stdout=stdout, stderr=subprocess.PIPE, text=True,
                          cwd=cwd, errors="replace", env=env)


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
             "../EVIL.TXT: name not allowed"),
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

    def test_stop_signals_end_the_work_and_clean_up(self):
        # About 4 GiB to decode: the signal comes long before the end.
        archive = self.write("zeros.lzh", zeros_member("ZEROS.BIN", 0xFFFFFF00) + b"\0")
        cases = [("test", signal.SIGINT, 130), ("extract", signal.SIGINT, 130),
                 ("extract", signal.SIGTERM, 143), ("extract", signal.SIGHUP, 129),
                 ("extract", signal.SIGUSR1, 138)]
        for verb, number, status in cases:
            with self.subTest(verb=verb, signal=number):
                target = self.path("out-%d" % number)
                args = [verb, archive] + (["-C", target] if verb == "extract" else [])
                process = subprocess.Popen([TOOL, *args], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.PIPE, text=True)
                caught = wait_for_sigint_handler(process)
                process.send_signal(number)
                _, errors = process.communicate(timeout=60)
                self.assertTrue(caught, "no SIGINT handler")
                self.assertEqual(status, process.returncode, errors)
                self.assertIn("ZEROS.BIN", errors)
                if verb == "extract":
                    self.assertEqual([], os.listdir(target))

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
        for method in ("lh0", "lh5", "lh6", "lh7"):
            with self.subTest(method):
                setup = os.path.join(self.dir, method + ".exe")
                stub = self.write("stub.bin", fake_stub() + b"VPXSEAL2" + bytes(40))
                result = run("pack", "-m", method, "--stub", stub,
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

    def test_help_of_every_verb_is_complete(self):
        for verb, options in [("pack", ["--output", "--method", "--best", "--stub",
                                        "--archive-only", "--no-setup", "--codepage",
                                        "--mtime", "--jobs", "--quiet", "--verbose"]),
                              ("list", ["--format", "--codepage", "--quiet"]),
                              ("test", ["--verbose", "--quiet"]),
                              ("extract", ["--directory", "--verbose", "--quiet"])]:
            text = run(verb, "--help").stdout
            for needed in options + ["--help", "exit status", "example"]:
                self.assertIn(needed, text, verb)

    def test_version_names_the_tool_and_the_built_in_stub(self):
        result = run("--version")
        self.assertEqual(0, result.returncode)
        self.assertTrue(result.stdout.startswith("vorpanex "), result.stdout)
        self.assertEqual(result.stdout, run("-V").stdout)
        if "SHA-256" in result.stdout:  # a tool built with its stub
            self.assertRegex(result.stdout, r"file version \d+\.\d+\.\d+\.\d+")
            self.assertRegex(result.stdout, r"SHA-256: [0-9a-f]{64}\n")

    def test_options_in_gnu_style(self):
        payload = self.payload()
        stub = self.write("stub.bin", fake_stub())
        cases = [
            (["-qj2", "--stub=" + stub, "--output=" + self.path("a.exe"), payload], 0, ""),
            (["-j", "2", "-q", "--stub", stub, "-o", self.path("b.exe"), "--", payload], 0, ""),
            (["-j", "3x", "-o", self.path("c.exe"), payload], 2, "--jobs 3x"),
            (["--frobnicate", "-o", self.path("c.exe"), payload], 2, "unknown option --frobnicate"),
            (["-Z", payload], 2, "unknown option -Z"),
            (["-o"], 2, "option -o needs a value"),
        ]
        for arguments, status, message in cases:
            with self.subTest(arguments):
                result = run("pack", *arguments)
                self.assertEqual(status, result.returncode, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual("", result.stdout if status == 0 else "")
        with open(self.path("a.exe"), "rb") as a, open(self.path("b.exe"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_same_bytes_in_every_time_zone(self):
        payload = self.payload()
        digests = set()
        for zone in ("UTC", "Asia/Tokyo", "America/New_York"):
            for how in (["--mtime", "2023-11-15T07:13:20+09:00"], ["--mtime", "@1700000000"],
                        []):
                env = dict(os.environ, TZ=zone, SOURCE_DATE_EPOCH="1700000000")
                out = self.path("tz.lzh")
                result = run("pack", "--archive-only", *how, "-o", out, payload, env=env)
                self.assertEqual(0, result.returncode, result.stderr)
                with open(out, "rb") as f:
                    digests.add(hashlib.sha256(f.read()).hexdigest())
        self.assertEqual(1, len(digests))
        listing = run("list", out).stdout
        self.assertIn("2023-11-14 22:13:20", listing)  # 1700000000 in UTC
        for bad in ("2024-02-31", "2023-02-29T00:00Z", "1979-12-31", "yesterday", "12:00"):
            with self.subTest(bad):
                result = run("pack", "--archive-only", "--mtime", bad, "-o", out, payload)
                self.assertEqual(2, result.returncode, bad)

    def test_output_file_link_device_standard_output_and_failure(self):
        payload = self.payload()
        target = self.write("target.exe", b"old")
        link = self.path("link.exe")
        os.symlink("target.exe", link)
        self.assertEqual(0, run("pack", "--archive-only", "-o", link, payload).returncode)
        self.assertTrue(os.path.islink(link))
        with open(target, "rb") as f:
            packed = f.read()
        self.assertEqual(0, packed[-1])
        # A failed pack leaves OUT as it was.
        result = run("pack", "--archive-only", "-o", link, payload, self.path("missing"))
        self.assertEqual(1, result.returncode)
        with open(target, "rb") as f:
            self.assertEqual(packed, f.read())
        self.assertEqual(["link.exe", "payload", "target.exe"], sorted(os.listdir(self.dir)))
        result = run("pack", "--archive-only", "-o", "/dev/null", payload)
        self.assertEqual(1, result.returncode)
        self.assertIn("not a regular file", result.stderr)
        with open(self.path("piped.lzh"), "w") as f:
            result = run("pack", "--archive-only", "-o", "-", payload, stdout=f)
        self.assertEqual(0, result.returncode, result.stderr)
        with open(self.path("piped.lzh"), "rb") as f:
            self.assertEqual(packed, f.read())
        self.assertIn("-> -", result.stderr)  # the summary went to standard error

    def test_failed_writes_to_standard_output_exit_1(self):
        payload = self.payload()
        archive = self.path("a.lzh")
        run("pack", "--archive-only", "-o", archive, payload)
        with open("/dev/full", "w") as full:
            for arguments in (["list", archive], ["test", archive],
                              ["pack", "--archive-only", "-o", "-", payload]):
                with self.subTest(arguments[0]):
                    result = run(*arguments, stdout=full)
                    self.assertEqual(1, result.returncode)
                    self.assertIn("No space left on device", result.stderr)
        # A reader that stops early (`| head -1`): the work still ends cleanly, exit 1.
        many = self.write("many.lzh", b"".join(stored_member("f%04d.txt" % i, b"x")
                                               for i in range(3000)) + b"\0")
        target = self.path("piped-out")
        process = subprocess.Popen([TOOL, "extract", many, "-C", target],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.stdout.readline()
        process.stdout.close()
        errors = process.stderr.read().decode()
        process.stderr.close()
        self.assertEqual(1, process.wait(timeout=60), errors)
        self.assertIn("cannot write to standard output: Broken pipe", errors)
        self.assertEqual(3000, len(os.listdir(target)))

    def test_list_json_and_several_files(self):
        fixture = os.path.join(FIXTURES, "fx-lh5.lzh")
        with open(fixture, "rb") as f:
            signed = self.write("signed.lzh", f.read() + b"SIG" * 10)
        result = run("list", "--format=json", fixture, signed)
        self.assertEqual(0, result.returncode, result.stderr)
        plain, appended = json.loads(result.stdout)
        self.assertEqual(0, plain["appended_bytes"])
        self.assertEqual(30, appended["appended_bytes"])
        self.assertEqual(0, appended["archive_offset"])
        first = plain["members"][0]
        self.assertEqual({"name": "TEXT.TXT", "method": "-lh5-", "crc16": "7065",
                          "header_offset": 0},
                         {k: first[k] for k in ("name", "method", "crc16", "header_offset")})
        self.assertRegex(first["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
        second = plain["members"][1]
        # packed_size is the data: the first member's one 5-byte extended header (level
        # 1) lies between its header and its data.
        self.assertEqual(second["header_offset"],
                         first["packed_size"] + 27 + len(first["name"]) + 5)
        self.assertIn("30 bytes appended after the end marker", run("list", signed).stdout)
        both = run("test", "-q", fixture, self.write("bad.lzh", b"\0not an archive"[1:]))
        self.assertEqual(1, both.returncode)
        self.assertEqual("", both.stdout)

    def test_pack_messages(self):
        payload = self.payload()
        result = run("pack", "--archive-only", "-o", self.path("x.lzh"),
                     os.path.join(payload, "SETUP.EXE"), os.path.join(payload, "SETUP.EXE"))
        self.assertEqual(1, result.returncode)
        self.assertIn("given twice", result.stderr)
        for stub, message in ((b"MZ", "cut short"), (b"\x7fELF" + bytes(100), "no MZ header"),
                              (fake_stub(49153), "at most 49152"),
                              (fake_stub()[:64] + bytes(100), "without a PE header")):
            with self.subTest(message):
                result = run("pack", "--stub", self.write("s.bin", stub), "-o",
                             self.path("x.exe"), payload)
                self.assertEqual(1, result.returncode)
                self.assertIn(message, result.stderr)
        for icon, message in ((self.write("i\x1b[2J.ico", b"x"), "i\\x1B[2J.ico: not an icon"),
                              (self.path("n\x1b[2J.ico"), "n\\x1B[2J.ico: No such file")):
            with self.subTest(message):
                result = run("pack", "--icon", icon, "-o", self.path("x.exe"), payload)
                self.assertEqual(1, result.returncode)
                self.assertIn(message, result.stderr)
                self.assertNotIn("\x1b", result.stderr)

    def test_pack_output_modes_summary_and_itself_inside_its_input(self):
        payload = self.payload()
        os.makedirs(self.path("payload/docs"))
        self.write("payload/docs/a.txt", b"a")
        old = os.umask(0o027)
        try:
            for name, options, mode in (("bare.lzh", ["--archive-only"], 0o640),
                                        ("setup.exe", [], 0o750)):
                with self.subTest(name):
                    out = self.path(name)
                    result = run("pack", *options, "-o", out, payload)
                    self.assertEqual(0, result.returncode, result.stderr)
                    self.assertEqual(mode, os.stat(out).st_mode & 0o7777)
                    self.assertIn("3 files, 1 folder, {:,} bytes -> {}".format(
                        os.path.getsize(out), out), result.stdout)
        finally:
            os.umask(old)
        # An output inside its input folder, from an earlier run, is left out.
        inside = self.path("payload/setup-inside.exe")
        for run_number in (1, 2):
            result = run("pack", "-o", inside, payload)
            self.assertEqual(0, result.returncode, "run %d: %s" % (run_number, result.stderr))
        self.assertIn("left out: it is the output file", result.stderr)
        self.assertNotIn("setup-inside.exe", run("list", inside).stdout)
        self.assertIn("is the output file itself", run("pack", "-o", inside, inside).stderr)
        # CRC digits have one case, in the plain listing as in JSON.
        listed = run("list", inside).stdout
        crcs = json.loads(run("list", "--format=json", inside).stdout)[0]["members"]
        for member in crcs:
            self.assertIn(" %s  " % member["crc16"], listed)

    def test_members_or_none_and_what_test_requires(self):
        stub = fake_stub(49152)
        cases = [  # name, content, list status, test status, message of test
            ("empty.lzh", b"", 0, 1, "holds no members"),
            ("bare-stub.exe", stub, 0, 1, "holds no members"),
            ("zeros.lzh", bytes(1000), 1, 1, "not an LHA archive or setup"),
            ("text.lzh", b"\0not an archive", 1, 1, "not an LHA archive or setup"),
            # Whatever check a header of text fails first, it is no archive at all.
            ("hello.txt", b"hello world, this is a text file\n" * 3, 1, 1,
             "hello.txt: not an LHA archive or setup"),
            ("other.exe", stub + b"hello world, this is a text file\n" * 3, 1, 1,
             "other.exe: not an LHA archive or setup"),
            ("no-setup.exe", stub + stored_member("README.TXT", b"x") + b"\0", 0, 1,
             "without SETUP32.EXE or SETUP.EXE"),
            ("setup.exe", stub + stored_member("setup.exe", b"x") + b"\0", 0, 0, ""),
        ]
        for name, content, list_status, test_status, message in cases:
            with self.subTest(name):
                path = self.write(name, content)
                listed = run("list", path)
                self.assertEqual(list_status, listed.returncode, listed.stderr)
                tested = run("test", path)
                self.assertEqual(test_status, tested.returncode, tested.stdout)
                self.assertIn(message, tested.stderr)
                if test_status == 0:
                    continue
                extracted = run("extract", path, "-C", self.path("out-" + name))
                self.assertEqual(list_status, extracted.returncode)
                if "LHA" in message:
                    self.assertIn(message, listed.stderr)
                    self.assertIn(message, extracted.stderr)
                if list_status == 0 and "holds" in message:
                    self.assertIn("holds no members", listed.stdout)
                    self.assertIn("holds no members", extracted.stdout)
        self.assertEqual(0, run("test", "--no-setup", self.path("no-setup.exe")).returncode)
        # A file here and a folder further on (a level-0 name carries its folder):
        # extracting must fail, so test fails too.
        body = (b"-lh0-" + (1).to_bytes(4, "little") * 2 + bytes([0, 0x70, 0x88, 0x5B, 0x20, 0,
                                                               7]) + b"a/X.TXT"
                + make_archive.crc16(b"y").to_bytes(2, "little"))
        clash = self.write("clash.lzh", stored_member("A", b"x") +
                           bytes([len(body), sum(body) & 0xFF]) + body + b"y\0")
        tested = run("test", clash)
        self.assertEqual(1, tested.returncode, tested.stdout)
        self.assertIn("A: both a file and a folder", tested.stderr)

    def test_list_and_test_walk_the_same_members(self):
        payload = self.payload()
        archive = self.path("padded.lzh")
        run("pack", "-m", "lh5", "--archive-only", "--no-setup", "-o", archive,
            os.path.join(payload, "README.TXT"), os.path.join(payload, "SETUP.EXE"))
        with open(archive, "rb") as f:
            data = bytearray(f.read())
        # Eight bytes of padding after the first member's data, declared in its size.
        size = data[0]
        packed = int.from_bytes(data[7:11], "little")
        data[2 + size + packed:2 + size + packed] = bytes(8)
        data[7:11] = (packed + 8).to_bytes(4, "little")
        data[1] = sum(data[2:2 + size]) & 0xFF
        padded = self.write("padded.lzh", bytes(data))
        listed = json.loads(run("list", "--format=json", padded).stdout)[0]["members"]
        tested = run("test", padded)
        target = self.path("out")
        self.assertEqual(0, run("extract", padded, "-C", target).returncode)
        self.assertEqual(2, len(listed))
        self.assertEqual(0, tested.returncode, tested.stderr)
        self.assertEqual(2, tested.stdout.count("  ok  "))
        self.assertEqual(["README.TXT", "SETUP.EXE"], sorted(os.listdir(target)))

    def test_code_pages_on_every_verb(self):
        names = os.path.join(self.dir, "names")
        os.mkdir(names)
        self.write("names/\u8868\u793a.TXT", b"hyouji")  # 95 5C 8E A6 in code page 932
        self.write("names/SETUP.EXE", b"MZ")
        archive = self.path("932.lzh")
        self.assertEqual(0, run("pack", "--codepage=932", "--archive-only", "-o", archive,
                                names).returncode)
        plain = run("test", archive)
        self.assertEqual(1, plain.returncode)
        self.assertIn("--codepage", plain.stderr)
        self.assertEqual(0, run("test", "--codepage", "932", archive).returncode)
        listed = run("list", archive)
        self.assertIn("\\x95\\x5C\\x8E\\xA6.TXT", listed.stdout)
        self.assertIn("--codepage", listed.stderr)
        self.assertIn("\u8868\u793a.TXT", run("list", "--codepage=932", archive).stdout)
        target = self.path("out")
        result = run("extract", "--codepage=932", archive, "-C", target)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(["SETUP.EXE", "\u8868\u793a.TXT"], sorted(os.listdir(target)))

    def test_extract_replaces_a_link_and_never_writes_through_it(self):
        archive = self.write("a.lzh", stored_member("SETUP.EXE", b"new") + b"\0")
        victim = self.write("victim", b"precious")
        target = self.path("target")
        os.mkdir(target)
        os.symlink(victim, os.path.join(target, "SETUP.EXE"))
        self.assertEqual(0, run("extract", archive, "-C", target).returncode)
        with open(victim, "rb") as f:
            self.assertEqual(b"precious", f.read())
        self.assertFalse(os.path.islink(os.path.join(target, "SETUP.EXE")))
        with open(os.path.join(target, "SETUP.EXE"), "rb") as f:
            self.assertEqual(b"new", f.read())
        self.assertEqual(["SETUP.EXE"], os.listdir(target))  # no private folder left
        # A member that fails leaves no partial file; the reason names the path.
        os.mkdir(os.path.join(target, "BUSY.TXT"))
        busy = self.write("busy.lzh", stored_member("BUSY.TXT", b"x") + b"\0")
        result = run("extract", busy, "-C", target)
        self.assertEqual(1, result.returncode)
        self.assertIn("BUSY.TXT: Is a directory", result.stderr)

    def test_folder_trees_through_every_verb(self):
        tree = self.path("tree")
        for name, data in (("SETUP.EXE", b"MZ"), ("en/readme.txt", b"en"),
                           ("ja/readme.txt", b"ja"), ("ja/sub/x.txt", b"x" * 5000)):
            os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
            self.write("tree/" + name, data)
        os.makedirs(os.path.join(tree, "empty"))
        setup = self.path("tree.exe")
        result = run("pack", "--stub", self.write("stub.bin", fake_stub()), "-o", setup, tree)
        self.assertEqual(0, result.returncode, result.stderr)
        members = json.loads(run("list", "--format=json", setup).stdout)[0]["members"]
        self.assertEqual(["SETUP.EXE", "empty", "en/readme.txt", "ja/readme.txt",
                          "ja/sub/x.txt"], [m["name"] for m in members])
        self.assertTrue(members[1]["directory"])
        self.assertEqual(0, run("test", setup).returncode)
        target = self.path("out")
        self.assertEqual(0, run("extract", setup, "-C", target).returncode)
        for name in ("en/readme.txt", "ja/readme.txt", "ja/sub/x.txt"):
            with open(os.path.join(tree, name), "rb") as a, \
                    open(os.path.join(target, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        self.assertTrue(os.path.isdir(os.path.join(target, "empty")))
        # A link where the archive has a folder is refused, not followed.
        elsewhere = self.path("elsewhere")
        os.mkdir(elsewhere)
        linked = self.path("linked")
        os.mkdir(linked)
        os.symlink(elsewhere, os.path.join(linked, "ja"))
        result = run("extract", setup, "-C", linked)
        self.assertEqual(1, result.returncode)
        self.assertIn("symbolic link", result.stderr)
        self.assertEqual([], os.listdir(elsewhere))
        # SETUP.EXE in a folder is not the setup program.
        os.rename(os.path.join(tree, "SETUP.EXE"), os.path.join(tree, "en", "SETUP.EXE"))
        run("pack", "--no-setup", "--stub", self.path("stub.bin"), "-o", setup, tree)
        result = run("test", setup)
        self.assertEqual(1, result.returncode)
        self.assertIn("at the top", result.stderr)

    def test_windows_takes_these_names_for_one_file(self):
        # Code page, two names as UTF-8: pack refuses the pair, test fails a setup
        # holding it and names both.
        cases = [(932, "\u03b1.txt", "\u0391.txt"),      # Greek alpha
                 (932, "\uff41.txt", "\uff21.txt"),      # fullwidth a
                 (932, "\u0451.txt", "\u0401.txt"),      # Cyrillic io
                 (932, "\u2170.txt", "\u2160.txt"),      # small roman numeral one
                 (1252, "\u00ff.txt", "\u0178.txt"),     # y with diaeresis
                 (1252, "\u0153.txt", "\u0152.txt")]     # oe ligature
        for codepage, lower, upper in cases:
            with self.subTest(lower):
                tree = self.path("tree-%x" % ord(lower[0]))
                os.makedirs(tree)
                for name in ("SETUP.EXE", lower, upper):
                    self.write(os.path.join(tree, name), name.encode())
                result = run("pack", "--codepage=%d" % codepage, "--stub",
                             self.write("stub.bin", fake_stub()), "-o", self.path("x.exe"), tree)
                self.assertEqual(1, result.returncode, result.stderr)
                self.assertIn("only in case", result.stderr)
                encoding = "cp932" if codepage == 932 else "cp1252"
                setup = self.write("pair.exe", fake_stub(49152) + b"".join(
                    stored_member(name, b"x") if name.isascii() else
                    raw_member(name.encode(encoding), b"x") for name in
                    ("SETUP.EXE", lower, upper)) + b"\0")
                tested = run("test", "--codepage=%d" % codepage, setup)
                self.assertEqual(1, tested.returncode, tested.stderr)
                self.assertIn("%s and %s: one file on Windows" % (lower, upper), tested.stderr)
        # Not the same file: sharp s has no upper case of its own on Windows.
        setup = self.write("s.exe", fake_stub(49152) + stored_member("SETUP.EXE", b"x") +
                           raw_member(b"\xdf", b"x") + raw_member(b"SS", b"x") + b"\0")
        self.assertEqual(0, run("test", "--codepage=1252", setup).returncode)
        # Not by case: two byte pairs of code page 932 for one character.
        setup = self.write("same.exe", fake_stub(49152) + stored_member("SETUP.EXE", b"x") +
                           raw_member(b"\x87\x90", b"x") + raw_member(b"\x81\xe0", b"x") + b"\0")
        tested = run("test", "--codepage=932", setup)
        self.assertEqual(1, tested.returncode, tested.stderr)
        self.assertIn("both byte sequences make the same name", tested.stderr)
        # Empty folders that differ only in case are one folder on Windows, which the
        # stub makes once: pack and test agree that nothing is lost.
        tree = self.path("folders")
        for name in ("\u00c9", "\u00e9", "\u0153", "\u0152"):
            os.makedirs(os.path.join(tree, name))
        self.write(os.path.join(tree, "SETUP.EXE"), b"x")
        packed = run("pack", "--codepage=1252", "--stub", self.write("stub.bin", fake_stub()),
                     "-o", self.path("folders.exe"), tree)
        self.assertEqual(0, packed.returncode, packed.stderr)
        self.assertEqual(0, run("test", self.path("folders.exe")).returncode)
        bare = self.write("case.lzh", stored_member("a.txt", b"x") + stored_member("A.TXT", b"y") +
                          b"\0")
        self.assertIn("extract keeps both here; on Windows the later would replace",
                      run("test", bare).stderr)

    def test_duplicates_extract_as_the_stub_does_and_fail_a_setup(self):
        twice = stored_member("a.txt", b"first") + stored_member("a.txt", b"second")
        bare = self.write("twice.lzh", twice + b"\0")
        target = self.path("out")
        result = run("extract", bare, "-C", target)
        self.assertEqual((0, ""), (result.returncode, result.stderr))
        with open(os.path.join(target, "a.txt"), "rb") as f:
            self.assertEqual(b"second", f.read())
        self.assertEqual(["a.txt"], os.listdir(target))
        self.assertEqual(0, run("test", bare).returncode)
        setup = self.write("twice.exe", fake_stub(49152) + stored_member("SETUP.EXE", b"x") +
                           twice + b"\0")
        tested = run("test", setup)
        self.assertEqual(1, tested.returncode)
        self.assertIn("a.txt: stored twice (members 2 and 3)", tested.stderr)
        # A failed later copy leaves the earlier one, reported ok, where it is.
        damaged = self.write("damaged.lzh", stored_member("a.txt", b"first") +
                             stored_member("a.txt", b"second", crc=1) + b"\0")
        result = run("extract", damaged, "-C", self.path("out2"))
        self.assertEqual(1, result.returncode)
        self.assertIn("ok  a.txt", result.stdout)
        self.assertIn("a.txt: CRC mismatch", result.stderr)
        self.assertNotIn(".vx-", result.stderr)
        with open(os.path.join(self.path("out2"), "a.txt"), "rb") as f:
            self.assertEqual(b"first", f.read())
        self.assertEqual(["a.txt"], os.listdir(self.path("out2")))
        many = self.write("many.lzh", stored_member("d.txt", b"d") * 20000 + b"\0")
        result = run("extract", "-q", many, "-C", self.path("out3"))
        self.assertEqual((0, ""), (result.returncode, result.stderr))
        # Only Linux's own limits apply below DIR, however long its path.
        deep = os.path.join(self.dir, *["d" * 60] * 4)
        os.makedirs(deep)
        for length in (200, 255):
            long_name = self.write("long.lzh", level2_member([b"\x01" + b"n" * length], b"x") +
                                   b"\0")
            result = run("extract", long_name, "-C", deep)
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertIn("n" * length, os.listdir(deep))

    def test_setups_that_windows_cannot_run(self):
        stub = fake_stub(49152)
        setup = stored_member("SETUP.EXE", b"x")
        cases = [  # archive after the stub, message of test
            (setup + stored_member("d" * 200, b"x"), "the path is 200 bytes; at most 154 fit"),
            (raw_member(b"SETUP.EXE", b"", method=b"-lhd-") + stored_member("SETUP32.EXE", b"x"),
             "SETUP.EXE: a folder with the name of the setup program"),
        ]
        for archive, message in cases:
            with self.subTest(message):
                tested = run("test", self.write("bad.exe", stub + archive + b"\0"))
                self.assertEqual(1, tested.returncode, tested.stderr)
                self.assertIn(message, tested.stderr)
        tree = self.path("tree")
        os.makedirs(os.path.join(tree, "setup.exe"))
        self.write("tree/setup.exe/x.txt", b"x")
        self.write("tree/SETUP32.EXE", b"MZ")
        result = run("pack", "--stub", self.write("stub.bin", fake_stub()), "-o",
                     self.path("x.exe"), tree)
        self.assertEqual(1, result.returncode)
        self.assertIn('the folder "setup.exe" has the name of the setup program', result.stderr)

    def test_names_without_a_character_are_made_as_windows_makes_them(self):
        cases = [(932, b"\x85\x40.txt", "\u30fb.txt"),   # no character: katakana middle dot
                 (932, b"\xa0.txt", "\uf8f0.txt"),
                 (1252, b"\x81.txt", "\u0081.txt")]
        for codepage, stored, made in cases:
            with self.subTest(made):
                archive = self.write("n.lzh", raw_member(stored, b"x") + b"\0")
                option = "--codepage=%d" % codepage
                self.assertEqual(0, run("test", option, archive).returncode)
                target = self.path("out-%d-%d" % (codepage, stored[0]))
                result = run("extract", option, archive, "-C", target)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual([made], os.listdir(target))

    def test_the_listing_tells_what_the_archive_holds(self):
        after = stored_member("B.TXT", b"world") + b"\0"
        # A level-2 header whose size is a multiple of 256 starts with a 0 byte, as the
        # end marker does: first, or between two members.
        for total, before in ((256, b""), (512, b""), (65280, b""),
                              (768, stored_member("C.TXT", b"!"))):
            with self.subTest(total=total, first=not before):
                exact = self.write("%d.lzh" % total, before + level2_member(
                    [b"\x01A.TXT"], b"hello", total) + after)
                listed = run("list", exact)
                self.assertEqual(0, listed.returncode, listed.stderr)
                self.assertIn("A.TXT", listed.stdout)
                self.assertIn("%d files" % (3 if before else 2), listed.stdout)
                self.assertNotIn("appended", listed.stdout)
                self.assertEqual(0, run("test", exact).returncode)
        # Paths as extract reads them; name_bytes as stored; sizes of the data alone.
        os.makedirs(self.path("sjd/\u8868"))
        self.write("sjd/SETUP.EXE", b"MZ")
        self.write("sjd/\u8868/a.txt", b"x")
        packed = self.path("sj.exe")  # level 1: the folder in an extended header
        self.assertEqual(0, run("pack", "-q", "--codepage=932", "-o", packed,
                                self.path("sjd")).returncode)
        no_date = bytearray(raw_member(b"/abs.txt", b"x"))
        no_date[17:19] = b"\0\0"
        no_date[1] = sum(no_date[2:2 + no_date[0]]) & 0xFF
        cases = [  # archive, name, name_bytes, dated, stored absolute
            (packed, "\u8868/a.txt", "955cff612e747874", True, False),
            (level2_member([b"\x02\x95\x5c\xff", b"\x01a.txt"], b"x"), "\u8868/a.txt",
             "955cff612e747874", True, False),
            (bytes(no_date), "abs.txt", "2f6162732e747874", False, True),
            (level2_member([b"\x02\xffd\xff", b"\x01e"], b"x"), "d/e", "ff64ff65", True,
             True),
        ]
        for archive, name, stored, dated, absolute in cases:
            with self.subTest(name=name, stored=stored):
                path = archive if isinstance(archive, str) else self.write(
                    "paths.lzh", archive + b"\0")
                listed = json.loads(run("list", "--format=json", "--codepage=932",
                                        path).stdout)[0]["members"][-1]
                self.assertEqual((name, stored, 1, dated, absolute),
                                 (listed["name"], listed["name_bytes"], listed["packed_size"],
                                  listed["time"] is not None, listed["stored_absolute"]))
                plain = run("list", "--codepage=932", path).stdout
                self.assertRegex(plain, r"\n-lh0- +1 +1 +100.0%% \w{4}  (\S+ \S+|- +)  %s" %
                                 name)
                self.assertRegex(plain, r"\ntotal +%d " % (3 if isinstance(archive, str) else 1))
        # A path longer than any the walk can hold is not listed under a shorter name.
        long_path = self.write("long.lzh", level2_member(
            [b"\x02" + b"f" * 200 + b"\xff", b"\x01" + b"n" * 100], b"x") + after)
        listed = json.loads(run("list", "--format=json", long_path).stdout)[0]
        self.assertEqual([], listed["members"])
        self.assertIn("member 1: its path (folders and name) is longer than 259 bytes",
                      listed["error"])
        for arguments in (["test"], ["extract", "-C", self.path("out-long")]):
            result = run(*arguments, long_path)
            self.assertIn("long.lzh: member 1 (%s...): its path (folders and name) is longer "
                          "than 259 bytes" % ("f" * 60), result.stderr)
        # One JSON object per FILE, whatever it is (as the first argument; a later one is
        # a FILE only when it holds an archive); every name escaped on the terminal.
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        hostile = self.path("x\x1b[2J\udcff.lzh")
        for first, text in ((self.path("missing.lzh"), "No such file"),
                            (self.write("short.exe", b"MZ" + bytes(98)), "too short"),
                            (fifo, "a pipe"), (self.dir, "a directory"), (hostile, "No such file")):
            result = run("list", "--format=json", first, exact)
            self.assertEqual(1, result.returncode)
            objects = json.loads(result.stdout)
            self.assertEqual(2, len(objects))
            self.assertIn(text, objects[0]["error"])
            self.assertIsNone(objects[1]["error"])
        self.assertEqual("x\x1b[2J\\xFF.lzh", os.path.basename(objects[0]["file"]))
        self.assertNotIn("\x1b", result.stderr)
        self.assertIn("x\\x1B[2J\\xFF.lzh", result.stderr)
        # A pipe after the first FILE is a pattern: never opened, so nothing waits on it.
        result = run("list", exact, fifo)
        self.assertEqual(1, result.returncode)
        self.assertIn("not found", result.stderr)

    def test_seal_binds_the_archive_and_records_the_code_page(self):
        stub = self.write("sealed-stub.bin", fake_stub() + b"VPXSEAL1" + bytes(40))
        payload = self.payload()
        setup, other = self.path("setup.exe"), self.path("other.exe")
        for path, options in ((other, []), (setup, ["--codepage=932"])):
            result = run("pack", "--stub", stub, *options, "-o", path, payload)
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertEqual("", result.stderr)
            self.write("payload/\u8868\u793a.TXT", b"hyouji")  # 95 5C 8E A6 in 932
        with open(setup, "rb") as f:
            data = f.read()
        stub_json = json.loads(run("list", "--format=json", setup).stdout)[0]["stub"]
        self.assertEqual(hashlib.sha256(data[49152:]).hexdigest(), stub_json["archive_sha256"])
        self.assertEqual((len(data) - 49152, 932),
                         (stub_json["archive_length"], stub_json["codepage"]))
        # The recorded code page serves every verb that is not given one.
        listed = run("list", setup)
        self.assertIn("\u8868\u793a.TXT", listed.stdout)
        self.assertIn("names' code page   932", listed.stdout)
        self.assertEqual(0, run("test", setup).returncode)
        self.assertEqual(0, run("extract", setup, "-C", self.path("out")).returncode)
        self.assertIn("\u8868\u793a.TXT", os.listdir(self.path("out")))
        # What test must refuse: a name's byte changed (no CRC-16 covers it, so only
        # the digest tells), another setup's archive behind this stub.
        name = data.index(b"README.TXT")
        renamed = bytearray(data)
        renamed[name] = ord("r")
        renamed[name - 21] = (renamed[name - 21] + ord("r") - ord("R")) & 0xFF  # header sum
        with open(other, "rb") as f:
            swapped = data[:49152] + f.read()[49152:]
        for what, tampered in (("renamed", bytes(renamed)), ("swapped", swapped)):
            result = run("test", self.write(what + ".exe", tampered))
            self.assertEqual(1, result.returncode, what)
            self.assertIn("SHA-256 mismatch", result.stderr, what)
        # Signed after packing: bytes after the end marker are not the archive's.
        self.assertEqual(0, run("test", self.write("signed.exe", data + b"SIG" * 100)).returncode)
        # A stub without a seal record still packs, with a note; its setup has no seal.
        result = run("pack", "--stub", self.write("old.bin", fake_stub()), "--codepage=932",
                     "-o", other, payload)
        self.assertEqual(0, result.returncode)
        self.assertIn("no seal record", result.stderr)
        self.assertIsNone(json.loads(run("list", "--format=json", other).stdout)[0]["stub"])

    def test_a_stub_from_before_lh7_gets_lh6(self):
        # Mark 1 seals stubs that extract -lh5- and -lh6- only; so does no seal at all.
        payload, setup = self.payload(), self.path("setup.exe")
        for mark in (b"VPXSEAL1", b""):
            stub = self.write("old-stub.bin", fake_stub() + mark + bytes(40 if mark else 0))
            result = run("pack", "--stub", stub, "-o", setup, payload)
            self.assertEqual(0, result.returncode, result.stderr)
            self.assertIn("extracts no -lh7-: packing with -lh6-", result.stdout)
            self.assertNotIn("-lh7-", run("list", setup).stdout.split("total")[0])
            refused = run("pack", "--stub", stub, "-m", "lh7", "-o", setup, payload)
            self.assertEqual(1, refused.returncode)
            self.assertIn("-lh6- only, not -lh7-", refused.stderr)
        # An -lh7- setup whose stub is marked as older fails test; extract still reads it.
        stub = self.write("new-stub.bin", fake_stub() + b"VPXSEAL2" + bytes(40))
        self.assertEqual(0, run("pack", "--stub", stub, "-o", setup, payload).returncode)
        with open(setup, "rb") as f:
            data = f.read().replace(b"VPXSEAL2", b"VPXSEAL1", 1)
        old = self.write("old.exe", data)
        self.assertEqual(0, run("test", setup).returncode)
        tested = run("test", old)
        self.assertEqual(1, tested.returncode)
        self.assertIn("stub is from before -lh7-", tested.stderr)
        self.assertEqual(0, run("extract", old, "-C", self.path("out")).returncode)

    def test_extract_into_a_mount_point_below_dir(self):
        # A tmpfs mounted on DIR/sub in a private mount namespace, where one can be made.
        if subprocess.run(["unshare", "-rm", "true"], capture_output=True).returncode != 0:
            self.skipTest("no private mount namespace here (unshare -rm)")
        body = (b"-lh0-" + struct.pack("<IIHHBBB", 5, 5, 0x6000, 0x5000, 0x20, 0, 9) +
                b"sub/x.txt" + struct.pack("<H", make_archive.crc16(b"hello")))
        archive = self.write("sub.lzh", bytes([len(body), sum(body) & 0xFF]) + body +
                            b"hello\0")
        target = self.path("out")
        os.makedirs(os.path.join(target, "sub"))
        script = 'mount -t tmpfs none "$1/sub" && "$2" extract "$3" -C "$1" && cat "$1/sub/x.txt"'
        result = subprocess.run(["unshare", "-rm", "sh", "-c", script, "sh", target, TOOL,
                                 archive], capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertTrue(result.stdout.endswith("hello"), result.stdout)

    def path(self, name):
        return os.path.join(self.dir, name)

    def payload(self):
        payload = self.path("payload")
        os.makedirs(payload, exist_ok=True)
        self.write("payload/SETUP.EXE", b"MZ setup" * 100)
        self.write("payload/README.TXT", b"read me\r\n" * 50)
        return payload


if __name__ == "__main__":
    TOOL, FIXTURES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=1)
