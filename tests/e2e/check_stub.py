#!/usr/bin/env python3
"""Checks the built stub: exactly 49152 bytes, imports only DLLs that the system always
takes from its own directory (comctl32 through the manifest's side-by-side binding),
carries no time stamp, and declares itself DPI-aware.

  check_stub.py OBJDUMP VORPANEX.exe
"""
import re
import subprocess
import sys

SIZE = 49152
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'comctl32.dll',
               'msvcrt.dll'}


def main():
    objdump, stub = sys.argv[1], sys.argv[2]
    problems = []
    with open(stub, 'rb') as handle:
        data = handle.read()
    if len(data) != SIZE:
        problems.append('the stub is %d bytes, not %d' % (len(data), SIZE))
    dump = subprocess.run([objdump, '-p', stub], stdout=subprocess.PIPE, check=True,
                          universal_newlines=True).stdout
    imported = {name.lower() for name in re.findall(r'DLL Name: (\S+)', dump)}
    print('imports:', ', '.join(sorted(imported)))
    if not imported:
        problems.append('no import table found')
    for name in sorted(imported - SYSTEM_DLLS):
        problems.append('imports %s at load time, before the DLL search can be restricted; '
                        'load it with LoadSystemLibrary' % name)
    stamp = re.search(r'Time/Date\s+(.*)', dump)
    if stamp is None or not stamp.group(1).startswith('Thu Jan  1 00:00:00 1970'):
        problems.append('the image carries a time stamp (%s): builds differ'
                        % (stamp.group(1) if stamp else 'none found'))
    # System DPI awareness, so that Windows does not blur the window at 150 %.
    if not re.search(rb'<dpiAware[^>]*>\s*true\s*</dpiAware>', data):
        problems.append('the manifest does not declare the stub DPI-aware')
    for problem in problems:
        print('FAILED:', problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
