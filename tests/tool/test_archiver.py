#!/usr/bin/env python3
"""What the tool does with archives that other programs wrote, by verb: -lh7-, Unix
permissions and times, and the same archives read by lhasa and 7-Zip.

usage: test_archiver.py VORPANEX FIXTURES_DIR
"""
import json
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import make_archive  # noqa: E402

TOOL = ""
FIXTURES = ""


def run(*args, cwd=None):
    return subprocess.run([TOOL, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          cwd=cwd, text=True, errors="replace")


def reaching_member(name, data, back):
    """An -lh5- member of one block holding one match: its len(data) bytes are copied
    from `back` bytes (65 to 128) before the member's first byte, that is from what the
    members before it left in the window; data gives its size and CRC-16."""
    fields = [(1, 16), (0, 5), (0, 5), (0, 9), (256 + len(data) - 3, 9), (0, 4), (7, 4),
              (back - 65, 6)]  # one symbol; lone codes: the match, distance code 7
    value = 0
    for field, bits in fields:
        value = value << bits | field
    header = bytearray(make_archive.member(name, (value << 6).to_bytes(8, "big"),
                                           make_archive.crc16(data)))
    header[2:7] = b"-lh5-"
    header[11:15] = len(data).to_bytes(4, "little")
    header[1] = sum(header[2:2 + header[0]]) & 0xFF
    return bytes(header)


def unix_member(name, data, mode=None, unix_time=None, level=1, method=b"-lh0-"):
    """A stored member as a Unix archiver writes it: level 1 with extended headers 0x50
    (permission bits) and 0x54 (time), or level 0 with the 'U' extension after the
    CRC-16 (version 0, time, permission bits, user and group 0)."""
    crc = make_archive.crc16(data)
    head = method + struct.pack("<IIHHBBB", len(data), len(data), make_archive.DOS_TIME,
                                make_archive.DOS_DATE, 0x20, level, len(name)) + name
    if level == 0:
        body = head + struct.pack("<H", crc)
        if unix_time is not None:
            body += b"U\0" + struct.pack("<IHHH", unix_time, mode or 0, 0, 0)
        return bytes([len(body), sum(body) & 0xFF]) + body + data
    extended = []
    if mode is not None:
        extended.append(b"\x50" + struct.pack("<H", mode))
    if unix_time is not None:
        extended.append(b"\x54" + struct.pack("<I", unix_time))
    chain = b""
    for i, header in enumerate(extended):
        following = len(extended[i + 1]) + 2 if i + 1 < len(extended) else 0
        chain += header + struct.pack("<H", following)
    body = head + struct.pack("<HBH", crc, ord("U"), len(extended[0]) + 2 if extended else 0)
    # The packed size counts the extended headers.
    body = body[:5] + struct.pack("<I", len(data) + len(chain)) + body[9:]
    return bytes([len(body), sum(body) & 0xFF]) + body + chain + data


class Verbs(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.dir = self.temp.name

    def tearDown(self):
        self.temp.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)


class Lh7(Verbs):
    def test_list_test_and_extract_read_it_bare_and_behind_a_stub(self):
        archive = os.path.join(FIXTURES, "jlha-lh7.lzh")
        listing = run("list", archive)
        self.assertEqual(0, listing.returncode, listing.stderr)
        self.assertIn("-lh7-", listing.stdout)
        self.assertEqual(0, run("test", archive).returncode)
        out = self.path("out")
        result = run("extract", archive, "-C", out)
        self.assertEqual(0, result.returncode, result.stderr)
        with open(os.path.join(FIXTURES, "MANIFEST.txt")) as manifest:
            for line in manifest:
                if line.startswith("#") or not line.strip():
                    continue
                name, size = line.split()[:2]
                self.assertEqual(int(size), os.path.getsize(os.path.join(out, name)), name)
        # Behind a stub whose seal says it extracts -lh7- too.
        with open(archive, "rb") as f:
            body = f.read()
        stub = b"MZ" + b"VPXSEAL2" + bytes(40)
        setup = self.write("setup.exe", stub + bytes(49152 - len(stub)) + body)
        result = run("test", "--no-setup", setup)
        self.assertEqual(0, result.returncode, result.stderr)


class Selection(Verbs):
    def test_names_and_patterns_after_the_files_choose_members_on_every_verb(self):
        members = [(b"SETUP.EXE", b"s"), (b"docs\\a.txt", b"a"), (b"docs\\b.bin", b"b"),
                   (b"README.TXT", b"r")]
        first = self.write("one.lzh", b"".join(unix_member(n, d, level=0) for n, d in members)
                           + b"\0")
        second = self.write("two.lzh", unix_member(b"docs\\c.txt", b"c", level=0) + b"\0")
        out = self.path("out")
        result = run("extract", first, second, "docs", "README.TXT", "-C", out)
        self.assertEqual(1, result.returncode)  # README.TXT is not in two.lzh
        self.assertIn("two.lzh: README.TXT: not found", result.stderr)
        self.assertEqual(["README.TXT", "docs/a.txt", "docs/b.bin", "docs/c.txt"],
                         sorted(tree(out)))
        result = run("test", first, "docs/*.txt")
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertIn("1 member", result.stdout)
        listed = run("list", first, "*.TXT", "nothing*")
        self.assertEqual(1, listed.returncode)
        self.assertIn("README.TXT", listed.stdout)
        self.assertNotIn("SETUP.EXE", listed.stdout)
        self.assertIn("nothing*: not found", listed.stderr)

    def test_what_a_later_argument_is_and_which_names_choose(self):
        members = [(b"SETUP.EXE", b"s"), (b"sub\\[x].txt", b"x"), (b"sub\\y.txt", b"y"),
                   (b"\x93\xfa\x96\x7b\\\x83\x65.txt", b"j")]  # 日本\テ.txt in Shift_JIS
        archive = self.write("a.lzh", b"".join(unix_member(n, d, level=0) for n, d in members)
                             + b"\0")
        with open(archive, "rb") as f:
            setup = self.write("s.exe", b"MZ" + bytes(49150) + f.read())
        # Payload files that are no archive: a small program, a big one without an
        # archive where a setup's starts, a file that only starts like a header.
        self.write("SETUP.EXE", b"MZ" + bytes(100))
        self.write("sub", b"MZ" + bytes(60000))  # 'sub' then names the folder
        self.write("y.txt", b"xx-lh0-" + bytes(30))
        cases = [  # arguments after the archive, status, in stdout, in stderr
            (["SETUP.EXE"], 0, "SETUP.EXE", ""),
            (["sub"], 0, "y.txt", ""),
            (["sub/[x].txt"], 0, "[x].txt", ""),
            (["sub/"], 0, "[x].txt", ""),
            (["SETUP.EXE/"], 1, "", "SETUP.EXE/: not found"),
            (["日本/*"], 0, "テ.txt", ""),
            (["y.txt"], 1, "", "y.txt: not found in the archive (the file of that name"),
            (["nomatch*"], 1, "", "nomatch*: not found"),
            ([""], 2, "", "an empty member name or pattern"),
            ([setup], 0, "s.exe", ""),  # a setup is another FILE
        ]
        for arguments, status, out, err in cases:
            with self.subTest(arguments=arguments):
                listed = run("list", "--codepage", "932", archive, *arguments, cwd=self.dir)
                self.assertEqual(status, listed.returncode, listed.stderr)
                self.assertIn(out, listed.stdout)
                self.assertIn(err, listed.stderr)
                self.assertNotIn("empty archive", listed.stdout)
        # A setup is judged whole whatever is chosen: here it has no SETUP.EXE.
        bare = self.write("bare.exe", b"MZ" + bytes(49150) + unix_member(b"a.txt", b"a")
                          + b"\0")
        tested = run("test", bare, "*")
        self.assertEqual(1, tested.returncode, tested.stdout)
        self.assertIn("without SETUP32.EXE or SETUP.EXE", tested.stderr)

    def test_a_chosen_member_gets_what_the_members_before_left(self):
        # One window serves every member, in the stub too: a match reaching before its
        # member's start copies what earlier members left. Chosen alone, the member
        # must come out as in the whole walk, not from a window the walk never filled.
        first = bytes((i * 7 + i // 251) & 0xFF for i in range(40000))
        reached = first[32768 - 65:32768 - 55]
        archive = self.write("w.lzh", unix_member(b"a.bin", first, level=0) +
                             reaching_member(b"b.bin", reached, 65) + b"\0")
        for chosen, out in (([], first + reached), (["b.bin"], reached)):
            with self.subTest(chosen=chosen):
                piped = subprocess.run([TOOL, "extract", "-p", archive, *chosen],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual((0, out), (piped.returncode, piped.stdout), piped.stderr)


class ExtractOptions(Verbs):
    def test_to_stdout_and_what_becomes_of_existing_files(self):
        archive = self.write("a.lzh", b"".join([
            unix_member(b"docs", b"", method=b"-lhd-"),
            unix_member(b"docs\\a.txt", b"alpha", level=0),
            unix_member(b"b.txt", b"beta"),
        ]) + b"\0")
        piped = subprocess.run([TOOL, "extract", "-p", archive, "docs", "b.txt"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir)
        self.assertEqual((0, b"alphabeta", b""), (piped.returncode, piped.stdout, piped.stderr))
        self.assertEqual(["a.lzh"], os.listdir(self.dir))  # no file, no folder
        out = self.path("out")
        os.makedirs(os.path.join(out, "docs"))
        for name, data in (("docs/a.txt", b"old"), ("b.txt", b"old")):
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(out, "b.txt"), 0o444)
        kept = run("extract", "-k", archive, "-C", out)
        self.assertEqual(1, kept.returncode)
        self.assertIn("b.txt: %s/b.txt exists; left as it is (--keep-old-files)" % out,
                      kept.stderr)
        self.assertIn("2 members failed", kept.stderr)
        skipped = run("extract", "--skip-old-files", archive, "docs/a.txt", "-C", out)
        self.assertEqual(0, skipped.returncode, skipped.stderr)
        self.assertEqual("", skipped.stderr)
        self.assertEqual({"docs/a.txt": b"old", "b.txt": b"old"}, tree(out))
        replaced = run("extract", archive, "-C", out)  # the default, read-only files too
        self.assertEqual(0, replaced.returncode, replaced.stderr)
        self.assertEqual({"docs/a.txt": b"alpha", "b.txt": b"beta"}, tree(out))

    def test_names_windows_refuses_links_and_folders_in_the_way(self):
        archive = self.write("a.lzh", b"".join([
            unix_member(b"q?.txt", b"q", level=0), unix_member(b"docs\\a.txt", b"a", level=0),
            unix_member(b"b.txt", b"b")]) + b"\0")
        piped = subprocess.run([TOOL, "extract", "-p", archive, "q?.txt"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((0, b"q"), (piped.returncode, piped.stdout), piped.stderr)
        # A folder where a member's file goes: named with the archive, counted, walked past.
        out = self.path("k1")
        os.makedirs(os.path.join(out, "b.txt"))
        placed = run("extract", archive, "docs", "b.txt", "-C", out, cwd=self.dir)
        self.assertEqual(1, placed.returncode)
        self.assertIn("a.lzh: b.txt: %s/b.txt: Is a directory" % out, placed.stderr)
        self.assertIn("1 member failed; 1 extracted", placed.stderr)
        # -k and --skip-old-files do not look through a link that plain extract refuses.
        outside = self.path("outside")
        os.makedirs(outside)
        self.write("outside/a.txt", b"secret")
        out = self.path("k2")
        os.makedirs(out)
        os.symlink("../outside", os.path.join(out, "docs"))
        for option in ("-k", "--skip-old-files"):
            with self.subTest(option=option):
                result = run("extract", option, archive, "docs", "-C", out, cwd=self.dir)
                self.assertEqual(1, result.returncode, result.stdout)
                self.assertIn("symbolic link", result.stderr)


class KeepGoing(Verbs):
    def test_failed_members_are_named_and_the_rest_extracted_until_a_bad_header(self):
        good = [unix_member(b"%d.txt" % i, b"good %d" % i) for i in range(4)]
        bad_crc = bytearray(unix_member(b"crc.txt", b"x" * 100))
        bad_crc[-1] ^= 1
        bad_header = bytearray(unix_member(b"never.txt", b"n"))
        bad_header[1] ^= 1  # header sum
        members = [good[0], bytes(bad_crc), unix_member(b"m.txt", b"m", method=b"-lh1-"),
                   unix_member(b"CON", b"c", level=0), good[1],
                   unix_member(b"a\\..\\..\\up.txt", b"u", level=0), good[2],
                   bytes(bad_header), good[3]]
        archive = self.write("a.lzh", b"".join(members) + b"\0")
        out = self.path("out")
        for verb in ("extract", "test"):
            with self.subTest(verb=verb):
                result = run(verb, archive, *(["-C", out] if verb == "extract" else []))
                self.assertEqual(1, result.returncode)
                lines = result.stderr.splitlines()
                self.assertEqual(5, len(lines), result.stderr)
                for line, name in zip(lines, ("crc.txt", "m.txt", "CON", "up.txt",
                                              "header of member 8")):
                    self.assertIn(name, line)
                self.assertIn("CRC", lines[0])
                self.assertIn("-lh1-", lines[1])
        # No partial file for a failed member, nothing after the bad header.
        self.assertEqual({"0.txt": b"good 0", "1.txt": b"good 1", "2.txt": b"good 2"},
                         tree(out))


class ListVerbose(Verbs):
    def test_level_os_id_attributes_and_permissions_in_plain_and_json(self):
        archive = self.write("v.lzh", b"".join([
            unix_member(b"run.sh", b"x", mode=0o104755),
            unix_member(b"old.txt", b"o", mode=0o100640, unix_time=0, level=0),
            unix_member(b"plain.dos", b"p", level=0),
        ]) + b"\0")
        listed = run("list", "-v", archive)
        self.assertEqual(0, listed.returncode, listed.stderr)
        rows = [" ".join(line.split()[7:]) for line in listed.stdout.splitlines()[1:4]]
        self.assertEqual(["1 U Unix 20 -rwsr-xr-x run.sh", "0 U Unix 20 -rw-r----- old.txt",
                          "0 - 20 - plain.dos"], rows)
        members = json.loads(run("list", "--format=json", archive).stdout)[0]["members"]
        self.assertEqual([(1, "U", 32, "4755"), (0, "U", 32, "0640"), (0, None, 32, None)],
                         [(m["header_level"], m["os_id"], m["attributes"], m["permissions"])
                          for m in members])


class ExtractUnix(Verbs):
    def test_permission_bits_within_the_umask_never_setuid_and_times(self):
        when = 1600000000  # 2020-09-13 12:26:40 UTC
        archive = self.write("unix.lzh", b"".join([
            unix_member(b"run.sh", b"#!/bin/sh\n", mode=0o104755, unix_time=when),
            unix_member(b"secret", b"k", mode=0o100600, unix_time=when),
            unix_member(b"shared", b"w", mode=0o102777),
            unix_member(b"zero.txt", b"0", mode=0o100640, unix_time=when + 60, level=0),
            unix_member(b"plain", b"p"),
            unix_member(b"docs", b"", mode=0o40750, unix_time=when - 3600, method=b"-lhd-"),
            unix_member(b"docs\\a.txt", b"a", level=0),
        ]) + b"\0")
        old = os.umask(0o022)
        try:
            result = run("extract", archive, "-C", self.path("out"))
        finally:
            os.umask(old)
        self.assertEqual(0, result.returncode, result.stderr)

        def mode(name):
            return stat.S_IMODE(os.stat(self.path("out", name)).st_mode)

        def mtime(name):
            return int(os.stat(self.path("out", name)).st_mtime)

        self.assertEqual(0o755, mode("run.sh"))   # no set-user-ID
        self.assertEqual(0o600, mode("secret"))
        self.assertEqual(0o755, mode("shared"))   # umask 022, no set-group-ID or sticky
        self.assertEqual(0o640, mode("zero.txt"))  # the level-0 Unix extension
        self.assertEqual(0o644, mode("plain"))    # no bits stored: as before
        self.assertEqual(0o750, mode("docs"))
        self.assertEqual(when, mtime("run.sh"))
        self.assertEqual(when + 60, mtime("zero.txt"))  # the extension's time, not DOS
        # The folder's time is set after its member was written into it.
        self.assertEqual(when - 3600, mtime("docs"))


class OtherArchivers(Verbs):
    def test_absolute_backslash_and_dot_paths_in_a_bare_archive_and_in_a_setup(self):
        members = b"".join([
            unix_member(b"/abs/a.txt", b"a", level=0),
            unix_member(b"\xffroot.txt", b"r", level=0),
            unix_member(b"dir\\b.txt", b"b", level=1),
            unix_member(b"./c.txt", b"c", level=0),
        ]) + b"\0"
        archive = self.write("other.lzh", members)
        listing = run("list", archive)
        self.assertEqual(0, listing.returncode, listing.stderr)
        lines = listing.stdout.splitlines()
        self.assertIn("abs/a.txt  (stored absolute", [l for l in lines if "a.txt" in l][0])
        self.assertIn("dir/b.txt", listing.stdout)
        out = self.path("out")
        result = run("extract", archive, "-C", out)
        self.assertEqual(0, result.returncode, result.stderr)
        found = sorted(os.path.relpath(os.path.join(top, name), out)
                       for top, _, names in os.walk(out) for name in names)
        self.assertEqual(["abs/a.txt", "c.txt", "dir/b.txt", "root.txt"], found)
        # Behind a stub the stub's rules hold.
        setup = self.write("setup.exe", b"MZ" + bytes(49150) + members)
        result = run("test", "--no-setup", setup)
        self.assertEqual(1, result.returncode)
        self.assertIn("absolute path", result.stderr)


def level2_member(name, data, os_id, size_short_by=0):
    """A stored level-2 member (header CRC and name extended headers) whose size field
    may be short, as OS-9/68K archivers write it; the header CRC covers the whole."""
    chain = b"\x00\0\0" + struct.pack("<H", 3 + len(name)) + b"\x01" + name + b"\0\0"
    header = bytearray(struct.pack("<H", 26 + len(chain) - size_short_by) + b"-lh0-" +
                       struct.pack("<IIIBBHcH", len(data), len(data), 1600000000, 0x20, 2,
                                   make_archive.crc16(data), os_id, 5) + chain)
    header[27:29] = struct.pack("<H", make_archive.crc16(bytes(header)))
    return bytes(header) + data


class Refusals(Verbs):
    def test_short_level2_sizes_and_the_causes_of_what_stays_refused(self):
        members = level2_member(b"a.txt", b"first\n", b"K", 2) + \
            level2_member(b"b.txt", b"second\n", b"K", 2) + b"\0"
        archive = self.write("k.lzh", members)
        out = self.path("out")
        result = run("extract", archive, "-C", out)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual({"a.txt": b"first\n", "b.txt": b"second\n"}, tree(out))
        for peer, command in (("lhasa", ["lhasa", "xq", archive]),
                              ("7z", ["7z", "x", "-y", "-o.", archive])):
            if shutil.which(peer) is None:
                continue
            theirs = self.path(peer)
            os.makedirs(theirs)
            subprocess.run(command, cwd=theirs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(tree(out), tree(theirs), peer)
        # Other systems' short sizes (lhasa reads none of them), and behind a stub.
        other = self.write("9.lzh", level2_member(b"a.txt", b"x", b"9", 2) + b"\0")
        self.assertIn("malformed", run("test", other).stderr)
        setup = self.write("setup.exe", b"MZ" + bytes(49150) + members)
        self.assertIn("malformed", run("test", "--no-setup", setup).stderr)
        odd = self.write("odd.lzh", b"".join([
            unix_member(b"link|target.txt", b"", mode=0o120777, method=b"-lhd-"),
            unix_member(b"", b"e", level=0), unix_member(b"ok.txt", b"k")]) + b"\0")
        result = run("extract", odd, "-C", self.path("odd"))
        self.assertEqual(1, result.returncode)
        self.assertIn("symlink link -> target.txt not supported", result.stderr)
        self.assertIn("odd.lzh: member 2: empty name", result.stderr)
        # Another self-extractor: its archive right after its program, not at 49152.
        front = b"MZ" + bytes(4094) + unix_member(b"a.txt", b"a") + b"\0"
        for verb, after in (("list", bytes(50000)), ("test", b"U" * 50000),
                            ("extract", bytes(49152 - len(front)) + b"\x1f-lh5-" + bytes(40))):
            sfx = self.write("other.exe", front + after)
            result = run(verb, sfx, *(["-C", self.path("sfx")] if verb == "extract" else []))
            self.assertEqual(1, result.returncode)
            self.assertIn("other self-extractor format: its LHA archive starts at offset 4096",
                          result.stderr, verb)


def tree(top):
    """Every file below top with its bytes, by its path relative to top."""
    files = {}
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, top)] = f.read()
    return files


class Interop(Verbs):
    """Archives made by Debian's jlha, read by vorpanex, lhasa and 7-Zip (black boxes)."""

    def test_jlha_levels_and_methods_extract_as_lhasa_and_7zip_extract_them(self):
        if shutil.which("jlha") is None:
            self.skipTest("jlha is not installed")
        peers = [tool for tool in ("lhasa", "7z") if shutil.which(tool)]
        if not peers:
            self.skipTest("neither lhasa nor 7z is installed")
        source = self.path("src")
        os.makedirs(os.path.join(source, "sub", "deeper"))
        os.makedirs(os.path.join(source, "empty"))
        text = "".join("line %d of a text that repeats itself\n" % (i % 500)
                       for i in range(4000)).encode()
        for name, data in (("a.txt", text), ("sub/r.bin", os.urandom(70000)),
                           ("sub/deeper/far.bin", os.urandom(40000) * 2),
                           ("z.txt", b"")):
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        for level in "012":
            for method in "567":
                with self.subTest(level=level, method=method):
                    archive = self.path("j%s%s.lzh" % (level, method))
                    made = subprocess.run(["jlha", "c%sqo%s" % (level, method), archive,
                                           "a.txt", "sub", "empty", "z.txt"], cwd=source,
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.assertEqual(0, made.returncode, made.stderr)
                    ours = self.path("ours%s%s" % (level, method))
                    result = run("extract", "-q", archive, "-C", ours)
                    self.assertEqual(0, result.returncode, result.stderr)
                    self.assertEqual(0, run("test", "-q", archive).returncode)
                    expected = tree(ours)
                    self.assertEqual(tree(source), expected)
                    compared = 0
                    for peer in peers:
                        theirs = self.path("%s%s%s" % (peer, level, method))
                        os.makedirs(theirs)
                        command = (["lhasa", "xq", archive] if peer == "lhasa"
                                   else ["7z", "x", "-y", "-o" + theirs, archive])
                        done = subprocess.run(command, cwd=theirs, stdout=subprocess.PIPE,
                                              stderr=subprocess.PIPE)
                        if done.returncode != 0:
                            continue  # the peer cannot read this one: nothing to compare
                        self.assertEqual(tree(theirs), expected, peer)
                        compared += 1
                    self.assertGreater(compared, 0, "no peer read the archive")
                    listed = run("list", archive)
                    self.assertEqual(0, listed.returncode, listed.stderr)
                    for name in ("a.txt", "sub/r.bin", "sub/deeper/far.bin", "z.txt"):
                        self.assertIn(name, listed.stdout)
                    self.assertTrue(os.path.isdir(os.path.join(ours, "empty")))

    def test_peers_extract_the_lh7_archives_pack_writes(self):
        peers = {"lhasa": ["lhasa", "xq"], "7z": ["7z", "x", "-y"], "jlha": ["jlha", "xq"]}
        missing = [peer for peer in peers if shutil.which(peer) is None]
        if missing:
            self.skipTest("not installed: " + " ".join(missing))
        source = self.path("src")
        os.makedirs(os.path.join(source, "sub"))
        text = "".join("line %d of a text that repeats itself\n" % (i % 700)
                       for i in range(9000)).encode()
        # Matches from 40,000 bytes back: beyond the 32 KiB window of -lh6-.
        for name, data in (("a.txt", text), ("sub/far.bin", os.urandom(40000) * 3),
                           ("sub/r.bin", os.urandom(3000)), ("z.txt", b"")):
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        for options in ([], ["--best"]):
            with self.subTest(options=options):
                archive = self.path("p%d.lzh" % len(options))
                made = run("pack", "--archive-only", "--no-setup", "-o", archive, source,
                           *options)
                self.assertEqual(0, made.returncode, made.stderr)
                self.assertIn("-lh7-", run("list", archive).stdout)
                for peer, command in peers.items():
                    theirs = self.path("%s%d" % (peer, len(options)))
                    os.makedirs(theirs)
                    done = subprocess.run(command + [archive], cwd=theirs,
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.assertEqual(0, done.returncode, (peer, done.stderr))
                    self.assertEqual(tree(source), tree(theirs), peer)


class InteropShiftJis(Verbs):
    """Japanese names as jlha writes them in Shift_JIS ("y", under a UTF-8 locale), read by
    vorpanex, lhasa and 7-Zip (black boxes)."""

    def test_shift_jis_names_at_every_level(self):
        if shutil.which("jlha") is None:
            self.skipTest("jlha is not installed")
        source = self.path("src")
        os.makedirs(source)
        files = {"\u65e5\u672c\u8a9e.txt": b"nihongo\n",  # 93 FA 96 7B 8C EA: no 0x5C
                 "\u8868\u793a.txt": b"hyouji\n"}          # 95 5C 8E A6: trail byte 0x5C
        for name, data in files.items():
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        plain = "\u65e5\u672c\u8a9e.txt".encode("cp932")
        environment = dict(os.environ, LC_ALL="C.UTF-8")
        for level in "012":
            with self.subTest(level=level):
                archive = self.path("sjis%s.lzh" % level)
                subprocess.run(["jlha", "c%sqy" % level, archive, *files], cwd=source, check=True,
                               env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                with open(archive, "rb") as f:
                    if plain not in f.read():
                        self.skipTest("jlha did not write Shift_JIS names here")
                listed = run("list", "--codepage=932", archive)
                for name in files:
                    self.assertIn(name, listed.stdout)
                # As Japanese Windows makes them: UTF-8 names here, 0x5C inside its character.
                ours = self.path("ours%s" % level)
                result = run("extract", "--codepage=932", archive, "-C", ours)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(files, tree(ours))
                # Without a code page the name's bytes are kept, as the peers keep them.
                raw = self.path("raw%s" % level)
                run("extract", archive, plain, "-C", raw)
                with open(os.path.join(os.fsencode(raw), plain), "rb") as f:
                    self.assertEqual(files["\u65e5\u672c\u8a9e.txt"], f.read())
                for peer in ("lhasa", "7z"):
                    if shutil.which(peer) is None:
                        continue
                    theirs = self.path("%s%s" % (peer, level))
                    os.makedirs(theirs)
                    command = (["lhasa", "xq", archive] if peer == "lhasa"
                               else ["7z", "x", "-y", "-o" + theirs, archive])
                    subprocess.run(command, cwd=theirs, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=environment)
                    with open(os.path.join(os.fsencode(theirs), plain), "rb") as f:
                        self.assertEqual(files["\u65e5\u672c\u8a9e.txt"], f.read(), peer)


def main():
    global TOOL, FIXTURES
    TOOL, FIXTURES = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])


if __name__ == "__main__":
    main()
