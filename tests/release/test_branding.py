#!/usr/bin/env python3
"""A vendor's branding with icons as designers hand them over, drawn by ImageMagick:
pack takes the 32x32, 16x16 and (with room) 48x48 images of a multi-size icon, converts
24-bit bitmaps to 32 bits, keeps PNG as PNG, says what it took and left out, and refuses
an icon without a 16 or 32 px image; --title and --version-language, shown by list.

  test_branding.py --tool T --source S --build B
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from support import Failure, arguments, check, payload, run, skip


def convert(*words):
    run(['convert'] + [str(word) for word in words])


def ico(images):
    """An .ico file of images given as PNG files or bitmaps in icon form."""
    directory, body = struct.pack('<HHH', 0, 1, len(images)), b''
    for data in images:
        if data[:4] == b'\x89PNG':
            width, bits = struct.unpack('>I', data[16:20])[0], 32
        else:
            width, bits = struct.unpack('<I', data[4:8])[0], struct.unpack('<H', data[14:16])[0]
        directory += struct.pack('<BBBBHHII', width % 256, width % 256, 0, 0, 1, bits,
                                 len(data), 6 + 16 * len(images) + len(body))
        body += data
    return directory + body


def icon_bitmap(bmp_file):
    """A .bmp file ImageMagick wrote as an icon's bitmap: no file header, the height
    doubled, an AND mask of zeros (all opaque) after the colour rows."""
    with open(bmp_file, 'rb') as handle:
        data = handle.read()[14:]
    width = struct.unpack('<I', data[4:8])[0]
    header = data[:8] + struct.pack('<i', 2 * width) + data[12:]
    return header + bytes((width + 31) // 32 * 4 * width)


def bitmaps_of(ico_file):
    """The images of an .ico file by width."""
    with open(ico_file, 'rb') as handle:
        data = handle.read()
    found = {}
    for k in range(struct.unpack('<H', data[4:6])[0]):
        width, _, _, _, _, _, size, offset = struct.unpack('<BBBBHHII', data[6 + 16 * k:22 + 16 * k])
        found[width or 256] = data[offset:offset + size]
    return found


def pack(tool, work, name, options, expect=0):
    setup = os.path.join(work, name + '.exe')
    result = subprocess.run([tool, 'pack', '-o', setup] + options + [os.path.join(work, 'payload')],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    output = (result.stdout + result.stderr).decode('utf-8', 'replace')
    check(result.returncode == expect, '%s: pack exited with %d, not %d:\n%s' % (
        name, result.returncode, expect, output))
    return setup, output


def main():
    options = arguments()
    if shutil.which('convert') is None:
        skip('ImageMagick (convert) is not installed')
    tool = options.tool
    with tempfile.TemporaryDirectory(prefix='vorpanex-branding-') as work:
        payload(os.path.join(work, 'payload'))
        art = os.path.join(work, 'art.png')
        convert('-size', '256x256', 'radial-gradient:gold-navy', '-alpha', 'set', '-channel', 'A',
                '-evaluate', 'set', '90%', '+channel', '-depth', '8', art)
        # The designer's icon: 256 (PNG), 48, 32, 24 and 16 px, all 32 bpp.
        designer = os.path.join(work, 'hanabi.ico')
        convert(art, '-define', 'icon:auto-resize=256,48,32,24,16', designer)
        images = bitmaps_of(designer)
        convert(art, '-resize', '24x24', 'PNG32:' + os.path.join(work, '24.png'))
        # A flat 48 px PNG (a few hundred bytes) leaves the test room for the stub to grow.
        convert('-size', '48x48', 'xc:#2050a0e6', 'PNG32:' + os.path.join(work, '48.png'))
        convert(art, '-resize', '32x32', '-alpha', 'off', 'BMP3:' + os.path.join(work, '32.bmp'))
        convert(art, '-resize', '32x32', 'PNG64:' + os.path.join(work, '32-deep.png'))
        convert(art, '-resize', '16x16', '-alpha', 'off', '-type', 'TrueColor',
                'BMP3:' + os.path.join(work, '16.bmp'))
        for size in (32, 16):
            convert(art, '-resize', '%dx%d' % (size, size), '-alpha', 'off', '-colors', '16',
                    '-type', 'Palette', 'BMP3:' + os.path.join(work, '%d-16.bmp' % size))
        read = lambda name: open(os.path.join(work, name), 'rb').read()
        icons = {
            # The large ones as PNG, as designers ship them; 16-colour small ones leave the
            # 48 px PNG room in the stub.
            'png-large': [images[256], read('48.png'), icon_bitmap(os.path.join(work, '32-16.bmp')),
                          read('24.png'), icon_bitmap(os.path.join(work, '16-16.bmp'))],
            'true-colour': [icon_bitmap(os.path.join(work, '32.bmp')),
                            icon_bitmap(os.path.join(work, '16.bmp'))],
            'deep-png': [read('32-deep.png')],
            'large-only': [images[256], images[48], read('24.png')],
            'sixteen-colour': [icon_bitmap(os.path.join(work, '32-16.bmp')),
                               icon_bitmap(os.path.join(work, '16-16.bmp'))],
        }
        for name, data in icons.items():
            with open(os.path.join(work, name + '.ico'), 'wb') as handle:
                handle.write(ico(data))
        ico_path = lambda name: os.path.join(work, name + '.ico')

        cases = [
            # name, icon, what pack says, what list shows
            ('designer', designer,
             ['took image 3 (32x32, 32 bpp), image 5 (16x16, 32 bpp)',
              'image 1 (256x256, 32 bpp, PNG): the setup uses 16x16, 32x32 and 48x48',
              'image 4 (24x24, 32 bpp): the setup uses',
              'image 2 (48x48, 32 bpp): no room left in the stub'],
             '32x32 32 bpp, 16x16 32 bpp'),
            ('png-large', ico_path('png-large'),
             ['took image 3 (32x32, 4 bpp), image 5 (16x16, 4 bpp), '
              'image 2 (48x48, 32 bpp, PNG)', 'image 1 (256x256, 32 bpp, PNG)'],
             '32x32 4 bpp, 16x16 4 bpp, 48x48 32 bpp'),
            ('true-colour', ico_path('true-colour'),
             ['took image 1 (32x32, 24 bpp, converted to 32 bpp), '
              'image 2 (16x16, 24 bpp, converted to 32 bpp)'],
             '32x32 32 bpp, 16x16 32 bpp'),
            ('deep-png', ico_path('deep-png'), ['took image 1 (32x32, 64 bpp, PNG)'],
             '32x32 32 bpp'),
        ]
        for name, icon, said, listed in cases:
            setup, output = pack(tool, work, name, ['--icon', icon])
            for text in said:
                check(text in output, '%s: pack does not say "%s":\n%s' % (name, text, output))
            run([tool, 'test', setup])
            listing = run([tool, 'list', setup])
            check('icon               %s\n' % listed in listing,
                  '%s: list shows no "icon %s":\n%s' % (name, listed, listing))

        _, output = pack(tool, work, 'refused', ['--icon', ico_path('large-only')], expect=1)
        check('no 16x16 or 32x32 image can be made' in output and '48x48' in output, output)

        # The window's title and the version strings' language, beside an icon small
        # enough to leave the stub room to grow.
        setup, _ = pack(tool, work, 'titled', [
            '--icon', ico_path('sixteen-colour'), '--title', 'Hanabi Paint セットアップ',
            '--version-info', 'CompanyName=Hanabi Soft K.K.', '--version-language', '0411'])
        listing = run([tool, 'list', setup])
        for text in ('title              Hanabi Paint セットアップ\n',
                     'version language   0411\n', 'CompanyName        Hanabi Soft K.K.\n'):
            check(text in listing, 'list shows no "%s":\n%s' % (text.strip(), listing))
        setup, _ = pack(tool, work, 'english', ['--version-info', 'ProductName=Hanabi Paint'])
        stub = json.loads(run([tool, 'list', '--format=json', setup]))[0]['stub']
        check(stub['title'] == 'Setup is Self-Extracting' and stub['version_language'] == '0409',
              'title %r, language %r' % (stub['title'], stub['version_language']))
    print('passed: designer icons taken and left out as expected; title and language listed')
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Failure as failure:
        print('FAILED: %s' % failure)
        sys.exit(1)
