#!/usr/bin/env python3
"""Draws the program's icon (a parcel with an arrow out of it) into vorpanex.ico.

Format notes: an ICO file is a 6-byte directory header, one 16-byte entry per image,
then each image as a BITMAPINFOHEADER (height doubled for the mask), a 16-entry BGRX
palette, the 4-bit colour rows bottom-up (each row padded to 4 bytes) and the 1-bit
AND mask rows bottom-up (padded likewise; 1 = transparent).
"""
import os
import struct
import sys

# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_YELLOW, GREY, YELLOW, BLUE, WHITE, DARK_BLUE = 0, 3, 8, 11, 12, 15, 4
TRANSPARENT = None


def draw(size):
    """Returns rows (top first) of palette indices or TRANSPARENT."""
    s = size / 32.0
    pixels = [[TRANSPARENT] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    # The parcel: a box with an outline, a flap line and a strip of tape.
    rect(3, 13, 29, 31, BLACK)
    rect(4, 14, 28, 30, DARK_YELLOW)
    rect(4, 14, 28, 17, YELLOW)
    rect(14, 14, 18, 30, WHITE)
    rect(4, 17, 28, 18, BLACK)
    # The arrow coming out of it, pointing up.
    rect(13, 5, 19, 15, BLUE)
    for row in range(6):
        rect(16 - 1 - row * 1.2, 1 + row, 16 + 1 + row * 1.2, 2 + row, BLUE)
    rect(14, 6, 15, 14, DARK_BLUE)
    return pixels


def image_bytes(size):
    pixels = draw(size)
    colour_row = ((size * 4 + 31) // 32) * 4
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         (colour_row + mask_row) * size, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(colour_row)
        bits = bytearray(mask_row)
        for x, value in enumerate(row):
            index = 0 if value is TRANSPARENT else value
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += line
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), 'vorpanex.ico')
    images = [image_bytes(32), image_bytes(16)]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(output, 'wb') as handle:
        handle.write(data + b''.join(images))


if __name__ == '__main__':
    main()
