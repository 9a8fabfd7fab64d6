#!/usr/bin/env python3
"""What a user installs: `cmake --install` into a prefix (the stripped tool, its
compressed manual page, bash completion, copyright and changelog; the page renders; the
installed tool packs a setup with its built-in stub), and the Debian package that `make
package` builds (its control fields and files; lintian finds nothing to report; the
packaged tool packs a setup too).

  test_install.py install|package --tool T --source S --build B [--cmake C] [--cpack P]
                  [--stub-embedded ON]
"""
import gzip
import os
import shutil
import subprocess
import sys
import tempfile

from support import Failure, arguments, check, payload, run, skip

FILES = ['bin/vorpanex', 'share/man/man1/vorpanex.1.gz',
         'share/bash-completion/completions/vorpanex',
         'share/doc/vorpanex/copyright', 'share/doc/vorpanex/changelog.gz']
# Each installed file that has a source, and whether it is installed gzipped.
SOURCES = [(FILES[1], 'doc/vorpanex.1', True),
           (FILES[2], 'doc/vorpanex.bash-completion', False),
           (FILES[3], 'debian/copyright', False),
           (FILES[4], 'debian/changelog', True)]


def has_debug_information(program):
    """Whether an ELF program still carries .debug_* sections (readelf, from binutils)."""
    if shutil.which('readelf') is None:
        print('note: readelf is not installed; not checked that the tool is stripped')
        return False
    return '.debug_' in run(['readelf', '-S', '-W', program])


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
        with open(page, 'rb') as handle:
            source = handle.read()
        if page.endswith('.gz'):
            source = gzip.decompress(source)
        result = subprocess.run(['groff', '-man', '-Tutf8', '-ww', '-z'], input=source,
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
    check(not has_debug_information(tool), 'the installed tool is not stripped')
    for name, source, zipped in SOURCES:
        with open(os.path.join(prefix, name), 'rb') as installed, \
                open(os.path.join(options.source, source), 'rb') as original:
            data = installed.read()
            if zipped:
                check(data[4:8] == bytes(4), '%s carries a time stamp (gzip -n)' % name)
                data = gzip.decompress(data)
            check(data == original.read(), '%s differs from %s' % (name, source))
    renders(os.path.join(prefix, FILES[1]))
    run([tool, '--help'])
    if options.stub_embedded:
        packs_a_setup(tool, work)
    print('passed: installed %s' % ', '.join(FILES))


def lintian(deb):
    """Debian's checks report no error and no warning (notes of lower levels may stay)."""
    if shutil.which('lintian') is None:
        print('note: lintian is not installed (Debian package lintian); the package was '
              'not checked against Debian policy')
        return
    result = subprocess.run(['lintian', '--fail-on', 'error,warning', deb],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    report = result.stdout.decode('utf-8', 'replace')
    check(result.returncode == 0, 'lintian reports:\n%s' % report)


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

    lintian(deb)
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
