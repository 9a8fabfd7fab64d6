#!/usr/bin/env python3
"""What a user installs: `cmake --install` into a prefix (the tool, its manual page and
bash completion; the page renders; the installed tool packs a setup with its built-in
stub), and the Debian package that `make package` builds (its control fields and files;
the packaged tool packs a setup too).

  test_install.py install|package --tool T --source S --build B [--cmake C] [--cpack P]
                  [--stub-embedded ON]
"""
import os
import shutil
import subprocess
import sys
import tempfile

from support import Failure, arguments, check, payload, run, skip

FILES = ['bin/vorpanex', 'share/man/man1/vorpanex.1',
         'share/bash-completion/completions/vorpanex']


def packs_a_setup(tool, work):
    """The tool, wherever it was installed, makes a setup with its own stub."""
    setup = os.path.join(work, 'setup.exe')
    run([tool, 'pack', '-o', setup, payload(os.path.join(work, 'payload'))])
    with open(setup, 'rb') as handle:
        check(handle.read(2) == b'MZ', 'the setup does not start with the stub')
    run([tool, 'test', setup])


def renders(page):
    """The page formats without a warning (groff) and reads as a manual page (man -l)."""
    shown = False
    if shutil.which('groff'):
        result = subprocess.run(['groff', '-man', '-Tutf8', '-ww', '-z', page],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(result.returncode == 0 and not result.stdout,
              'groff warns about %s:\n%s' % (page, result.stdout.decode(errors='replace')))
        shown = True
    if shutil.which('man'):
        text = run(['man', '-l', page], env=dict(os.environ, MANWIDTH='80', MAN_KEEP_FORMATTING=''))
        for heading in ('NAME', 'SYNOPSIS', 'EXIT STATUS', 'EXAMPLES'):
            check(heading in text, 'man -l shows no %s section' % heading)
        shown = True
    if not shown:
        print('note: neither groff nor man is installed; the page was not rendered')


def test_install(options, work):
    prefix = os.path.join(work, 'prefix')
    run([options.cmake, '--install', options.build, '--prefix', prefix])
    for name in FILES:
        check(os.path.isfile(os.path.join(prefix, name)), '%s was not installed' % name)
    tool = os.path.join(prefix, 'bin', 'vorpanex')
    check(os.access(tool, os.X_OK), 'the installed tool is not executable')
    for name, source in ((FILES[1], 'doc/vorpanex.1'),
                         (FILES[2], 'doc/vorpanex.bash-completion')):
        with open(os.path.join(prefix, name), 'rb') as installed, \
                open(os.path.join(options.source, source), 'rb') as original:
            check(installed.read() == original.read(), '%s differs from %s' % (name, source))
    renders(os.path.join(prefix, FILES[1]))
    run([tool, '--help'])
    if options.stub_embedded:
        packs_a_setup(tool, work)
    print('passed: installed %s' % ', '.join(FILES))


def test_package(options, work):
    if not options.stub_embedded:
        skip('the tool was built without its stub; make package refuses to package it')
    if shutil.which('dpkg-deb') is None:
        skip('dpkg-deb is not installed')
    out = os.path.join(work, 'package')
    run([options.cpack, '--config', os.path.join(options.build, 'CPackConfig.cmake'), '-B', out])
    packages = [name for name in os.listdir(out) if name.endswith('.deb')]
    check(len(packages) == 1, 'cpack made %s' % packages)
    deb = os.path.join(out, packages[0])

    info = run(['dpkg-deb', '--info', deb])
    fields = dict(line.strip().split(': ', 1) for line in info.splitlines()
                  if ': ' in line and not line.startswith('  '))
    check(fields.get('Package') == 'vorpanex', 'Package: %s' % fields.get('Package'))
    check('libc6' in fields.get('Depends', ''), 'Depends: %s' % fields.get('Depends'))
    for field in ('Version', 'Architecture', 'Maintainer', 'Description'):
        check(fields.get(field), 'no %s field' % field)

    contents = run(['dpkg-deb', '--contents', deb])
    listed = {line.split()[-1].lstrip('.') for line in contents.splitlines()}
    for name in FILES:
        check('/usr/' + name in listed, '/usr/%s is not in the package' % name)

    root = os.path.join(work, 'root')
    run(['dpkg-deb', '-x', deb, root])
    tool = os.path.join(root, 'usr', 'bin', 'vorpanex')
    packs_a_setup(tool, work)
    print('passed: %s, %d bytes (tool %d bytes, stripped from %d)' % (
        packages[0], os.path.getsize(deb), os.path.getsize(tool),
        os.path.getsize(options.tool)))


def main():
    options = arguments('part')
    with tempfile.TemporaryDirectory(prefix='vorpanex-release-') as work:
        {'install': test_install, 'package': test_package}[options.part](options, work)
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Failure as failure:
        print('FAILED: %s' % failure)
        sys.exit(1)
