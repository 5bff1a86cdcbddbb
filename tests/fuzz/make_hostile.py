#!/usr/bin/env python3
"""Writes one file of each hostile shape whose cost the reader and glyphdock-export
bound before they pay it (tests/fuzz/corpus/README lists them):

    make_hostile.py small OUTDIR     the regression corpus: each shape a few kilobytes
    make_hostile.py readme           the corpus's README lines, one a file
    make_hostile.py full OUTDIR      each shape at the size that once took seconds to
                                     hours or gigabytes (the benchmark's inputs)
    make_hostile.py shapes OUTDIR    the same without sparse.ico (the window's test)

`full` also writes sparse.ico, 4 GB long with a few kilobytes stored, where the file
system can hold a hole (its size is set, nothing written).
"""
import struct
import sys
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / 'fixtures'))
from make_fixtures import (group_data, icon_tree, image_4bit, opaque32, pe_wrap,  # noqa: E402
                           png_chunk, vga)

SIGNATURE = b'\x89PNG\r\n\x1a\n'


def ico(entries, images):
    """An .ico file: entries (width, height, bits, image index), images laid out once each."""
    out = bytearray(struct.pack('<HHH', 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    places = []
    for image in images:
        places.append(offset)
        offset += len(image)
    for width, height, bits, k in entries:
        out += struct.pack('<BBBBHHII', width % 256, height % 256, 0, 0, 1, bits, len(images[k]), places[k])
    for image in images:
        out += image
    return bytes(out)


def png_failing_late(side):
    """A PNG the reader finds sound (its chunks inside, IEND last) whose data inflate whole
    and then fail: the last row's filter is 5, which PNG does not have."""
    stride = side * 4 + 1
    raw = bytearray(stride * side)
    raw[stride * (side - 1)] = 5
    return (SIGNATURE + png_chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 6, 0, 0, 0))
            + png_chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + png_chunk(b'IEND', b''))


def png_bad_crc():
    """A 32 x 32 PNG whose data chunk's checksum is wrong: sound to the reader, which does
    not read pixels, but no decoder (nor ImageMagick) reads it."""
    raw = b''.join(b'\0' + bytes([255, 0, 0, 255]) * 32 for _ in range(32))
    body = zlib.compress(raw, 9)
    idat = struct.pack('>I', len(body)) + b'IDAT' + body + struct.pack('>I', zlib.crc32(b'IDAT' + body) ^ 1)
    return (SIGNATURE + png_chunk(b'IHDR', struct.pack('>IIBBBBB', 32, 32, 8, 6, 0, 0, 0)) + idat
            + png_chunk(b'IEND', b''))


