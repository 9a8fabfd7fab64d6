#!/usr/bin/env python3
"""A setup signed with osslsigncode, as the README shows: the signature verifies, and
list, test and extract still read the archive in front of it, member for member."""
import filecmp
import json
import os
import sys
import tempfile

from support import Failure, arguments, check, payload, run, sign, skip

ARCHIVE_OFFSET = 49152


def members(listing):
    return [line for line in listing.splitlines() if line.startswith('-lh')]


def main():
    options = arguments()
    if not options.stub_embedded:
        skip('the tool was built without its stub; it cannot pack a setup')
    with tempfile.TemporaryDirectory(prefix='vorpanex-signing-') as work:
        files = payload(os.path.join(work, 'payload'))
        unsigned = os.path.join(work, 'setup.exe')
        signed = os.path.join(work, 'setup-signed.exe')
        run([options.tool, 'pack', '-o', unsigned, files])
        certificate = sign(unsigned, signed, work)

        report = run(['osslsigncode', 'verify', '-CAfile', certificate, '-in', signed])
        check('Signature verification: ok' in report, 'verify said:\n' + report)
        with open(unsigned, 'rb') as handle:
            before = handle.read()
        with open(signed, 'rb') as handle:
            after = handle.read()
        check(len(after) > len(before), 'nothing appended by signing')
        check(after[ARCHIVE_OFFSET:len(before)] == before[ARCHIVE_OFFSET:],
              'signing changed the archive itself')

        run([options.tool, 'test', signed])
        facts = json.loads(run([options.tool, 'list', '--format=json', signed]))[0]
        check(facts['appended_bytes'] == len(after) - len(before) and facts['error'] is None,
              'list --format=json: %s' % facts)
        listed = [members(run([options.tool, 'list', path])) for path in (unsigned, signed)]
        check(len(listed[0]) == 2 and listed[0] == listed[1],
              'the members listed differ once signed: %s' % listed)
        unpacked = os.path.join(work, 'unpacked')
        run([options.tool, 'extract', signed, '-C', unpacked])
        same = filecmp.dircmp(files, unpacked)
        check(not same.diff_files and not same.left_only and not same.right_only,
              'extracted files differ: %s %s %s' % (same.diff_files, same.left_only,
                                                    same.right_only))
    print('passed: signed setup (%d bytes, %d of them signature) verified, listed, tested '
          'and extracted' % (len(after), len(after) - len(before)))
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Failure as failure:
        print('FAILED: %s' % failure)
        sys.exit(1)
