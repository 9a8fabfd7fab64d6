#!/usr/bin/env python3
"""End-to-end cases of the stub: real setups run under Wine on an Xvfb display.

  run_e2e.py --case NAME [paths...]    run one case (exit 0 pass, 1 fail, 77 skipped)
  run_e2e.py --init [paths...]         create the shared Wine prefix

Each case builds its setup (the stub with an appended archive), runs it through the
user helper (which starts it, reads its windows and presses their buttons), and checks
the helper's report, the records of the stand-in setup programs and the temporary
directory. Screens of a failing case are kept under the artifacts directory.
"""
import argparse
import glob
import ntpath
import os
import pwd
import random
import re
import shutil
import subprocess
import sys
import struct
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'release'))
import make_archive  # noqa: E402
import support as release  # noqa: E402

SKIP = 77
ENGLISH = {
    10001: 'Setup is aborted.',
    10002: 'Failed to extract setup files.\\n\\nSetup file may be broken.',
    10003: 'This program is 64bit edition.',
    10004: 'This setup holds no setup program (SETUP32.EXE or SETUP.EXE).\\n\\n'
           'Setup file may be broken.',
    10005: '%s is not a program that Windows can run.\\n\\nSetup file may be broken.',
}
JAPANESE_10002 = ('解凍に失敗しました。セットアップファイルが壊れています。\\n\\n'
                  'もう一度ダウンロードをやりなおしてください。')
PROGRESS_CAPTION = 'Setup is Self-Extracting'


def wine_environment():
    """The environment that scripts/wine-env.sh sets for running Windows programs here
    (32- or 64-bit prefix, the loader to start programs with, the emulator's settings)."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts',
                          'wine-env.sh')
    output = subprocess.run(['bash', '-c', '. "$0" && env -0 && printf "%s" "$WINE_LOADER"',
                             script], stdout=subprocess.PIPE, check=True).stdout
    *pairs, loader = output.split(b'\0')
    return dict(pair.decode().split('=', 1) for pair in pairs if pair), loader.decode()


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Wine:
    """One Xvfb display and the shared prefix, for the length of one case."""

    def __init__(self, options, locale=None):
        self.options = options
        self.env, self.loader = wine_environment()
        self.env.update(WINEPREFIX=options.prefix, WINEDEBUG='-all')
        if locale:
            self.env.update(locale)
        self.xvfb = None
        if not self.env.get('DISPLAY'):
            read_end, write_end = os.pipe()
            self.xvfb = subprocess.Popen(
                ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24',
                 '-nolisten', 'tcp'], pass_fds=(write_end,),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            # Read the whole line: closing the pipe before Xvfb has written its newline
            # makes it stop.
            number = b''
            while not number.endswith(b'\n'):
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
            os.close(read_end)
            number = number.decode().strip()
            if not number:
                raise Failure('Xvfb did not start')
            self.env['DISPLAY'] = ':' + number
        self.stop_server()

    def stop_server(self):
        """Ends the prefix's wineserver and waits until it is gone, so that the next case
        does not attach to a server (and desktop) bound to a display that has ended."""
        for command in (['wineserver', '-k'], ['wineserver', '-w']):
            subprocess.run(command, env=self.env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, arguments, timeout=150):
        return subprocess.run([self.loader] + arguments, env=self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def start(self, arguments, cwd=None):
        return subprocess.Popen([self.loader] + arguments, env=self.env, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def screenshot(self, path):
        subprocess.run(['import', '-display', self.env['DISPLAY'], '-window', 'root', path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)

    def close(self):
        self.stop_server()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=30)


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class Case:
    def __init__(self, options, name):
        self.options = options
        self.name = name
        self.work = os.path.join(options.work, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.records = os.path.join(self.work, 'records')
        os.makedirs(self.records)
        user = pwd.getpwuid(os.getuid()).pw_name
        self.temp = os.path.join(options.prefix, 'drive_c', 'users', user, 'Temp')

    def unix_path(self, path):
        drive, rest = path[0].upper(), path[2:].replace('\\', '/')
        if drive == 'Z':
            return rest
        return os.path.join(self.options.prefix, 'drive_' + drive.lower(), rest.lstrip('/'))

    def setup_copy(self, name, source=None):
        path = os.path.join(self.work, 'payload', name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(source or self.options.setup, path)
        return path

    def stored_setup(self, members, name='setup.exe'):
        """members: (name bytes, data bytes) pairs."""
        with open(self.options.stub, 'rb') as handle:
            stub = handle.read()
        check(len(stub) == 49152, 'the stub is %d bytes, not 49152' % len(stub))
        path = os.path.join(self.work, name)
        with open(path, 'wb') as handle:
            handle.write(stub + make_archive.archive(members))
        return path

    def packed_setup(self, files, method='lh6', options=(), name='setup.exe'):
        tool = self.options.tool
        if not tool or not os.path.exists(tool):
            print('skipped: the vorpanex tool is not built (%s)' % tool)
            sys.exit(SKIP)
        path = os.path.join(self.work, name)
        result = subprocess.run([tool, 'pack', '-m', method, '--stub', self.options.stub,
                                 '-o', path] + list(options) + files, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        check(result.returncode == 0, 'pack failed: %s' % result.stdout.decode(errors='replace'))
        return path

    def leftovers(self):
        found = set()
        for directory in self.temp_directories:
            found |= set(glob.glob(os.path.join(directory, 'ZEB*')))
        return found

    def run(self, wine, setup, steps, environment=(), actions='', exit_code=None,
            temp_directories=None, cwd=None):
        self.temp_directories = temp_directories or [self.temp]
        before = self.leftovers()
        report = os.path.join(self.work, 'report-%d.txt' % len(glob.glob(
            os.path.join(self.work, 'report-*.txt'))))
        arguments = [self.options.user, windows_path(report), windows_path(setup),
                     'env:VORPANEX_E2E_RECORDS=' + windows_path(self.records)]
        if actions:
            arguments.append('env:VORPANEX_E2E_ACTIONS=' + actions)
        if exit_code is not None:
            arguments.append('env:VORPANEX_E2E_EXIT=%d' % exit_code)
        arguments += ['env:%s=%s' % pair for pair in environment] + list(steps)
        return Run(self, wine, wine.start(arguments, cwd), report, before)

    def records_read(self):
        records = []
        for path in sorted(glob.glob(os.path.join(self.records, '*.txt'))):
            records.append(read_pairs(path))
        return records


def read_pairs(path):
    pairs = {}
    with open(path, encoding='utf-8', errors='replace') as handle:
        for line in handle:
            key, _, value = line.rstrip('\n').partition('=')
            pairs.setdefault(key, []).append(value)
    return {key: values[0] if len(values) == 1 else values for key, values in pairs.items()}


class Run:
    def __init__(self, case, wine, process, report, before):
        self.case, self.wine, self.process, self.report_path = case, wine, process, report
        self.before = before

    def finish(self, timeout=150):
        try:
            output, _ = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure('the user helper did not finish within %d s' % timeout)
        self.report = read_pairs(self.report_path) if os.path.exists(self.report_path) else {}
        self.leaked = self.case.leftovers() - self.before
        print('report:', self.report)
        return self

    def exit_code(self):
        return self.report.get('exit')


# The cases. Each gets a Case and a running Wine and raises Failure on a wrong outcome.

def case_compressed(case, wine):
    setup = case.setup_copy('SETUP.EXE')
    notes = os.path.join(case.work, 'payload', 'notes.txt')
    with open(notes, 'w') as handle:
        handle.write(''.join('line %d of the notes that come with the setup\n' % i
                             for i in range(20000)))
    path = case.packed_setup([setup, notes])
    run = case.run(wine, path, ['progress'], exit_code=42).finish()
    check(run.exit_code() == '42', 'exit code %s, expected 42' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup ran %d times' % len(records))
    record = records[0]
    module = record['module']
    check(module.upper().endswith('\\SETUP.EXE'), 'setup path %s' % module)
    check(os.path.basename(os.path.dirname(case.unix_path(module))).startswith('ZEB'),
          'not in a ZEB work directory: %s' % module)
    files = record['file'] if isinstance(record['file'], list) else [record['file']]
    check('notes.txt %d' % os.path.getsize(notes) in files, 'files seen: %s' % files)
    check(record['commandline'] == '"%s"' % module, 'command line %s' % record['commandline'])
    check(not os.path.exists(os.path.dirname(case.unix_path(module))), 'work directory left')
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_compressed_lh7(case, wine):
    """The default method, -lh7-, with matches from 40,000 bytes back: the stub's 64 KiB
    window. A wrong byte fails the member's CRC-16 and the setup never runs."""
    setup = case.setup_copy('SETUP.EXE')
    far = os.path.join(case.work, 'payload', 'far.bin')
    with open(far, 'wb') as handle:
        handle.write(random.Random(25).randbytes(40000) * 3)
    path = case.packed_setup([setup, far], method='lh7')
    run = case.run(wine, path, [], exit_code=7).finish()
    check(run.exit_code() == '7', 'exit code %s, expected 7' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup ran %d times' % len(records))
    files = records[0]['file'] if isinstance(records[0]['file'], list) else [records[0]['file']]
    check('far.bin 120000' in files, 'files seen: %s' % files)
    check(not run.leaked, 'left behind: %s' % run.leaked)


def icon_file(red, green, blue):
    """An .ico of one opaque colour: a 32x32 PNG and a 16x16 32-bit bitmap."""
    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b''.join(b'\0' + bytes([red, green, blue, 255]) * 32 for _ in range(32))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 32, 32, 8, 6, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
    bitmap = (struct.pack('<IiiHHIIiiII', 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) +
              bytes([blue, green, red, 255]) * 256 + bytes(4 * 16))
    directory, body = struct.pack('<HHH', 0, 1, 2), b''
    for size, image in ((32, png), (16, bitmap)):
        directory += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image),
                                 6 + 2 * 16 + len(body))
        body += image
    return directory + body


