#!/usr/bin/env python3
"""Builds the program's pictures from the pixel maps beside this script.

    make_art.py OUTDIR

writes OUTDIR/program.ico (one 32 x 32 image, 16 colours) from program.txt and
OUTDIR/toolglyphs.bmp (48 x 16, 16 colours, glyphs open, save as, copy side by side,
magenta for transparent) from open.txt, saveas.txt and copy.txt, and the program icon
for the Linux desktop as PNG files OUTDIR/hicolor/NxN/apps/glyphdock.png (N = 16, 32, 48)
from the same program.txt.

A map is text: lines starting with '#' are notes, every other line is one row of
pixels, one letter a pixel (see LEGEND).
"""
import struct
import sys
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

# The standard 16-colour palette in the system's order; the letter drawing each entry.
PALETTE = [
    ('k', (0, 0, 0)), ('r', (128, 0, 0)), ('g', (0, 128, 0)), ('o', (128, 128, 0)),
    ('n', (0, 0, 128)), ('p', (128, 0, 128)), ('t', (0, 128, 128)), ('s', (192, 192, 192)),
    ('d', (128, 128, 128)), ('R', (255, 0, 0)), ('G', (0, 255, 0)), ('Y', (255, 255, 0)),
    ('B', (0, 0, 255)), ('M', (255, 0, 255)), ('C', (0, 255, 255)), ('W', (255, 255, 255)),
]
LEGEND = {letter: index for index, (letter, _) in enumerate(PALETTE)}
TRANSPARENT = '.'
MAGENTA = LEGEND['M']
GLYPHS = ['open.txt', 'saveas.txt', 'copy.txt']


def read_map(name, width, height):
    rows = [line.rstrip('\n') for line in (HERE / name).read_text(encoding='utf-8').splitlines()
            if line.strip() and not line.startswith('#')]
    if len(rows) != height or any(len(row) != width for row in rows):
        sys.exit(f'{name}: expected {height} rows of {width} pixels')
    for y, row in enumerate(rows):
        for x, letter in enumerate(row):
            if letter != TRANSPARENT and letter not in LEGEND:
                sys.exit(f'{name}:{y + 1}:{x + 1}: unknown colour letter {letter!r}')
    return rows


def palette_bytes():
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for _, (r, g, b) in PALETTE)


def pack_4bit(rows, index_of):
    """Bottom-up rows of 4-bit pixels, each row padded to 4 bytes."""
    width = len(rows[0])
    stride = (width * 4 + 31) // 32 * 4
    out = bytearray()
    for row in reversed(rows):
        packed = bytearray(stride)
        for x, letter in enumerate(row):
            packed[x // 2] |= index_of(letter) << (4 if x % 2 == 0 else 0)
        out += packed
    return bytes(out)


def pack_mask(rows):
    """Bottom-up AND mask: a set bit lets the background through."""
    width = len(rows[0])
    stride = (width + 31) // 32 * 4
    out = bytearray()
    for row in reversed(rows):
        packed = bytearray(stride)
        for x, letter in enumerate(row):
            if letter == TRANSPARENT:
                packed[x // 8] |= 0x80 >> (x % 8)
        out += packed
    return bytes(out)


def info_header(width, height, image_size):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 0)


def program_icon(rows):
    # Transparent pixels are black in the colour bits, so the icon draws correctly
    # with the AND/XOR rule everywhere.
    colour = pack_4bit(rows, lambda c: 0 if c == TRANSPARENT else LEGEND[c])
    mask = pack_mask(rows)
    image = info_header(32, 64, len(colour) + len(mask)) + palette_bytes() + colour + mask
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4,
                                                          len(image), 6 + 16)
    return directory + image


def tool_glyphs(maps):
    rows = [''.join(parts) for parts in zip(*maps)]
    bits = pack_4bit(rows, lambda c: MAGENTA if c == TRANSPARENT else LEGEND[c])
    header = info_header(len(rows[0]), len(rows), len(bits)) + palette_bytes()
    offset = 14 + len(header)
    return struct.pack('<2sIHHI', b'BM', offset + len(bits), 0, 0, offset) + header + bits


# Sizes of the desktop icon. 32 is the map itself; the others are resampled by area, so
# an output pixel takes the covered map pixels' colours weighted by how much of it each
# covers, with the colours weighted by opacity as well (no dark fringes at the edges).
DESKTOP_SIZES = (16, 32, 48)


def rgba_rows(rows):
    colours = dict(PALETTE)
    return [[(0, 0, 0, 0) if c == TRANSPARENT else colours[c] + (255,) for c in row] for row in rows]


def resample(pixels, size):
    source = len(pixels)
    if size == source:
        return pixels
    scale = source / size

    def spans(i):
        """(source index, covered length) pairs of output pixel i, in source pixels."""
        start, end = i * scale, (i + 1) * scale
        out, s = [], int(start)
        while s < end:
            covered = min(end, s + 1) - max(start, s)
            if covered > 1e-9:
                out.append((s, covered))
            s += 1
        return out
    result = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0.0
            for sy, wy in spans(y):
                for sx, wx in spans(x):
                    pr, pg, pb, pa = pixels[sy][sx]
                    w = wx * wy * pa
                    r, g, b, a = r + pr * w, g + pg * w, b + pb * w, a + w
            area = scale * scale
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(a / area)))
        result.append(row)
    return result


def png(pixels):
    """An 8-bit RGBA PNG file, written without any library beyond zlib."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)
    height, width = len(pixels), len(pixels[0])
    raw = b''.join(b'\0' + bytes(v for p in row for v in p) for row in pixels)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    out = Path(argv[1])
    out.mkdir(parents=True, exist_ok=True)
    program = read_map('program.txt', 32, 32)
    (out / 'program.ico').write_bytes(program_icon(program))
    for size in DESKTOP_SIZES:
        folder = out / 'hicolor' / f'{size}x{size}' / 'apps'
        folder.mkdir(parents=True, exist_ok=True)
        (folder / 'glyphdock.png').write_bytes(png(resample(rgba_rows(program), size)))
    glyphs = [read_map(name, 16, 16) for name in GLYPHS]
    for name, rows in zip(GLYPHS, glyphs):
        # Magenta is the transparent key of the glyph bitmap; drawing with it would punch holes.
        if any('M' in row for row in rows):
            sys.exit(f'{name}: magenta is reserved for transparency; use "."')
    (out / 'toolglyphs.bmp').write_bytes(tool_glyphs(glyphs))


if __name__ == '__main__':
    main(sys.argv)
