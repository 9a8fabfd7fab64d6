#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/.

Inputs named cov-* are kept: a fuzzing run's corpus merged down to the inputs that add
coverage (see README.md). Seeds: the interoperability archives, members cut out of them for the decoder target,
small hand-built archives and streams, and (when a built tool is given with --tool)
the packer's output for a few small files in both compressing methods. Run it again
after changing it; the files it writes are committed.
"""
import argparse
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.normpath(os.path.join(HERE, '..', 'data', 'fixtures'))


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def member(name, packed, original_size, crc, method=b'-lh0-', extended=()):
    """A level-1 member: header with its sum, extended headers, packed data."""
    ext = b''
    for i, content in enumerate(extended):
        nxt = len(extended[i + 1]) + 2 if i + 1 < len(extended) else 0
        ext += content + struct.pack('<H', nxt)
    first_ext = len(extended[0]) + 2 if extended else 0
    body = (method + struct.pack('<IIHH', len(ext) + len(packed), original_size, 0x7000, 0x5B88)
            + bytes([0x20, 1, len(name)]) + name + struct.pack('<H', crc) + b'M'
            + struct.pack('<H', first_ext))
    return bytes([len(body), sum(body) & 0xFF]) + body + ext + packed


def stored(name, data, **kw):
    return member(name, data, len(data), crc16(data), **kw)


def walk(archive):
    """(method, original size, packed data) of each member of a well-formed archive."""
    pos = 0
    while pos < len(archive) and archive[pos] != 0:
        size = archive[pos]
        body = archive[pos + 2:pos + 2 + size]
        packed_size, original_size = struct.unpack_from('<II', body, 5)
        ext = struct.unpack_from('<H', body, size - 2)[0]
        pos += 2 + size
        end = pos + packed_size
        while ext:
            pos += ext
            ext = struct.unpack_from('<H', archive, pos - 2)[0]
        yield body[:5], original_size, archive[pos:end]
        pos = end


def decoder_seed(method, original_size, packed):
    selector = {b'4': 0, b'5': 1, b'6': 2, b'7': 3}[method]
    size = min(original_size, 0x1FFFFF)
    return bytes([selector]) + struct.pack('<I', size)[:3] + packed


def clear_seeds(directory):
    """Removes the seeds this script wrote; inputs kept from fuzzing runs (cov-*) stay."""
    if os.path.isdir(directory):
        for name in os.listdir(directory):
            if not name.startswith('cov-'):
                os.remove(os.path.join(directory, name))


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), 'wb') as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--tool', help='built vorpanex tool, for seeds from its packer')
    parser.add_argument('--rows', help='directory of the hostile table\'s archives, written '
                        'by core_tests with VORPANEX_DUMP_ROWS set')
    args = parser.parse_args()
    corpus = os.path.join(HERE, 'corpus')
    archives = {}

    for name in sorted(os.listdir(FIXTURES)):
        if name.endswith('.lzh'):
            with open(os.path.join(FIXTURES, name), 'rb') as f:
                archives[name] = f.read()

    # The worked example of the block format: one block, three one-symbol codes, 'A'.
    worked = bytes.fromhex('00010000041000')
    archives['empty.lzh'] = b''
    archives['end-marker.lzh'] = b'\0'
    archives['stored-two.lzh'] = stored(b'A.TXT', b'hello\n') + stored(b'B.TXT', b'') + b'\0'
    archives['stored-extended.lzh'] = stored(
        b'EXT.TXT', b'extended headers', extended=(b'\x01NAME', b'\x40' + bytes(4))) + b'\0'
    archives['lh5-worked.lzh'] = member(b'A.TXT', worked, 1, crc16(b'A'), b'-lh5-') + b'\0'
    archives['lh6-worked.lzh'] = member(b'A.TXT', bytes.fromhex('0001000004100000'), 1,
                                        crc16(b'A'), b'-lh6-') + b'\0'
    archives['no-end-marker.lzh'] = stored(b'LAST.TXT', b'no end marker')

    if args.rows:
        for name in sorted(os.listdir(args.rows)):
            with open(os.path.join(args.rows, name), 'rb') as f:
                archives[name] = f.read()

    if args.tool:
        with tempfile.TemporaryDirectory() as work:
            files = {'SMALL.TXT': b'small text, small text, small text\n' * 20,
                     'ONE.BIN': b'x', 'ZERO.BIN': bytes(3000),
                     'SETUP.EXE': bytes(range(256)) * 8}
            for fname, data in files.items():
                with open(os.path.join(work, fname), 'wb') as f:
                    f.write(data)
            for method in ('lh5', 'lh6'):
                out = os.path.join(work, method + '.lzh')
                subprocess.run([args.tool, 'pack', '--archive-only', '-m', method, '-o', out]
                               + sorted(os.path.join(work, n) for n in files), check=True)
                with open(out, 'rb') as f:
                    archives['packer-' + method + '.lzh'] = f.read()

    for target in ('headers', 'extract'):
        clear_seeds(os.path.join(corpus, target))
        for name, data in archives.items():
            write(os.path.join(corpus, target), name, data)

    decoder_dir = os.path.join(corpus, 'decoder')
    clear_seeds(decoder_dir)
    for name, data in archives.items():
        try:
            members = list(walk(data))
        except (struct.error, IndexError):
            members = []  # a broken archive of the table: its archive seed is enough
        for index, (method_id, original_size, packed) in enumerate(members):
            if method_id[3:4] in (b'4', b'5', b'6', b'7') and packed:
                seed = decoder_seed(method_id[3:4], original_size, packed)
                write(decoder_dir, '%s-%d' % (name.replace('.lzh', ''), index), seed)

    # The packer's round trip: byte 0 picks the method (5, 6, 0 by value mod 3) and
    # --best (bit 0 of value / 3), bytes 1-2 the block budget (0: the encoder's choice).
    pack_dir = os.path.join(corpus, 'pack')
    clear_seeds(pack_dir)
    with open(os.path.join(FIXTURES, 'MANIFEST.txt'), 'rb') as f:
        text = f.read()[:2048]
    noise = bytes((i * 7919 + (i >> 3) * 104729) % 251 for i in range(1500))
    kinds = {'text': text, 'zeros': bytes(1200), 'bytes': bytes(range(256)) * 3,
             'noise': noise, 'runs': b'ab' * 300 + b'abc' * 200 + bytes(range(50)) * 4}
    for kind, data in kinds.items():
        for selector, label in ((0, 'lh5'), (1, 'lh6'), (3, 'lh5-best'), (4, 'lh6-best')):
            for budget in (0, 7):
                name = '%s-%s%s' % (kind, label, '-blocks7' if budget else '')
                write(pack_dir, name, bytes([selector]) + struct.pack('<H', budget) + data)
    write(pack_dir, 'stored', bytes([2, 0, 0]) + text[:300])
    write(pack_dir, 'empty-lh6', bytes([1, 0, 0]))


if __name__ == '__main__':
    main()