def case_branded(case, wine):
    icon = os.path.join(case.work, 'vendor.ico')
    with open(icon, 'wb') as handle:
        handle.write(icon_file(0x20, 0xA0, 0x60))
    # Some bulk keeps the progress window up while its icon is looked at.
    setup = case.setup_copy('SETUP.EXE')
    bulk = os.path.join(case.work, 'payload', 'bulk.bin')
    with open(bulk, 'wb') as handle:
        handle.write(bytes(64 << 20))
    path = case.packed_setup([setup, bulk], options=[
        '--icon', icon, '--version-info', 'CompanyName=Hanabi Soft',
        '--version-info', 'FileVersion=2.3.4.5', '--execution-level', 'asInvoker'])
    listing = subprocess.run([case.options.tool, 'list', path], stdout=subprocess.PIPE,
                             universal_newlines=True).stdout
    for expected in ('Hanabi Soft', '2.3.4.5', 'asInvoker', '32x32 32 bpp, 16x16 32 bpp'):
        check(expected in listing, 'list does not show %s:\n%s' % (expected, listing))
    # Signed after branding, like any other setup; the signed one is what runs.
    signed = os.path.join(case.work, 'signed.exe')
    certificate = release.sign(path, signed, case.work)
    for command in (['osslsigncode', 'verify', '-CAfile', certificate, signed],
                    [case.options.tool, 'test', signed]):
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(result.returncode == 0, '%s failed: %s' % (' '.join(command[:2]),
                                                         result.stdout.decode(errors='replace')))
    run = case.run(wine, signed, ['progress'], exit_code=0).finish()
    check(run.exit_code() == '0', 'exit code %s, expected 0' % run.exit_code())
    check(len(case.records_read()) == 1, 'the setup program did not run once')
    check(run.report.get('progress_icon') == '32x32 20A060',
          'the progress window shows %s, not the vendor\'s icon' % run.report.get('progress_icon'))
    check(not run.leaked, 'left behind: %s' % run.leaked)
    # The vendor's title on the progress window (its dialog template rewritten).
    title = 'Hanabi Paint Setup'
    path = case.packed_setup([setup, bulk], options=['--title', title])
    run = case.run(wine, path, ['window:' + title], exit_code=0).finish()
    check(run.report.get('window') == title, 'no window titled %s: %s' % (title, run.report))
    check(run.exit_code() == '0', 'titled: exit code %s, expected 0' % run.exit_code())


