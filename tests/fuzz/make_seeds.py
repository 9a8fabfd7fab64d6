#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/.

Inputs named cov-* are kept: a fuzzing run's corpus merged down to the inputs that add
coverage (see README.md). Seeds: the interoperability archives, members cut out of them for the decoder target,
small hand-built archives and streams (edge-*: streams at the decoder's limits), and (when a built tool is given with --tool)
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


class Bits:
    """Most significant bit first, as the decoder reads; zero bits pad the last byte."""

    def __init__(self):
        self.value = 0
        self.count = 0

    def put(self, value, width):
        assert 0 <= value < (1 << width)
        self.value = (self.value << width) | value
        self.count += width

    def data(self):
        pad = -self.count % 8
        return (self.value << pad).to_bytes((self.count + pad) // 8, 'big')


def canonical_codes(lengths):
    """symbol -> (code, length) for a complete set of lengths {symbol: length}."""
    codes, code = {}, 0
    for length in range(1, 17):
        for symbol in sorted(sym for sym, ln in lengths.items() if ln == length):
            codes[symbol] = (code, length)
            code += 1
        code <<= 1
    assert code == 1 << 17, 'incomplete or over-full set'
    return codes


def even_lengths(symbols):
    """A complete code over symbols, as even as it can be."""
    count = len(symbols)
    top = max(1, (count - 1).bit_length())
    shorter = (1 << top) - count
    return {sym: top - 1 if i < shorter else top for i, sym in enumerate(symbols)}


def skewed_lengths(symbols):
    """A complete code over symbols whose last two take MAX_CODE_LENGTH (16) bits."""
    assert len(symbols) == 17
    return {sym: min(i + 1, 16) for i, sym in enumerate(symbols)}


def put_length_field(bits, length):
    if length < 7:
        bits.put(length, 3)
    else:
        bits.put(7, 3)
        for _ in range(length - 7):
            bits.put(1, 1)
        bits.put(0, 1)


def put_aux_code(bits, lengths, symbols, count_bits, special=None):
    """The length code (special index 3) or a distance code; one symbol: count 0."""
    if len(lengths) == 1:
        bits.put(0, count_bits)
        bits.put(next(iter(lengths)), count_bits)
        return
    n = max(lengths) + 1
    assert n <= symbols
    bits.put(n, count_bits)
    for i in range(n):
        put_length_field(bits, lengths.get(i, 0))
        if special is not None and i + 1 == special:
            bits.put(0, 2)


# The length code that sends literal/length lengths: every symbol 0..18 has a code.
LENGTH_CODE = {sym: 4 if sym < 13 else 5 for sym in range(19)}


def put_block(bits, method, literal_lengths, distance_lengths, symbols):
    """One block: its size, three codes, and its symbols as ('lit', byte) or
    ('match', length, distance value)."""
    wide = method in '67'
    bits.put(len(symbols) & 0xFFFF, 16)
    put_aux_code(bits, LENGTH_CODE, 19, 5, special=3)
    if len(literal_lengths) == 1:
        bits.put(0, 9)
        bits.put(next(iter(literal_lengths)), 9)
    else:
        length_codes = canonical_codes(LENGTH_CODE)
        n = max(literal_lengths) + 1
        bits.put(n, 9)
        i = 0
        while i < n:
            if literal_lengths.get(i, 0):
                bits.put(*length_codes[literal_lengths[i] + 2])
                i += 1
                continue
            run = 0
            while i + run < n and not literal_lengths.get(i + run, 0):
                run += 1
            run = min(run, 531)
            if run >= 20:
                bits.put(*length_codes[2])
                bits.put(run - 20, 9)
            elif run >= 3:
                run = min(run, 18)
                bits.put(*length_codes[1])
                bits.put(run - 3, 4)
            else:
                run = 1
                bits.put(*length_codes[0])
            i += run
    put_aux_code(bits, distance_lengths, 17 if method == '7' else 16 if wide else 14,
                 5 if wide else 4)
    literal_codes = canonical_codes(literal_lengths) if len(literal_lengths) > 1 else None
    distance_codes = canonical_codes(distance_lengths) if len(distance_lengths) > 1 else None
    for item in symbols:
        symbol = item[1] if item[0] == 'lit' else item[1] + 253
        if literal_codes:
            bits.put(*literal_codes[symbol])
        if item[0] == 'match':
            value = item[2]
            code = value.bit_length() if value >= 2 else value
            if distance_codes:
                bits.put(*distance_codes[code])
            if code >= 2:
                bits.put(value - (1 << (code - 1)), code - 1)


def expand(symbols):
    """What the symbols decode to, from a window of zeros."""
    out = bytearray()
    for item in symbols:
        if item[0] == 'lit':
            out.append(item[1])
            continue
        for _ in range(item[1]):
            at = len(out) - item[2] - 1
            out.append(out[at] if at >= 0 else 0)
    return bytes(out)


def decoder_edge_seeds():
    """Streams at the symbol loop's edges: {name: (method, decoded bytes, packed)}."""
    seeds = {}
    matches = list(range(256, 510))
    every = list(range(510))

    # -lh7- past its 64 KiB window: literals, then 256-byte matches, then matches from
    # 65535 and 65536 bytes back (distance values 65534 and 65535), reading the bytes
    # about to be overwritten and the window's oldest; all codes even.
    body = [('lit', (i * 37 + 11) & 0xFF) for i in range(300)]
    body += [('match', 256, 299 - (i % 7)) for i in range(255)]
    tail = [('match', 256, 65535), ('match', 255, 65534), ('match', 3, 65535),
            ('match', 4, 65534), ('lit', 1), ('match', 256, 65535)] * 8
    distance = even_lengths(list(range(17)))
    block = body + tail
    bits = Bits()
    put_block(bits, '7', even_lengths(every), distance, block)
    seeds['edge-lh7-distance-65535-65536'] = ('7', expand(block), bits.data())

    # -lh6-: the largest distance (32767) and 256-byte matches that cross the end of
    # the 32 KiB window (and of the first chunk) while their source wraps.
    block = [('lit', i & 0xFF) for i in range(200)]
    block += [('match', 256, 199)] * 130
    block += [('match', 256, 32767), ('match', 256, 32766), ('match', 200, 1000)] * 4
    bits = Bits()
    put_block(bits, '6', even_lengths(every), even_lengths(list(range(16))), block)
    # Packed data past the stream, so that the fuzz target's output budget (which grows
    # with the input's size) reaches the window's end.
    seeds['edge-lh6-window-end'] = ('6', expand(block),
                                    bits.data() + b'\xa5' * 2400)

    # Codes of the greatest length: 16-bit literal/length and distance codes, 15 extra
    # distance bits, so that one symbol and its distance take 47 bits.
    literal = skewed_lengths([65, 66, 67] + matches[-14:])
    distance = skewed_lengths(list(range(17)))
    block = [('lit', 65)] * 3 + [('lit', 67), ('match', 256, 2), ('match', 255, 1)]
    block += [('match', 256, 40000), ('match', 256, 65535), ('match', 255, 32768)] * 3
    block += [('lit', 67), ('lit', 66)] * 20
    bits = Bits()
    put_block(bits, '7', literal, distance, block)
    seeds['edge-lh7-16-bit-codes'] = ('7', expand(block), bits.data())

    # Blocks of one symbol each: in turn with one-symbol codes (a symbol of no bits)
    # and with full ones.
    bits = Bits()
    block = []
    for i in range(40):
        item = ('lit', i) if i % 3 else ('match', 3 + i, i)
        block.append(item)
        if i % 2:
            symbol = item[1] if item[0] == 'lit' else item[1] + 253
            code = 0 if item[0] == 'lit' else item[2].bit_length() if item[2] >= 2 else item[2]
            put_block(bits, '5', {symbol: 0}, {code: 0}, [item])
        else:
            put_block(bits, '5', even_lengths(every), even_lengths(list(range(14))), [item])
    seeds['edge-lh5-one-symbol-blocks'] = ('5', expand(block), bits.data())

    # A short mixed stream cut short at every byte: the loop meets the end of the
    # packed data at each point of a symbol.
    block = [('lit', 72), ('lit', 105)] + [('match', 5, 1), ('lit', 33), ('match', 17, 3)] * 6
    bits = Bits()
    put_block(bits, '5', even_lengths([33, 72, 105, 5 + 253, 17 + 253]), even_lengths([1, 2]),
              block)
    whole = bits.data()
    for cut in range(1, len(whole)):
        seeds['edge-lh5-cut-%03d' % cut] = ('5', expand(block), whole[:cut])
    return seeds


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
    for name, (method, decoded, packed) in decoder_edge_seeds().items():
        write(decoder_dir, name, decoder_seed(method.encode(), len(decoded), packed))

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
