#!/usr/bin/env python3
"""Writes a stored (-lh0-) archive, bare or appended to a stub, for the stub's tests.

  make_archive.py [--stub VORPANEX.exe] -o OUT [--name-encoding cp932] FILE[=NAME]...

Format notes: each member is a level-1 header: size byte (bytes after the first two),
sum byte (low 8 bits of their sum), "-lh0-", packed size (4), original size (4), DOS
time (2), DOS date (2), attribute 0x20, level 1, name length, name, CRC-16/ARC (2),
OS id 'M', next extended header size (2, 0 here); then the data. One 0 byte ends the
archive. All fields little-endian.
"""
import argparse
import os
import struct
import sys


def crc16(data, crc=0):
    table = crc16.table
    for byte in data:
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8)
    return crc


def _table():
    table = []
    for i in range(256):
        value = i
        for _ in range(8):
            value = (value >> 1) ^ 0xA001 if value & 1 else value >> 1
        table.append(value)
    return table


crc16.table = _table()

DOS_TIME = (12 << 11) | (34 << 5) | (56 // 2)
DOS_DATE = ((2020 - 1980) << 9) | (5 << 5) | 17


def member(name, data, crc=None, method=b'-lh0-'):
    """One stored member: name is bytes in the archive's code page; crc overrides the
    stored CRC-16 (to make a damaged member); method b'-lhd-' makes a folder entry."""
    if len(name) > 230:
        raise ValueError('name too long')
    body = method + struct.pack('<IIHHBBB', len(data), len(data), DOS_TIME, DOS_DATE,
                                0x10 if method == b'-lhd-' else 0x20, 1, len(name))
    body += name + struct.pack('<HBH', crc16(data) if crc is None else crc, ord('M'), 0)
    return bytes([len(body), sum(body) & 0xFF]) + body + data


def archive(members):
    """members: (name, data) pairs; data None makes a folder entry."""
    return b''.join(member(name, b'', method=b'-lhd-') if data is None else member(name, data)
                    for name, data in members) + b'\0'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--stub', help='stub to put in front of the archive')
    parser.add_argument('-o', '--output', required=True)
    parser.add_argument('--name-encoding', default='latin-1')
    parser.add_argument('files', nargs='*', help='FILE or FILE=NAME-IN-ARCHIVE')
    options = parser.parse_args()
    members = []
    for item in options.files:
        path, _, name = item.partition('=')
        with open(path, 'rb') as handle:
            members.append((name or os.path.basename(path), handle.read()))
    data = b''
    if options.stub:
        with open(options.stub, 'rb') as handle:
            data = handle.read()
    data += archive([(name.encode(options.name_encoding), content)
                     for name, content in members])
    with open(options.output, 'wb') as handle:
        handle.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