def case_folders(case, wine):
    """A setup whose archive has subfolders: its setup program finds every file in place."""
    tree = os.path.join(case.work, 'tree')
    contents = {'en/readme.txt': b'english', 'ja/readme.txt': b'nihongo!',
                'ja/docs/guide.txt': b'g' * 3000}
    for name, data in contents.items():
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        with open(os.path.join(tree, name), 'wb') as handle:
            handle.write(data)
    os.makedirs(os.path.join(tree, 'empty'))
    shutil.copyfile(case.options.setup, os.path.join(tree, 'SETUP.EXE'))
    path = case.packed_setup([tree])
    run = case.run(wine, path, [], exit_code=5).finish()
    check(run.exit_code() == '5', 'exit code %s, expected 5' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup ran %d times' % len(records))
    files = records[0]['file'] if isinstance(records[0]['file'], list) else [records[0]['file']]
    expected = ['%s %d' % (name, len(data))
                for name, data in contents.items()] + ['en/', 'ja/', 'ja/docs/', 'empty/']
    for entry in expected:
        check(entry in files, '%s not seen; the setup saw %s' % (entry, files))
    module = records[0]['module']
    check(not os.path.exists(os.path.dirname(case.unix_path(module))), 'work directory left')
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_signed(case, wine):
    """A setup signed with osslsigncode runs: the signature after the archive is ignored."""
    setup = case.setup_copy('SETUP.EXE')
    path = case.packed_setup([setup])
    signed = os.path.join(case.work, 'signed.exe')
    release.sign(path, signed, case.work)
    check(os.path.getsize(signed) > os.path.getsize(path), 'nothing appended by signing')
    run = case.run(wine, signed, [], exit_code=9).finish()
    check(run.exit_code() == '9', 'exit code %s, expected 9' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup ran %d times' % len(records))
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_setup32_wins(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    path = case.stored_setup([(b'SETUP.EXE', program), (b'SETUP32.EXE', program),
                              (b'readme.txt', b'hello\r\n')])
    run = case.run(wine, path, [], exit_code=7).finish()
    check(run.exit_code() == '7', 'exit code %s, expected 7' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup programs started: %d' % len(records))
    check(records[0]['module'].endswith('\\SETUP32.EXE'), 'started %s' % records[0]['module'])
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_no_setup(case, wine):
    """No setup program at the top, or one that is no program, or only a folder named
    like one: a message that says so. A folder entry (data None) or a folder made by a
    member's path is never taken for the program; the other name still is."""
    for members, text in (([(b'readme.txt', b'no program here\r\n')], ENGLISH[10004]),
                          ([(b'SETUP.EXE', b'a text file\r\n')], ENGLISH[10005] % 'SETUP.EXE'),
                          ([(b'SETUP.EXE', None), (b'SETUP32.EXE', None)], ENGLISH[10004]),
                          ([(b'SETUP32.EXE\xffx.txt', b'x')], ENGLISH[10004]),
                          ([(b'SETUP32.EXE', None), (b'SETUP.EXE', program(case))], None)):
        path = case.stored_setup(members)
        run = case.run(wine, path, ['box', 'ok'] if text else [],
                       exit_code=None if text else 4).finish()
        if text is None:
            check(run.exit_code() == '4', 'exit code %s, expected 4' % run.exit_code())
            records = case.records_read()
            check(len(records) == 1 and records[0]['module'].endswith('\\SETUP.EXE'),
                  'started %s' % records)
            continue
        check(run.exit_code() == '1603', 'exit code %s, expected 1603' % run.exit_code())
        check(run.report.get('box_text') == text, 'box %s' % run.report.get('box_text'))
        check(not case.records_read(), 'a folder was started')
        check(not run.leaked, 'left behind: %s' % run.leaked)


def case_corrupt(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    data = bytearray(make_archive.archive([(b'readme.txt', b'first member\r\n'),
                                           (b'SETUP.EXE', program)]))
    data[len(data) // 2] ^= 0xFF   # inside SETUP.EXE's stored data: its CRC fails
    path = os.path.join(case.work, 'setup.exe')
    with open(case.options.stub, 'rb') as handle:
        stub = handle.read()
    with open(path, 'wb') as handle:
        handle.write(stub + bytes(data))
    run = case.run(wine, path, ['box', 'ok']).finish()
    check(run.exit_code() == '1603', 'exit code %s, expected 1603' % run.exit_code())
    check(run.report.get('box_caption') == 'Setup', 'caption %s' % run.report.get('box_caption'))
    check(run.report.get('box_text') == ENGLISH[10002], 'text %s' % run.report.get('box_text'))
    check(run.report.get('box_over_progress') == 'yes', 'progress window gone behind the box')
    check(not case.records_read(), 'the setup program ran')
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_cancel(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    big = bytes(160 * 1024 * 1024)   # all zeros: CRC-16 0, cheap to write
    path = case.stored_setup([(b'BIG.BIN', big), (b'SETUP.EXE', program)])
    run = case.run(wine, path, ['status', 'cancel', 'cancel', 'box', 'ok']).finish()
    check(run.report.get('progress_caption') == PROGRESS_CAPTION, 'caption')
    check(run.report.get('progress_status') == 'Extracting : BIG.BIN',
          'status line %s' % run.report.get('progress_status'))
    check(run.exit_code() == '1602', 'exit code %s, expected 1602' % run.exit_code())
    check(run.report.get('box_text') == ENGLISH[10001], 'text %s' % run.report.get('box_text'))
    check(run.report.get('box_over_progress') == 'yes', 'progress window gone behind the box')
    check(not case.records_read(), 'the setup program ran after Cancel')
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_escape(case, wine):
    path = case.stored_setup([(b'BIG.BIN', bytes(160 * 1024 * 1024)),
                              (b'SETUP.EXE', program(case))])
    run = case.run(wine, path, ['status', 'escape', 'box', 'ok']).finish()
    check(run.exit_code() == '1602', 'exit code %s, expected 1602' % run.exit_code())
    check(run.report.get('box_text') == ENGLISH[10001], 'text %s' % run.report.get('box_text'))
    check(not case.records_read(), 'the setup program ran after Esc')
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_silent(case, wine):
    """A silent switch: no window, no message box, the exit code alone."""
    good = case.stored_setup([(b'SETUP.EXE', program(case))], name='good.exe')
    data = bytearray(make_archive.archive([(b'SETUP.EXE', program(case))]))
    data[len(data) // 2] ^= 0xFF
    damaged = os.path.join(case.work, 'damaged.exe')
    with open(case.options.stub, 'rb') as handle, open(damaged, 'wb') as output:
        output.write(handle.read() + bytes(data))
    # (setup, tail, silent, exit code)
    rows = ((damaged, '/S', True, '1603'),
            (good, '/quiet /D=C:\\Program Files\\X', True, '0'),
            (good, '/D="C:\\a /S b" /qn', True, '0'),
            (damaged, '/Sx "/S" /SILENT -s', False, '1603'))
    for path, tail, silent, code in rows:
        shutil.rmtree(case.records)
        os.makedirs(case.records)
        steps = ['args:' + tail] + (['watch'] if silent else ['box', 'ok'])
        started = time.time()
        run = case.run(wine, path, steps, exit_code=0).finish()
        elapsed = time.time() - started
        check(run.exit_code() == code, '%s: exit code %s' % (tail, run.exit_code()))
        if silent:
            check(run.report.get('windows_seen') == '0', '%s: a window was shown %s times'
                  % (tail, run.report.get('windows_seen')))
            check(elapsed < 15, '%s: took %.1f s' % (tail, elapsed))
        else:
            check(run.report.get('box_text') == ENGLISH[10002], '%s: box %s'
                  % (tail, run.report.get('box_text')))
        for record in case.records_read():
            check(record['commandline'] == '"%s" %s' % (record['module'], tail),
                  '%s: command line %s' % (tail, record['commandline']))
        check(code != '0' or len(case.records_read()) == 1, '%s: the setup did not run' % tail)
        check(not run.leaked, '%s: left behind: %s' % (tail, run.leaked))


def case_recorded_codepage(case, wine):
    """A setup packed with --codepage 932 on a Windows whose code page is 1252: the setup
    program finds its Japanese-named files by their right names."""
    tree = os.path.join(case.work, 'tree')
    os.makedirs(tree)
    shutil.copyfile(case.options.setup, os.path.join(tree, 'SETUP.EXE'))
    name = '\u8aac\u660e\u66f8.txt'
    with open(os.path.join(tree, name), 'wb') as handle:
        handle.write(b'Japanese name\r\n')
    path = case.packed_setup([tree], options=['--codepage', '932'])
    run = case.run(wine, path, [], exit_code=0).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    files = values(case.records_read()[0], 'file')
    check('%s 15' % name in files, 'files seen: %s' % files)
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_program_names(case, wine):
    """The tail reaches the setup byte for byte whatever the stub's own file is called."""
    tail = '/S /D=C:\\X "quoted arg"'
    rows = (('caf\u00e9.exe', False, None), ('caf\u00e9.exe', True, None),
            ('\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7.exe', False, 'ja'))
    for name, quoted, locale in rows:
        japanese = None
        if locale:
            environment = japanese_locale(case.options)
            if environment is None:
                print('skipped row %s: no Japanese locale' % name)
                continue
            japanese = Wine(case.options, environment)
        try:
            shutil.rmtree(case.records)
            os.makedirs(case.records)
            path = case.stored_setup([(b'SETUP.EXE', program(case))], name=name)
            steps = ([] if quoted else ['unquoted']) + ['args:' + tail]
            run = case.run(japanese or wine, path, steps, exit_code=0).finish()
        finally:
            if japanese:
                japanese.close()
        check(run.exit_code() == '0', '%s: exit code %s' % (name, run.exit_code()))
        record = case.records_read()[0]
        check(record['commandline'] == '"%s" %s' % (record['module'], tail),
              '%s: command line %r' % (name, record['commandline']))


def case_bad_program(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = bytearray(handle.read())
    # The same program marked as built for x64: the 32-bit system cannot run it.
    header = int.from_bytes(program[0x3C:0x40], 'little')
    program[header + 4:header + 6] = (0x8664).to_bytes(2, 'little')
    path = case.stored_setup([(b'SETUP.EXE', bytes(program))])
    run = case.run(wine, path, ['box', 'ok']).finish()
    check(run.exit_code() == '1603', 'exit code %s, expected 1603' % run.exit_code())
    check(run.report.get('box_text') == ENGLISH[10003], 'text %s' % run.report.get('box_text'))
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_spaces(case, wine):
    temp = os.path.join(case.options.prefix, 'drive_c', 'vorpanex e2e', 'temp dir')
    shutil.rmtree(os.path.dirname(temp), ignore_errors=True)
    os.makedirs(temp)
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    path = case.stored_setup([(b'SETUP.EXE', program)])
    windows = 'C:\\vorpanex e2e\\temp dir'
    run = case.run(wine, path, [], environment=[('TEMP', windows), ('TMP', windows)],
                   exit_code=0, temp_directories=[temp]).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup programs started: %d' % len(records))
    module = records[0]['module']
    check(module.startswith(windows + '\\ZEB'), 'setup ran from %s' % module)
    check(records[0]['commandline'] == '"%s"' % module, 'command line %s'
          % records[0]['commandline'])
    check(not os.listdir(temp), 'left behind: %s' % os.listdir(temp))


def case_two_copies(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    path = case.stored_setup([(b'SETUP.EXE', program), (b'data.txt', b'x' * 100000)])
    first = case.run(wine, path, [], actions='sleep:2500', exit_code=11)
    second = case.run(wine, path, [], actions='sleep:2500', exit_code=11)
    first.finish()
    second.finish()
    for run in (first, second):
        check(run.exit_code() == '11', 'exit code %s' % run.exit_code())
    records = case.records_read()
    check(len(records) == 2, 'setup programs started: %d' % len(records))
    directories = {ntpath.dirname(record['module']) for record in records}
    check(len(directories) == 2, 'both ran in %s' % directories)
    for record in records:
        files = record['file'] if isinstance(record['file'], list) else [record['file']]
        check('data.txt 100000' in files, 'files seen: %s' % files)
    check(not (case.leftovers() - first.before), 'left behind')


def case_stubborn_files(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    path = case.stored_setup([(b'SETUP.EXE', program)])
    started = time.time()
    run = case.run(wine, path, [], actions='readonly,hold:3000', exit_code=5).finish()
    elapsed = time.time() - started
    check(run.exit_code() == '5', 'exit code %s' % run.exit_code())
    record = case.records_read()[0]
    check(record.get('readonly') == 'made', 'read-only file: %s' % record.get('readonly'))
    check(record.get('hold') == 'started', 'holder: %s' % record.get('hold'))
    check(elapsed >= 3, 'finished in %.1f s although a file was held open 3 s' % elapsed)
    check(not run.leaked, 'left behind: %s' % run.leaked)


def case_junction(case, wine):
    outside = os.path.join(case.options.prefix, 'drive_c', 'vorpanex-e2e-outside')
    shutil.rmtree(outside, ignore_errors=True)
    os.makedirs(outside)
    with open(os.path.join(outside, 'keep.txt'), 'w') as handle:
        handle.write('must survive\n')
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    path = case.stored_setup([(b'SETUP.EXE', program)])
    run = case.run(wine, path, [], actions='junction:C:\\vorpanex-e2e-outside',
                   exit_code=0).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    junction = case.records_read()[0].get('junction', '')
    check(os.path.exists(os.path.join(outside, 'keep.txt')), 'the outside file was deleted')
    check(not run.leaked, 'left behind: %s' % run.leaked)
    if not junction.startswith('made'):
        print('skipped: Wine cannot make a junction here (%s)' % junction)
        sys.exit(SKIP)


def japanese_locale(options):
    """LANG for Japanese, with a locale compiled beside the prefix when the system lacks it."""
    target = os.path.join(os.path.dirname(options.prefix), 'e2e-locale')
    if not os.path.isdir(os.path.join(target, 'ja_JP.UTF-8')):
        os.makedirs(target, exist_ok=True)
        subprocess.run(['localedef', '-i', 'ja_JP', '-f', 'UTF-8',
                        os.path.join(target, 'ja_JP.UTF-8')],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.isdir(os.path.join(target, 'ja_JP.UTF-8')):
        return None
    return {'LOCPATH': target, 'LANG': 'ja_JP.UTF-8', 'LC_ALL': 'ja_JP.UTF-8'}


def case_japanese(case, wine):
    with open(case.options.setup, 'rb') as handle:
        program = handle.read()
    name = '説明書.txt'
    path = case.stored_setup([(name.encode('cp932'), b'Japanese name\r\n'),
                              (b'SETUP.EXE', program)], name='good.exe')
    run = case.run(wine, path, [], exit_code=0).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    record = case.records_read()[0]
    files = record['file'] if isinstance(record['file'], list) else [record['file']]
    check('%s 15' % name in files, 'files seen: %s' % files)

    data = bytearray(make_archive.archive([(b'SETUP.EXE', program)]))
    data[len(data) // 2] ^= 0xFF
    with open(case.options.stub, 'rb') as handle:
        bad = os.path.join(case.work, 'bad.exe')
        with open(bad, 'wb') as output:
            output.write(handle.read() + bytes(data))
    run = case.run(wine, bad, ['box', 'ok']).finish()
    check(run.exit_code() == '1603', 'exit code %s' % run.exit_code())
    check(run.report.get('box_text') == JAPANESE_10002, 'text %s' % run.report.get('box_text'))
    check(not run.leaked, 'left behind: %s' % run.leaked)


def program(case):
    with open(case.options.setup, 'rb') as handle:
        return handle.read()


def values(record, key):
    value = record.get(key, [])
    return value if isinstance(value, list) else [value]


def hidden_wait_ms(run, record):
    """Milliseconds from the setup program's end to the stub's."""
    return int(run.report['exit_tick']) - int(record['done_tick'])


# DLLs the stub once pulled in at load time through SHELL32, or that the system's own
# DLLs load on demand; the run with +loaddll adds whatever else Wine's loader reports.
PLANTED_ALWAYS = {'shell32.dll', 'shcore.dll', 'shlwapi.dll', 'version.dll', 'uxtheme.dll',
                  'imm32.dll', 'dwmapi.dll', 'cryptbase.dll', 'profapi.dll'}


def case_planted_dlls(case, wine):
    path = case.stored_setup([(b'SETUP.EXE', program(case))])
    wine.env['WINEDEBUG'] = '+loaddll'
    try:
        run = case.run(wine, path, [], exit_code=0)
        output = run.process.communicate(timeout=150)[0].decode(errors='replace')
    finally:
        wine.env['WINEDEBUG'] = '-all'
    loaded = {ntpath.basename(name).lower() for name in
              re.findall(r'Loaded L"([^"]+\.dll)"', output, re.IGNORECASE)}
    names = sorted(PLANTED_ALWAYS | loaded)
    print('planted:', ' '.join(names))
    for name in names:
        shutil.copyfile(case.options.marker, os.path.join(os.path.dirname(path), name))
    shutil.rmtree(case.records)
    os.makedirs(case.records)
    run = case.run(wine, path, [], exit_code=0).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    markers = sorted(glob.glob(os.path.join(case.records, 'planted-*')))
    check(not markers, 'planted DLLs loaded: %s' % [os.path.basename(m) for m in markers])
    check(len(case.records_read()) == 1, 'the setup program did not run')


def case_swap(case, wine):
    path = case.stored_setup([(b'SETUP.EXE', program(case)), (b'BIG.BIN', bytes(96 << 20))])
    attack = os.path.join(case.work, 'attack.txt')
    attacker = wine.start([case.options.setup, '--attack', windows_path(case.temp),
                           windows_path(case.records), windows_path(case.options.user),
                           windows_path(attack)])
    deadline = time.time() + 120
    while not os.path.exists(attack) and time.time() < deadline:
        time.sleep(0.5)
    run = case.run(wine, path, [], exit_code=9).finish(timeout=400)
    attacker.communicate(timeout=240)
    report = read_pairs(attack)
    print('attacker:', report)
    check(run.exit_code() == '9', 'exit code %s: not the archived setup' % run.exit_code())
    records = case.records_read()
    check(len(records) == 1, 'setup programs started: %d' % len(records))
    created = int(records[0]['created'])
    check(int(report.get('attempts', 0)) > 0, 'the attacker never saw the setup program')
    for kind in ('write', 'rename', 'replace', 'delete'):
        early = [when for when in values(report, kind) if int(when) < created]
        check(not early, '%s succeeded %d times before the setup started' % (kind, len(early)))
    check(not run.leaked, 'left behind: %s' % run.leaked)


def sealed_pair(case):
    """Two setups packed by the tool, each sealed to its own archive: the genuine one
    (a tree with docs/genuine.txt) and an impostor (impostor.txt)."""
    made = []
    for name in ('genuine', 'impostor'):
        tree = os.path.join(case.work, name)
        os.makedirs(os.path.join(tree, 'docs'))
        shutil.copyfile(case.options.setup, os.path.join(tree, 'SETUP.EXE'))
        with open(os.path.join(tree, 'docs', name + '.txt'), 'w') as handle:
            handle.write(name + '\n')
        made.append(case.packed_setup([tree], name=name + '.exe'))
    return made


def case_sealed(case, wine):
    """The setup runs only the archive it was packed with."""
    genuine, impostor = sealed_pair(case)
    with open(genuine, 'rb') as handle:
        genuine_bytes = handle.read()
    with open(impostor, 'rb') as handle:
        impostor_bytes = handle.read()
    # One byte of a folder's name in an extended header, which no CRC covers.
    folder = genuine_bytes.index(b'docs\xff', 49152)
    changed = bytearray(genuine_bytes)
    changed[folder] = ord('e')
    for name, data in (('one byte changed', bytes(changed)),
                       ('another setup\'s archive', genuine_bytes[:49152] +
                        impostor_bytes[49152:])):
        path = os.path.join(case.work, 'tampered.exe')
        with open(path, 'wb') as handle:
            handle.write(data)
        shutil.rmtree(case.records)
        os.makedirs(case.records)
        run = case.run(wine, path, ['box', 'ok'], exit_code=0).finish()
        check(run.exit_code() == '1603', '%s: exit code %s' % (name, run.exit_code()))
        check(run.report.get('box_text') == ENGLISH[10002], '%s: box %s'
              % (name, run.report.get('box_text')))
        check(not case.records_read(), '%s: the setup program ran' % name)
        check(not run.leaked, '%s: left behind: %s' % (name, run.leaked))

    # Renamed after it was started, before its first instruction, with the impostor
    # copied to its name: the genuine archive runs, or nothing does.
    shutil.rmtree(case.records)
    os.makedirs(case.records)
    run = case.run(wine, genuine, ['suspended', 'box', 'ok'], exit_code=0)
    deadline = time.time() + 60
    while (not os.path.exists(run.report_path) or 'suspended' not in
           read_pairs(run.report_path)) and time.time() < deadline:
        time.sleep(0.2)
    os.rename(genuine, genuine + '.renamed')
    shutil.copyfile(impostor, genuine)
    open(run.report_path + '.resume', 'w').close()
    run.finish()
    files = [value for record in case.records_read() for value in values(record, 'file')]
    check(not any('impostor' in name for name in files), 'the impostor\'s archive ran')
    check(run.exit_code() in ('0', '1603'), 'renamed: exit code %s' % run.exit_code())
    check(not run.leaked, 'renamed: left behind: %s' % run.leaked)


def case_arguments(case, wine):
    path = case.stored_setup([(b'SETUP.EXE', program(case))])
    tail = '/S /D=C:\\Program Files\\X "quoted arg"  a\\"b "" end '
    run = case.run(wine, path, ['args:' + tail], exit_code=0).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    record = case.records_read()[0]
    expected = '"%s" %s' % (record['module'], tail)
    check(record['commandline'] == expected, 'command line %r, expected %r'
          % (record['commandline'], expected))


def case_work_directory_gone(case, wine):
    path = case.stored_setup([(b'SETUP.EXE', program(case)), (b'data.txt', b'data\r\n')])
    # (actions, may leave the directory) per row: the setup removes the work directory
    # itself; the setup leaves a file whose path is too long for ANSI calls, which goes
    # by its short name where the file system has one and is otherwise left in place.
    # The stub holds its work directory, so the setup's own removal may fail: the stub
    # then removes it, promptly.
    for actions, may_leave, outcomes in (('rmdir', False, ('done', 'failed')),
                                         ('longname', True, ('made',))):
        shutil.rmtree(case.records)
        os.makedirs(case.records)
        run = case.run(wine, path, [], actions=actions, exit_code=4).finish()
        check(run.exit_code() == '4', '%s: exit code %s' % (actions, run.exit_code()))
        record = case.records_read()[0]
        check(record.get(actions, '').split(' ')[0] in outcomes,
              '%s: %s' % (actions, record.get(actions)))
        wait = hidden_wait_ms(run, record)
        check(wait < 15000, '%s: the stub waited %d ms after the setup' % (actions, wait))
        check(may_leave or not run.leaked, '%s: left behind: %s' % (actions, run.leaked))
        for directory in run.leaked:
            shutil.rmtree(directory)
    for moved in glob.glob(os.path.join(case.temp, 'vorpanex-e2e-moved-*.exe')):
        os.remove(moved)


def case_later_stages(case, wine):
    data = b'needed by the second stage\r\n'
    path = case.stored_setup([(b'SETUP.EXE', program(case)), (b'STAGE2.EXE', program(case)),
                              (b'data.txt', data)])
    run = case.run(wine, path, [], actions='spawn:STAGE2.EXE', exit_code=6,
                   environment=[('VORPANEX_E2E_CHILD_ACTIONS', 'sleep:2000,list')]).finish()
    check(run.exit_code() == '6', 'exit code %s, not the setup\'s' % run.exit_code())
    stage = [r for r in case.records_read() if r['module'].upper().endswith('\\STAGE2.EXE')]
    check(len(stage) == 1, 'second stage records: %d' % len(stage))
    seen = values(stage[0], 'file').count('data.txt %d' % len(data))
    check(seen == 2, 'the second stage saw data.txt %d times of 2 (first look, 2 s later)' % seen)
    check(int(run.report['exit_tick']) >= int(stage[0]['done_tick']),
          'the stub ended before the second stage')
    check(not run.leaked, 'left behind: %s' % run.leaked)

    shutil.rmtree(case.records)
    os.makedirs(case.records)
    run = case.run(wine, path, [], actions='outside:60000', exit_code=0).finish()
    setup = [r for r in case.records_read() if 'ZEB' in r['module'].upper()][0]
    check(setup.get('outside') == 'started', 'outside program: %s' % setup.get('outside'))
    wait = hidden_wait_ms(run, setup)
    check(wait < 15000, 'the stub waited %d ms for a program outside its directory' % wait)
    check(not run.leaked, 'left behind: %s' % run.leaked)


def tree_of(folder):
    """Every path below folder, with file contents: what must stay as it is."""
    found = {}
    for root, folders, files in os.walk(folder):
        for name in folders:
            found[os.path.relpath(os.path.join(root, name), folder) + '/'] = None
        for name in files:
            with open(os.path.join(root, name), 'rb') as handle:
                found[os.path.relpath(os.path.join(root, name), folder)] = handle.read()
    return found


def victim_folder(case):
    """A folder outside the work directory: files (some named like those the work
    directory holds), a read-only file and a subfolder. No removal may touch it."""
    victim = os.path.join(case.options.prefix, 'drive_c', 'vorpanex-e2e-victim')
    if os.path.isdir(victim):
        for root, _, files in os.walk(victim):
            for name in files:
                os.chmod(os.path.join(root, name), 0o644)
        shutil.rmtree(victim)
    os.makedirs(os.path.join(victim, 'folder'))
    names = ['keep.txt', 'data.txt', 'held.txt', 'SETUP.EXE', 'folder/inner.txt']
    names += ['f%04d' % i for i in range(MANY_FILES)]
    for name in names:
        with open(os.path.join(victim, name), 'w') as handle:
            handle.write('must survive: %s\n' % name)
    with open(os.path.join(victim, 'readonly.txt'), 'w') as handle:
        handle.write('read-only, must survive\n')
    os.chmod(os.path.join(victim, 'readonly.txt'), 0o444)
    return victim


def wait_until(condition, what, timeout=60):
    deadline = time.time() + timeout
    while not condition():
        check(time.time() < deadline, 'timed out waiting until %s' % what)
        time.sleep(0.005)


def setup_record(case):
    """The record of the setup program once it has ended, read while the stub runs."""
    def ended():
        return any('done=' in open(name, encoding='utf-8', errors='replace').read()
                   for name in glob.glob(os.path.join(case.records, '*.txt')))
    wait_until(ended, 'the setup program ended')
    return case.records_read()[0]


def discard(path):
    if os.path.islink(path) or os.path.isfile(path):
        os.remove(path)
    elif os.path.isdir(path):
        shutil.rmtree(path)


MANY_FILES = 3000


def case_removal_attacks(case, wine):
    """Removal never leaves the work directory: a link put at its name or at a
    subfolder's name while removal runs leads nowhere. (On Windows the stub's hold
    refuses the rename and the deletion; the attacker here acts from Linux, where the
    hold does not reach, so this also shows the checks behind the hold.)"""
    path = case.stored_setup([(b'SETUP.EXE', program(case)), (b'data.txt', b'data\r\n')])
    # (actions, attack) per row: a file held open makes the first removal fail, then the
    # work directory is moved away (rename) or removed (remove, as its setup program
    # might) and a link to the victim put at its name; a subfolder is swapped for a link
    # to the victim while removal empties it (swap). The link comes a moment after the
    # move: Wine deletes by name even through a handle, so no check can close the instant
    # between a check and a deletion there, as the hold closes it on Windows.
    for actions, attack in (('hold:4000', 'rename'), ('hold:4000', 'remove'),
                            ('many:%d' % MANY_FILES, 'swap')):
        shutil.rmtree(case.records)
        os.makedirs(case.records)
        victim = victim_folder(case)
        before = tree_of(victim)
        run = case.run(wine, path, [], actions=actions, exit_code=3)
        record = setup_record(case)
        work = os.path.dirname(case.unix_path(record['module']))
        if attack == 'swap':
            many = os.path.join(work, 'many')
            wait_until(lambda: len(os.listdir(many)) < MANY_FILES * 9 // 10,
                       'removal empties the subfolder')
            os.rename(many, os.path.join(work, 'moved'))
            time.sleep(0.05)
            os.symlink(victim, many)
        else:
            wait_until(lambda: not os.path.exists(os.path.join(work, 'SETUP.EXE')),
                       'removal begins')
            if attack == 'rename':
                os.rename(work, work + '.moved')
            else:
                shutil.rmtree(work)
            time.sleep(0.05)
            os.symlink(victim, work)
        run.finish(timeout=300)
        after = tree_of(victim) if os.path.isdir(victim) else {}
        lost = sorted(set(before) - set(after))
        check(not lost, '%s: %d outside entries deleted, such as %s' % (attack, len(lost),
                                                                        lost[:5]))
        check(after == before, '%s: outside files changed' % attack)
        check(run.exit_code() == '3', '%s: exit code %s' % (attack, run.exit_code()))
        if attack != 'swap':
            wait = hidden_wait_ms(run, record)
            check(wait < 15000, '%s: the stub waited %d ms after the setup' % (attack, wait))
        for leftover in glob.glob(work + '*'):
            discard(leftover)


def case_unicode_paths(case, wine):
    """Paths that the ANSI code page (1252 here) cannot spell: the setup's own name, a
    temporary path with a Polish name in it, and there a member with a Japanese name
    from a setup packed with --codepage 932."""
    temp = os.path.join(case.options.prefix, 'drive_c', 'users', 'Łukasz', 'AppData', 'Local',
                        'Temp')
    shutil.rmtree(os.path.join(case.options.prefix, 'drive_c', 'users', 'Łukasz'),
                  ignore_errors=True)
    os.makedirs(temp)
    windows_temp = 'C:\\users\\Łukasz\\AppData\\Local\\Temp'
    in_temp = [('TEMP', windows_temp), ('TMP', windows_temp)]
    japanese = '\u8aac\u660e\u66f8.txt'
    tree = os.path.join(case.work, 'tree')
    os.makedirs(tree)
    shutil.copyfile(case.options.setup, os.path.join(tree, 'SETUP.EXE'))
    with open(os.path.join(tree, japanese), 'wb') as handle:
        handle.write(b'Japanese name\r\n')
    # (setup's file name, temporary path, packed from tree with code page 932) per row.
    for name, environment, packed in (('セットアップ.exe', [], False),
                                      ('setup.exe', in_temp, False),
                                      ('packed.exe', in_temp, True)):
        shutil.rmtree(case.records)
        os.makedirs(case.records)
        if packed:
            path = case.packed_setup([tree], options=['--codepage', '932'], name=name)
        else:
            path = case.stored_setup([(b'SETUP.EXE', program(case)), (b'data.txt', b'data\r\n')],
                                     name=name)
        run = case.run(wine, path, [], environment=environment, exit_code=8,
                       temp_directories=[case.temp, temp]).finish()
        check(run.exit_code() == '8', '%s: exit code %s' % (name, run.exit_code()))
        records = case.records_read()
        check(len(records) == 1, '%s: setup programs started: %d' % (name, len(records)))
        if environment:
            check(records[0]['module'].startswith(windows_temp + '\\ZEB'),
                  'the setup ran from %s' % records[0]['module'])
        if packed:
            files = values(records[0], 'file')
            check('%s 15' % japanese in files, '%s: files seen: %s' % (name, files))
        check(not run.leaked, '%s: left behind: %s' % (name, run.leaked))


def case_setup_folder(case, wine):
    """The setup program starts in its own folder: not in the stub's, where a planted DLL
    would be found by a bare name."""
    path = case.stored_setup([(b'SETUP.EXE', program(case))])
    shutil.copyfile(case.options.marker, os.path.join(os.path.dirname(path),
                                                      'vorpanex-e2e-plant.dll'))
    run = case.run(wine, path, [], actions='load:vorpanex-e2e-plant.dll', exit_code=0,
                   cwd=os.path.dirname(path)).finish()
    check(run.exit_code() == '0', 'exit code %s' % run.exit_code())
    record = case.records_read()[0]
    check(record['cwd'] == ntpath.dirname(record['module']),
          'the setup started in %s, not in %s' % (record['cwd'], ntpath.dirname(record['module'])))
    check(record.get('load') == 'missing', 'the planted DLL was loaded (%s)' % record.get('load'))
    check(not glob.glob(os.path.join(case.records, 'planted-*')), 'the planted DLL ran')


# Temporary-path lengths as GetTempPathA reports them (with the final backslash). Up to
# 232 the work directory, "SETUP32.EXE" and a search pattern inside it fit 260
# characters; beyond, the stub must refuse before it creates anything.
TEMP_PATH_LENGTHS = (200, 231, 232, 233, 236, 237, 238, 239, 240, 245, 246, 250, 255, 259)
LONGEST_RUNNING_TEMP_PATH = 232


def case_temp_path_lengths(case, wine):
    path = case.stored_setup([(b'SETUP.EXE', program(case)), (b'readme.txt', b'hello\r\n')])
    base = 'C:\\vorpanex-e2e-temp'
    shutil.rmtree(case.unix_path(base), ignore_errors=True)
    for length in TEMP_PATH_LENGTHS:
        rest = length - 1 - len(base)
        windows = base + ''.join('\\' + 'd' * min(120, rest - done - 1)
                                 for done in range(0, rest, 121))
        check(len(windows) + 1 == length, 'built a path of %d' % (len(windows) + 1))
        unix = case.unix_path(windows)
        os.makedirs(unix)
        shutil.rmtree(case.records)
        os.makedirs(case.records)
        run = case.run(wine, path, ['box', 'ok'], environment=[('TEMP', windows), ('TMP', windows)],
                       exit_code=0, temp_directories=[unix]).finish()
        records = case.records_read()
        if length <= LONGEST_RUNNING_TEMP_PATH:
            check(run.exit_code() == '0' and len(records) == 1 and 'box_text' not in run.report,
                  '%d: exit %s, %d runs, box %s' % (length, run.exit_code(), len(records),
                                                   run.report.get('box_text')))
            wait = hidden_wait_ms(run, records[0])
            check(wait < 15000, '%d: the stub waited %d ms after the setup' % (length, wait))
        else:
            check(run.exit_code() == '1603' and run.report.get('box_text') == ENGLISH[10002],
                  '%d: exit %s, box %s' % (length, run.exit_code(), run.report.get('box_text')))
            check(not records, '%d: the setup program ran' % length)
        check(not os.listdir(unix), '%d: left behind: %s' % (length, os.listdir(unix)))
        shutil.rmtree(case.unix_path(base))


def set_log_pixels(wine, dpi):
    wine.run(['reg', 'add', 'HKCU\\Control Panel\\Desktop', '/v', 'LogPixels', '/t',
              'REG_DWORD', '/d', str(dpi), '/f'])
    wine.stop_server()


def case_high_dpi(case, wine):
    """At 144 DPI the window is laid out as at 96, one and a half times as large. (Wine
    draws every window at the screen's DPI, aware or not, so the blur that the manifest's
    DPI awareness prevents on Windows cannot be seen here; check_stub.py checks the
    manifest.)"""
    # A large member keeps the window up long enough to be measured.
    path = case.stored_setup([(b'BIG.BIN', bytes(160 * 1024 * 1024)),
                              (b'SETUP.EXE', program(case))])
    widths = {}
    try:
        for dpi in (96, 144):
            set_log_pixels(wine, dpi)
            run = case.run(wine, path, ['progress'], exit_code=0).finish()
            check(run.exit_code() == '0', '%d DPI: exit code %s' % (dpi, run.exit_code()))
            widths[dpi] = int(run.report.get('progress_width', 0))
    finally:
        set_log_pixels(wine, 96)
    check(widths[96] > 0 and abs(widths[144] / widths[96] - 1.5) < 0.05,
          'window widths %s: not scaled by 1.5' % widths)


CASES = {
    'compressed': case_compressed,
    'compressed_lh7': case_compressed_lh7,
    'signed': case_signed,
    'folders': case_folders,
    'setup32_wins': case_setup32_wins,
    'no_setup': case_no_setup,
    'corrupt': case_corrupt,
    'cancel': case_cancel,
    'bad_program': case_bad_program,
    'spaces': case_spaces,
    'two_copies': case_two_copies,
    'stubborn_files': case_stubborn_files,
    'junction': case_junction,
    'japanese': case_japanese,
    'planted_dlls': case_planted_dlls,
    'swap': case_swap,
    'arguments': case_arguments,
    'sealed': case_sealed,
    'escape': case_escape,
    'silent': case_silent,
    'program_names': case_program_names,
    'recorded_codepage': case_recorded_codepage,
    'work_directory_gone': case_work_directory_gone,
    'later_stages': case_later_stages,
    'temp_path_lengths': case_temp_path_lengths,
    'high_dpi': case_high_dpi,
    'branded': case_branded,
    'removal_attacks': case_removal_attacks,
    'unicode_paths': case_unicode_paths,
    'setup_folder': case_setup_folder,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--case', choices=sorted(CASES))
    parser.add_argument('--init', action='store_true')
    parser.add_argument('--stub')
    parser.add_argument('--user')
    parser.add_argument('--setup')
    parser.add_argument('--marker')
    parser.add_argument('--tool')
    parser.add_argument('--prefix', required=True)
    parser.add_argument('--work')
    parser.add_argument('--artifacts')
    options = parser.parse_args()
    options.prefix = os.path.abspath(options.prefix)
    arch = wine_environment()[0]['WINEARCH']
    if arch != 'win32':
        options.prefix += '-' + arch

    if options.init:
        wine = Wine(options)
        try:
            if not os.path.exists(os.path.join(options.prefix, 'system.reg')):
                wine.run(['wineboot', '-i'], timeout=300)
            subprocess.run(['wineserver', '-w'], env=wine.env, timeout=120)
        finally:
            wine.close()
        return 0 if os.path.exists(os.path.join(options.prefix, 'system.reg')) else 1

    locale = None
    if options.case == 'japanese':
        locale = japanese_locale(options)
        if locale is None:
            print('skipped: no Japanese locale (localedef failed)')
            return SKIP
    case = Case(options, options.case)
    wine = Wine(options, locale)
    screens = os.path.join(options.artifacts, options.case)
    shutil.rmtree(screens, ignore_errors=True)
    try:
        CASES[options.case](case, wine)
    except (Failure, release.Failure) as failure:
        print('FAILED %s: %s' % (options.case, failure))
        os.makedirs(screens, exist_ok=True)
        wine.screenshot(os.path.join(screens, 'at-failure.png'))
        wine.close()
        for shot in glob.glob(os.path.join(case.work, '*.bmp')):
            png = os.path.join(screens, os.path.basename(shot)[:-4] + '.png')
            subprocess.run(['convert', shot, png], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        print('screens kept in %s' % screens)
        return 1
    except SystemExit:
        wine.close()
        shutil.rmtree(screens, ignore_errors=True)
        raise
    wine.close()
    shutil.rmtree(screens, ignore_errors=True)
    print('passed %s' % options.case)
    return 0


if __name__ == '__main__':
    sys.exit(main())