def bitmap(side, bits=32, padding=0):
    """A side x side bitmap icon image (colour rows and mask), `padding` zero bytes after it
    inside its stated length."""
    stride = (side * bits + 31) // 32 * 4
    mask = (side + 31) // 32 * 4 * side
    header = struct.pack('<IiiHHIIiiII', 40, side, side * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    colours = bytes(4 * (1 << bits)) if bits <= 8 else b''
    pixels = bytes((i * 37) & 0xFF for i in range(stride * side))
    return header + colours + pixels + bytes(mask) + bytes(padding)


def ne_file(icons, groups, entries):
    """A 16-bit program: an icon block of `icons` icons all at one image, a group block of
    `groups` groups all at one group data naming `entries` icons (1..icons, cycling)."""
    image = image_4bit(32, 32, vga((255, 0, 0)), opaque32)[4]
    shift = 4
    table = 0x40 + 64
    table_size = 2 + (8 + 12 * icons) + (8 + 12 * groups) + 2
    data_at = (table + table_size + 15) // 16 * 16
    image_at = data_at
    group_at = image_at + (len(image) + 15) // 16 * 16
    group = bytearray(struct.pack('<HHH', 0, 1, entries))
    for k in range(entries):
        group += struct.pack('<BBBBHHIH', 32, 32, 16, 0, 1, 4, len(image), 1 + k % icons)
    b = bytearray((group_at + len(group) + 15) // 16 * 16)
    b[0:2] = b'MZ'
    b[0x3C:0x40] = struct.pack('<I', 0x40)
    b[0x40:0x42] = b'NE'
    b[0x42] = 5
    b[0x40 + 0x36] = 2
    b[0x40 + 0x24:0x40 + 0x28] = struct.pack('<HH', 64, min(64 + table_size, 0xFFFF))
    at = table
    b[at:at + 2] = struct.pack('<H', shift)
    at += 2
    for kind, count, place, length in ((0x8003, icons, image_at, len(image)), (0x800E, groups, group_at, len(group))):
        b[at:at + 8] = struct.pack('<HHI', kind, count, 0)
        at += 8
        for k in range(count):
            b[at:at + 12] = struct.pack('<HHHHHH', place >> shift, (length + 15) >> shift, 0x1C30, 0x8001 + k, 0, 0)
            at += 12
    b[image_at:image_at + len(image)] = image
    b[group_at:group_at + len(group)] = group
    return bytes(b)


def pe_pairs(groups, entries):
    """A PE file whose `groups` icon groups share one group data of `entries` entries, all
    naming icon 1: listing it expands groups x entries images."""
    image = image_4bit(32, 32, vga((0, 0, 255)), opaque32)[4]
    data = group_data([1] * entries, 32, 32, 4, len(image))
    # made[0] is the icon's data entry, made[1] the first group's: the others share it.
    return pe_wrap(icon_tree({1: [image]}, {k: (data if k == 1 else 1) for k in range(1, groups + 1)}).b)


def empty_group_dll():
    """One icon group naming icons 5 and 6, which the file does not hold; icon 1 is there."""
    image = image_4bit(32, 32, vga((0, 255, 0)), opaque32)[4]
    return pe_wrap(icon_tree({1: [image]}, {1: group_data([5, 6], 32, 32, 4, len(image))}).b)


def shapes(full):
    """name: (bytes, the class it stands for)."""
    n = (lambda small, big: big if full else small)
    side = n(256, 2048)
    failing = png_failing_late(side)
    large = bitmap(n(64, 512))
    return {
        'empty-group.dll': (empty_group_dll(),
                            '1: an icon group naming only icons the file lacks (extract --size read an empty list)'),
        'failing-png.ico': (ico([(0, 0, 32, 0)] * n(200, 60000), [failing]),
                            '2: one PNG that fails late, named by every entry (the thumbnail decoded it once an entry)'),
        'ne-lookups.exe': (ne_file(n(200, 10000), n(200, 10000), n(200, 10000)),
                           '3: a 16-bit program whose groups x entries x icons lookups were cubic'),
        'pe-pairs.dll': (pe_pairs(n(100, 950), n(2000, 30000)),
                         '4: icon groups sharing one group data of thousands of entries (groups x entries expanded)'),
        'long-stated.ico': (ico([(16, 16, 32, 0)], [bitmap(16, 32, n(60000, 4000000))]),
                            '5: an image whose stated length far exceeds what its decoder reads'),
        'one-image-many.ico': (ico([(0, 0, 32, 0)] * n(200, 1000), [large]),
                               '6: one large image named by every entry (extract packed a copy an entry)'),
        'png-names.ico': (ico([(16, 16, 32, 0)] * n(2000, 20000), [bitmap(16)]),
                          '6: thousands of images of one size (extract --png named them in quadratic time)'),
        'bad-crc-png.ico': (ico([(32, 32, 32, 0)], [png_bad_crc()]),
                            '7: a PNG image no decoder reads (extract --png copied it as stored)'),
        # The images alone, for the decoders' harnesses.
        'failing-late.png': (failing, '2: the PNG of failing-png.ico alone'),
        'bad-crc.png': (png_bad_crc(), '7: the PNG of bad-crc-png.ico alone'),
        'bitmap-64.bmp': (large if not full else bitmap(64), '6: the bitmap of one-image-many.ico alone'),
    }


def sparse_ico(path, stated=0xFFFFF000):
    """A 16 x 16 bitmap whose stated length is about 4 GB, in a file that long whose
    rest is a hole: the first few kilobytes are all it stores."""
    head = ico([(16, 16, 32, 0)], [bitmap(16)])
    head = head[:14] + struct.pack('<I', stated) + head[18:]
    with open(path, 'wb') as f:
        f.write(head)
        f.truncate(22 + stated)


def main(argv):
    if len(argv) == 2 and argv[1] == 'readme':
        for name, (_, what) in shapes(False).items():
            print(f'{name}: class {what}')
        return
    if len(argv) != 3 or argv[1] not in ('small', 'full', 'shapes'):
        sys.exit(__doc__)
    out = Path(argv[2])
    out.mkdir(parents=True, exist_ok=True)
    for name, (data, _) in shapes(argv[1] != 'small').items():
        (out / name).write_bytes(data)
    if argv[1] == 'full':
        sparse_ico(out / 'sparse.ico')


if __name__ == '__main__':
    main(sys.argv)
