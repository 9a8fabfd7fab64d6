"""What the release tests share: their arguments, a payload to pack, and signing."""
import argparse
import os
import shutil
import subprocess
import sys

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def skip(message):
    print('skipped: ' + message)
    sys.exit(SKIP)


def arguments(extra=None):
    parser = argparse.ArgumentParser()
    if extra:
        parser.add_argument(extra)
    parser.add_argument('--tool', required=True)
    parser.add_argument('--source', required=True)
    parser.add_argument('--build', required=True)
    parser.add_argument('--cmake', default='cmake')
    parser.add_argument('--cpack', default='cpack')
    parser.add_argument('--stub-embedded', default='ON')
    options = parser.parse_args()
    options.stub_embedded = options.stub_embedded.upper() in ('ON', '1', 'TRUE', 'YES')
    return options


def run(command, expect=0, **keywords):
    """Runs a command; its output as text. Fails unless it exits with `expect`."""
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            **keywords)
    output = result.stdout.decode('utf-8', 'replace')
    if expect is not None and result.returncode != expect:
        raise Failure('%s exited with %d, not %d:\n%s%s' % (
            ' '.join(command), result.returncode, expect, output,
            result.stderr.decode('utf-8', 'replace')))
    return output


def payload(directory):
    """A folder that pack accepts: a setup program (any bytes will do here) and a text."""
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, 'SETUP.EXE'), 'wb') as handle:
        handle.write(b'MZ' + bytes(range(256)) * 64)
    with open(os.path.join(directory, 'readme.txt'), 'w') as handle:
        handle.write(''.join('line %d of the readme\n' % i for i in range(3000)))
    return directory


def sign(unsigned, signed, work):
    """Signs `unsigned` into `signed` with a throwaway certificate, as a vendor signs a
    setup with osslsigncode; returns the certificate. Exits as skipped without the tools."""
    for program in ('openssl', 'osslsigncode'):
        if shutil.which(program) is None:
            skip('%s is not installed (Debian package %s; scripts/install-deps.sh '
                 'installs it)' % (program, program))
    key = os.path.join(work, 'signing.key')
    certificate = os.path.join(work, 'signing.crt')
    run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-sha256',
         '-days', '2', '-subj', '/CN=vorpanex test signer',
         '-addext', 'extendedKeyUsage=codeSigning',
         '-keyout', key, '-out', certificate])
    if os.path.exists(signed):
        os.remove(signed)
    run(['osslsigncode', 'sign', '-certs', certificate, '-key', key, '-h', 'sha256',
         '-n', 'vorpanex test setup', '-in', unsigned, '-out', signed])
    return certificate
