#!/usr/bin/env python3
"""Writes the five 12 x 11 caption-button pictures as 4-bit Windows bitmaps.

The pictures are drawn below as text so that they can be reviewed and
changed in a diff. Magenta ('.') is the background; the button painter
treats the top-left pixel's colour as transparent, so every picture must
start with it. Run from anywhere; the .bmp files are written next to this
script and committed with it.
"""
import os
import struct

# Indices into the standard 16-colour palette below.
PIXEL = {'.': 13, '#': 0, 'g': 8, 's': 7, 'w': 15}
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

PICTURES = {
    # A diagonal arrow pointing down to the right into a corner.
    'cb_minimizetotray': [
        '............',
        '.##.......#.',
        '.###......#.',
        '..###.....#.',
        '...###.#..#.',
        '....####..#.',
        '.....###..#.',
        '....####..#.',
        '..........#.',
        '.##########.',
        '............',
    ],
    # A push-pin lying on its side, needle to the left.
    'cb_topmost_up': [
        '............',
        '....#....#..',
        '....######..',
        '....#ww.g###',
        '....#ww.g#.#',
        '#####ww.g#.#',
        '....#gggg#.#',
        '....#gggg###',
        '....######..',
        '....#....#..',
        '............',
    ],
    # The pin pushed in: head up and to the right, needle to the bottom left.
    'cb_topmost_down': [
        '............',
        '.......####.',
        '......#ww.#.',
        '.....#ww..#.',
        '....#ww..#..',
        '....#g..##..',
        '.....####...',
        '....#.......',
        '...#........',
        '..#.........',
        '............',
    ],
    # A bar with an upward triangle under it: roll the window up.
    'cb_roller_up': [
        '............',
        '.##########.',
        '.##########.',
        '............',
        '.....##.....',
        '....####....',
        '...######...',
        '..########..',
        '.##########.',
        '............',
        '............',
    ],
    # A downward triangle between two bars: roll the window down again.
    'cb_roller_down': [
        '............',
        '.##########.',
        '............',
        '.##########.',
        '..########..',
        '...######...',
        '....####....',
        '.....##.....',
        '............',
        '.##########.',
        '............',
    ],
}

WIDTH, HEIGHT = 12, 11


def encode(rows):
    assert len(rows) == HEIGHT, rows
    stride = ((WIDTH * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        assert len(row) == WIDTH, row
        line = bytearray()
        for x in range(0, WIDTH, 2):
            line.append((PIXEL[row[x]] << 4) | PIXEL[row[x + 1]])
        line.extend(b'\0' * (stride - len(line)))
        pixels.extend(line)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, rows in PICTURES.items():
        assert rows[0][0] == '.', name  # the transparent colour comes from the top-left pixel
        with open(os.path.join(here, name + '.bmp'), 'wb') as f:
            f.write(encode(rows))


if __name__ == '__main__':
    main()
