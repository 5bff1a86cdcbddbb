#!/usr/bin/env python3
"""Differential fuzz of the icon file check against the shell's own extraction.

    fuzz.py --files N --seed S [--top DIR] [--build DIR] [--work DIR] [--batch B]

Builds the pure check natively with the address and undefined-behaviour sanitizers,
writes N mutants of the seeds (the test fixtures, a 16-bit program made here, and the
PE files shipped with Wine that hold icons), and has the native check judge each one.
Every file the check passes then goes, in batches, through the probe under Wine (one
process a batch), which counts and extracts each icon. A crash or hang of the shell on
a file the check passed fails the run; such files are saved under WORK/failures. A
fault of the check itself (a sanitizer report, a read outside the file) fails it too.

Runs in the environment the harness gives (WINEPREFIX, DISPLAY), or the one
tests/fuzz/run-fuzz.sh sets up. The run is fully determined by N and S.
"""
import argparse
import os
import queue
import random
import shutil
import struct
import subprocess
import sys
import threading
import time
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, str(HERE.parent / 'fixtures'))
import make_fixtures as fx  # noqa: E402  (the fixture drawing and the crafted images)

PAGE = 4096
WINE_DLLS = Path('/usr/lib/x86_64-linux-gnu/wine/x86_64-windows')
MAX_SEED_BYTES = 2 * 1024 * 1024  # larger system files make slow mutants and add nothing


def u16(b, at):
    return struct.unpack_from('<H', b, at)[0]


def u32(b, at):
    return struct.unpack_from('<I', b, at)[0]


def put16(b, at, v):
    if 0 <= at and at + 2 <= len(b):
        struct.pack_into('<H', b, at, v & 0xFFFF)


def put32(b, at, v):
    if 0 <= at and at + 4 <= len(b):
        struct.pack_into('<I', b, at, v & 0xFFFFFFFF)


# ---- Seeds, parsed into the places a mutation aims at -----------------------------------

class Seed:
    """A sound file and the places of its parts: fields (offset, width) to change,
    boundaries to cut at, and its icon images with the fields that say where they are."""

    def __init__(self, name, data, kind):
        self.name, self.data, self.kind = name, bytes(data), kind
        self.fields = []      # (offset, width, what)
        self.bounds = set()   # offsets where a structure starts or ends
        self.images = []      # dict: at, size, size_field, place_field(s)
        self.root_types = []  # PE: offsets of root entries naming icon or group types
        self.pe = None        # PE: section table facts for placing data at the end


def parse_ico(seed):
    b = seed.data
    count = u16(b, 4)
    seed.fields += [(2, 2, 'type'), (4, 2, 'count')]
    seed.bounds.update([0, 6, 6 + 16 * count])
    for i in range(count):
        e = 6 + 16 * i
        size, at = u32(b, e + 8), u32(b, e + 12)
        seed.fields += [(e + 8, 4, 'size'), (e + 12, 4, 'offset'), (e + 4, 2, 'planes'), (e + 6, 2, 'bits')]
        seed.images.append({'at': at, 'size': size, 'kind': 'ico', 'entry': e})
        seed.bounds.update([e, at, at + size])


def rva_to_offset(sections, rva):
    for va, vsize, raw_size, raw in sections:
        if va <= rva < va + max(raw_size, 1):
            return rva - va + raw
    return None


def parse_pe(seed):
    b = seed.data
    nt = u32(b, 0x3C)
    nsec, optsize = u16(b, nt + 6), u16(b, nt + 20)
    opt = nt + 24
    magic = u16(b, opt)
    dirs = opt + (96 if magic == 0x10B else 112)
    table = opt + optsize
    sections = []
    for i in range(nsec):
        s = table + 40 * i
        sections.append((u32(b, s + 12), u32(b, s + 8), u32(b, s + 16), u32(b, s + 20)))
        seed.fields += [(s + 12, 4, 'va'), (s + 16, 4, 'rawsize'), (s + 20, 4, 'rawoffset')]
        seed.bounds.update([s, u32(b, s + 20), u32(b, s + 20) + u32(b, s + 16)])
    seed.fields += [(0x3C, 4, 'lfanew'), (nt + 6, 2, 'sections'), (nt + 20, 2, 'optsize'), (opt, 2, 'magic'),
                    (opt + 60, 4, 'headers'), (dirs - 4, 4, 'rvacount'), (dirs + 16, 4, 'resrva')]
    seed.bounds.update([0x40, nt, opt, table, table + 40 * nsec])
    res_rva = u32(b, dirs + 16)
    root = rva_to_offset(sections, res_rva)
    seed.pe = {'nt': nt, 'opt': opt, 'table': table, 'sections': sections, 'root': root}
    if root is None:
        return
    seed.bounds.add(root)

    def directory(at):
        seed.bounds.update([at, at + 16])
        seed.fields += [(at + 12, 2, 'named'), (at + 14, 2, 'ids')]
        n = u16(b, at + 12) + u16(b, at + 14)
        return [(at + 16 + 8 * i, u32(b, at + 16 + 8 * i), u32(b, at + 20 + 8 * i)) for i in range(n)]

    icons, groups = {}, []
    for place, name, target in directory(root):
        seed.fields += [(place, 4, 'typename'), (place + 4, 4, 'typetarget')]
        if name not in (3, 14) or not target & 0x80000000:
            continue
        seed.root_types.append(place)
        for nplace, nname, ntarget in directory(root + (target & 0x7FFFFFFF)):
            seed.fields += [(nplace, 4, 'name'), (nplace + 4, 4, 'nametarget')]
            if not ntarget & 0x80000000:
                continue
            for lplace, _, ltarget in directory(root + (ntarget & 0x7FFFFFFF)):
                seed.fields += [(lplace + 4, 4, 'langtarget')]
                entry = root + ltarget
                rva, size = u32(b, entry), u32(b, entry + 4)
                seed.fields += [(entry, 4, 'datarva'), (entry + 4, 4, 'datasize')]
                at = rva_to_offset(sections, rva)
                if at is None:
                    continue
                seed.bounds.update([entry, at, at + size])
                if name == 3:
                    icons[nname] = {'at': at, 'size': size, 'kind': 'pe', 'entry': entry}
                else:
                    groups.append((at, size))
    for at, size in groups:
        count = u16(b, at + 4)
        seed.fields += [(at + 4, 2, 'groupcount')]
        for i in range(count):
            e = at + 6 + 14 * i
            seed.fields += [(e + 8, 4, 'groupbytes'), (e + 12, 2, 'groupid'), (e + 6, 2, 'groupbits')]
            seed.bounds.add(e)
    seed.images = list(icons.values())


def parse_ne(seed):
    b = seed.data
    ne = u32(b, 0x3C)
    table = ne + u16(b, ne + 0x24)
    shift = u16(b, table)
    seed.fields += [(ne + 0x24, 2, 'restable'), (table, 2, 'shift')]
    seed.bounds.update([ne, table])
    at = table + 2
    while u16(b, at):
        typ, count = u16(b, at), u16(b, at + 2)
        seed.fields += [(at, 2, 'netype'), (at + 2, 2, 'necount')]
        seed.bounds.add(at)
        for i in range(count):
            e = at + 8 + 12 * i
            seed.fields += [(e, 2, 'neoffset'), (e + 2, 2, 'nelength'), (e + 6, 2, 'neid')]
            place, length = u16(b, e) << shift, u16(b, e + 2) << shift
            seed.bounds.update([place, place + length])
            if typ == 0x8003:
                seed.images.append({'at': place, 'size': length, 'kind': 'ne', 'entry': e, 'shift': shift})
            elif typ == 0x800E:
                seed.fields += [(place + 4, 2, 'groupcount'), (place + 6 + 12, 2, 'groupid')]
        at += 8 + 12 * count
    seed.bounds.add(at)


def ne_file(image):
    """A 16-bit program with one icon group naming one icon, resources in 16-byte units."""
    b = bytearray(0x100)
    b[0:2] = b'MZ'
    put32(b, 0x3C, 0x40)
    b[0x40:0x42] = b'NE'
    b[0x42] = 5
    b[0x40 + 0x36] = 2
    put16(b, 0x40 + 0x24, 64)
    table = 0x40 + 64
    put16(b, 0x40 + 0x26, 64 + 2 + 40 + 2)
    put16(b, table, 4)
    icon_at = 0x100
    units = (len(image) + 15) // 16
    group_at = icon_at + units * 16
    at = table + 2
    for typ, place, n, rid in ((0x8003, icon_at, units, 0x8001), (0x800E, group_at, 2, 0x8001)):
        put16(b, at, typ)
        put16(b, at + 2, 1)
        put16(b, at + 8, place // 16)
        put16(b, at + 10, n)
        put16(b, at + 12, 0x1C30)
        put16(b, at + 14, rid)
        at += 20
    b += image + bytes(units * 16 - len(image))
    b += fx.group_data([1], bits=4, size=len(image))[:-2] + struct.pack('<H', 1) + bytes(32 - 20)
    return bytes(b)


def load_seeds(build):
    seeds = []
    fixtures = Path(build) / 'fixtures'

    def add(name, data):
        kind = 'pe' if data[:2] == b'MZ' and data[u32(data, 0x3C):u32(data, 0x3C) + 4] == b'PE\0\0' else \
               'ne' if data[:2] == b'MZ' else 'ico'
        seed = Seed(name, data, kind)
        try:
            {'pe': parse_pe, 'ne': parse_ne, 'ico': parse_ico}[kind](seed)
        except struct.error:
            return
        if seed.images:
            seeds.append(seed)

    for path in sorted(fixtures.glob('*')):
        if path.suffix in ('.ico', '.dll') and not path.name.startswith(('crafted-', 'truncated', 'empty')):
            add(path.name, path.read_bytes())
    add('made-ne-4bit.exe', ne_file(fx.image_4bit(32, 32, 9, fx.opaque32)[4]))
    add('made-ne-32bit.exe', ne_file(fx.image_32bit(32, 32, fx.gradient)[4]))
    add('made-ne-png.exe', ne_file(fx.image_png(32, lambda x, y: (0, 0, 255, 255))[4]))
    for path in sorted(WINE_DLLS.glob('*')):
        if path.suffix.lower() in ('.dll', '.exe', '.cpl', '.ocx') and path.stat().st_size <= MAX_SEED_BYTES:
            data = path.read_bytes()
            if len(data) > 0x40 and data[:2] == b'MZ':
                add(path.name, data)
    return seeds


# ---- Images the mutator writes ----------------------------------------------------------

INTERESTING32 = [0, 1, 2, 12, 16, 31, 32, 33, 40, 64, 255, 256, 257, 512, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                 0x40000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFF00]
HEADER_SIZES = [12, 40, 52, 56, 108, 124, 0, 16, 64, 0x474E5089, 0xFFFFFFFF]
BIT_COUNTS = [0, 1, 2, 4, 8, 15, 16, 24, 32, 33, 48, 64, 0xFFFF]


def dib_image(rng, width=None, height=None, bits=None, header=40, compression=0, colours=0, cut=None):
    width = width if width is not None else rng.choice([1, 16, 32, 48, 256])
    height = height if height is not None else 2 * width
    bits = bits if bits is not None else rng.choice([1, 4, 8, 24, 32])
    h = struct.pack('<IiiHHIIiiII', header, width, height, 1, bits, compression, 0, 0, 0, colours, 0)
    h += bytes(max(0, min(header, 124) - 40))
    if compression == 3:
        h += struct.pack('<III', 0xF800, 0x07E0, 0x001F) if header == 40 else b''
    real_w = max(0, min(width if width < 0x80000000 else 0, 256))
    real_h = max(0, min(abs(height) // 2, 256))
    table = (colours or (1 << bits if bits <= 8 else 0)) if colours < 1024 else 0
    body = table * 4 + ((real_w * min(bits, 64) + 31) // 32 * 4 + (real_w + 31) // 32 * 4) * real_h
    image = bytearray(h + bytes(min(body, 1 << 20)))
    for i in range(len(h), len(image), 7):
        image[i] = (i * 13) & 0xFF
    return bytes(image[:cut] if cut is not None else image)


def riff_image(rng):
    """An animated cursor (or a broken one): the chunk lengths and header counts vary."""
    kind = rng.randrange(6)
    anih_len = rng.choice([36, 0, 8, 0x7FFFFFFF, 0xFFFFFFF0])
    steps = rng.choice([1, 2, 0x7FFFFFFF, 0])
    frames = rng.choice([1, 0, 0x7FFFFFFF])
    anih = struct.pack('<9I', 36, frames, steps, 32, 32, 32, 1, 10, rng.choice([1, 3, 0]))
    if kind == 0:
        return fx.riff_image()
    icon = fx.ico_file([fx.image_4bit(32, 32, 12, fx.opaque32)])
    icon_len = rng.choice([len(icon), 0x7FFFFFFF, len(icon) + 100, 0])
    fram = b'fram' + b'icon' + struct.pack('<I', icon_len) + icon
    body = b'ACON' + b'anih' + struct.pack('<I', anih_len) + (anih if kind != 1 else b'')
    if kind >= 3:
        body += b'LIST' + struct.pack('<I', rng.choice([len(fram), 0x7FFFFFFF, 4])) + fram
    if kind == 4:
        body += b'seq ' + struct.pack('<I', rng.choice([4 * steps & 0xFFFFFFFF, 0x7FFFFFF0])) + bytes(8)
    if kind == 5:
        body = body[:rng.randrange(8, len(body) + 1)]
    return b'RIFF' + struct.pack('<I', rng.choice([len(body), 12, 0xFFFFFFFF])) + body


_BOMBS = {}


def bomb_data(side):
    """A zlib stream of side x side zero RGBA pixels (made once: 1.6 GB of rows compress
    to about 1.6 MB at 20000)."""
    if side not in _BOMBS:
        packer = zlib.compressobj(9)
        row = bytes(1 + 4 * side)
        _BOMBS[side] = b''.join(packer.compress(row) for _ in range(side)) + packer.flush()
    return _BOMBS[side]


def png_image(rng):
    kind = rng.randrange(9)
    if kind == 8:  # a decompression bomb: sides far beyond any icon, and the data for them
        side = rng.choice([2000, 2000, 2000, 20000])
        return (b'\x89PNG\r\n\x1a\n' + fx.png_chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 6, 0, 0, 0))
                + fx.png_chunk(b'IDAT', bomb_data(side)) + fx.png_chunk(b'IEND', b''))
    side = rng.choice([1, 16, 32, 256])
    width, height = side, side
    if kind == 0:
        width, height = rng.choice([(257, 1), (1, 257), (20000, 20000), (1000000, 500), (0, 16), (0x80000000, 1)])
    depth, colour_type = 8, 6
    if kind == 1:
        depth, colour_type = rng.choice([(3, 6), (8, 5), (16, 2), (1, 3), (32, 6)])
    raw = zlib.compress(bytes(min(height, 64) * (1 + min(width, 256) * 4)), 9)
    ihdr = struct.pack('>IIBBBBB', width & 0xFFFFFFFF, height & 0xFFFFFFFF, depth, colour_type, 0, 0, 0)
    chunks = [fx.png_chunk(b'IHDR', ihdr), fx.png_chunk(b'IDAT', raw), fx.png_chunk(b'IEND', b'')]
    if kind == 2:  # IHDR of another length
        chunks[0] = struct.pack('>I', rng.choice([12, 14, 0, 0xFFFFFFFF])) + chunks[0][4:]
    if kind == 3:  # a chunk length past the image
        chunks[1] = struct.pack('>I', rng.choice([len(raw) + 1, 0x7FFFFFFF, 0xFFFFFFFF])) + chunks[1][4:]
    if kind == 4:  # no IEND
        chunks = chunks[:2]
    if kind == 5:  # IDAT first
        chunks = [chunks[1], chunks[0], chunks[2]]
    if kind == 6:  # many small chunks
        chunks = [chunks[0]] + [fx.png_chunk(b'tEXt', b'k\0v')] * rng.choice([10, 5000]) + chunks[1:]
    png = b'\x89PNG\r\n\x1a\n' + b''.join(chunks)
    if kind == 7:  # cut at a chunk boundary or inside one
        png = png[:rng.randrange(8, len(png))]
    return png


def class_image(rng):
    """One image of the five kinds the shell mishandles, or a near-miss of one."""
    kind = rng.randrange(9)
    if kind == 0:
        return riff_image(rng)
    if kind == 1:  # core header, with 32 where an info header keeps its bit count
        if rng.random() < 0.3:
            return fx.core_image()
        bits = rng.choice([1, 4, 8, 24, 32])
        width, height = rng.choice([(1, 0), (1, 1), (1, 2), (4, 8), (32, 64)])
        table = bytearray((1 << bits) * 3 if bits <= 8 else 4)
        table[2:4] = b'\x20\x00'
        return struct.pack('<IHHHH', 12, width, height, 1, bits) + bytes(table) + bytes(rng.choice([0, 4, 64, 4096]))
    if kind == 2:  # 32-bit sizes that wrap
        width, height = rng.choice([(0x40000000, 2), (0x8000, 0x10000), (32, -0x80000000), (0x10000, 0x10000),
                                    (0x7FFFFFFF, 2), (257, 514), (256, 512), (32, 63), (-32, 64), (32, 0)])
        return dib_image(rng, width, height, 32, cut=rng.choice([40, 44, None]))
    if kind == 3:
        return png_image(rng)
    if kind == 4:  # header sizes of the family and beyond
        header = rng.choice(HEADER_SIZES)
        return dib_image(rng, header=header if header <= 124 else header, cut=rng.choice([None, 40, header if header < 200 else 40]))
    if kind == 5:  # colour tables
        bits = rng.choice([1, 4, 8, 24, 32])
        return dib_image(rng, bits=bits, colours=rng.choice([0, 1, 2, 16, 256, 257, 0x7FFFFFFF, 0xFFFFFFFF]))
    if kind == 6:  # compression and bit fields
        return dib_image(rng, bits=rng.choice([1, 8, 16, 24, 32]), compression=rng.choice([0, 1, 2, 3, 4, 5, 6]),
                         header=rng.choice([40, 52, 56, 108, 124]))
    if kind == 7:  # a sound image cut at a part boundary: header, table, colour rows, mask rows
        image = dib_image(rng, bits=rng.choice([4, 8, 32]))
        return image[:rng.choice([8, 12, 39, 40, 40 + 64, len(image) // 2, len(image) - 128, len(image) - 1])]
    image = bytearray(dib_image(rng))  # planes and bit counts
    struct.pack_into('<HH', image, 12, rng.choice([0, 1, 2, 0xFFFF]), rng.choice(BIT_COUNTS))
    return bytes(image)


# ---- Mutations --------------------------------------------------------------------------

def place_image_at_end(seed, out, image_info, image):
    """Writes the image as the last bytes of the file, ending on a page boundary, and points
    its entry at it. False when this kind of file cannot take it there."""
    kind = image_info['kind']
    if kind == 'ico':
        end = (len(out) + len(image) + PAGE - 1) // PAGE * PAGE
        at = end - len(image)
        out.extend(bytes(at - len(out)))
        out.extend(image)
        put32(out, image_info['entry'] + 8, len(image))
        put32(out, image_info['entry'] + 12, at)
        return True
    if kind == 'ne':
        unit = 1 << image_info['shift']
        image = image + bytes((-len(image)) % unit)
        end = (len(out) + len(image) + PAGE - 1) // PAGE * PAGE
        at = end - len(image)
        if at >> image_info['shift'] > 0xFFFF or len(image) >> image_info['shift'] > 0xFFFF or at % unit:
            return False
        out.extend(bytes(at - len(out)))
        out.extend(image)
        put16(out, image_info['entry'], at >> image_info['shift'])
        put16(out, image_info['entry'] + 2, len(image) >> image_info['shift'])
        return True
    # PE: grow the section that ends the file and has the highest address, drop what follows.
    pe = seed.pe
    sections = pe['sections']
    last = max(range(len(sections)), key=lambda i: sections[i][3] + sections[i][2])
    if max(range(len(sections)), key=lambda i: sections[i][0]) != last:
        return False
    va, vsize, raw_size, raw = sections[last]
    del out[raw + raw_size:]
    end = (len(out) + len(image) + PAGE - 1) // PAGE * PAGE
    at = end - len(image)
    out.extend(bytes(at - len(out)))
    out.extend(image)
    s = pe['table'] + 40 * last
    put32(out, s + 16, end - raw)
    put32(out, s + 8, max(vsize, end - raw))
    align = u32(out, pe['opt'] + 32) or 0x1000
    put32(out, pe['opt'] + 56, (va + max(vsize, end - raw) + align - 1) // align * align)
    put32(out, image_info['entry'], va + at - raw)
    put32(out, image_info['entry'] + 4, len(image))
    return True


def mutate_field(rng, out, field):
    at, width, what = field
    if what in ('typename', 'name'):
        old = u32(out, at)
        value = rng.choice([old | 0x10000, old | 0x80000000, old | 0x7FFF0000, (old & 0xFFFF) | 0x00010000,
                            3, 14, 0x80000003, 0x8000000E, rng.randrange(1 << 32)])
    elif what in ('groupid', 'neid'):
        value = rng.choice([0, 1, 2, 99, 0x8001, 0xFFFF, u16(out, at) + 1])
    elif width == 2:
        value = rng.choice([0, 1, 2, 3, 4, 14, 16, 30, 0x7FFF, 0x8000, 0xFFFF, u16(out, at) + 1, u16(out, at) - 1])
    else:
        old = u32(out, at)
        value = rng.choice(INTERESTING32 + [old + 1, old - 1, old + 0x1000, old ^ 0x80000000, old * 2])
    (put16 if width == 2 else put32)(out, at, value)


def mutant(rng, seed):
    out = bytearray(seed.data)
    notes = []
    image_info = rng.choice(seed.images)
    image = bytes(seed.data[image_info['at']:image_info['at'] + image_info['size']])
    roll = rng.random()
    if roll < 0.55:
        image = class_image(rng)
        notes.append('class image')
    elif roll < 0.75 and len(image) >= 40 and image[:4] != b'\x89PNG':
        image = bytearray(image)
        at = rng.choice([0, 4, 8, 12, 14, 16, 20, 32])
        if at in (12, 14):
            struct.pack_into('<H', image, at, rng.choice(BIT_COUNTS if at == 14 else [0, 1, 2]))
        else:
            struct.pack_into('<I', image, at, rng.choice(INTERESTING32 + HEADER_SIZES))
        image = bytes(image[:rng.choice([len(image)] * 3 + [40, len(image) - 1, len(image) // 2])])
        notes.append('dib field %d' % at)
    elif roll < 0.85 and image[:4] == b'\x89PNG':
        image = bytearray(image)
        at = rng.choice([8, 16, 20, 24, 25, 33])
        struct.pack_into('>I', image, at, rng.choice(INTERESTING32)) if at in (8, 16, 20, 33) else \
            struct.pack_into('B', image, at, rng.randrange(256))
        image = bytes(image)
        notes.append('png field %d' % at)
    # The changed image goes to the end of the file, on a page boundary, most of the time.
    if rng.random() < 0.85:
        if not place_image_at_end(seed, out, image_info, image):
            notes.append('kept in place')
            out[image_info['at']:image_info['at'] + min(len(image), image_info['size'])] = \
                image[:image_info['size']]
    else:
        out[image_info['at']:image_info['at'] + min(len(image), image_info['size'])] = image[:image_info['size']]
    # Root entries that alias the icon types.
    if seed.root_types and rng.random() < 0.2:
        place = rng.choice(seed.root_types)
        put32(out, place, (u32(out, place) & 0xFFFF) | rng.choice([0x10000, 0x80000000, 0x7FFF0000, 0xFFFF0000]))
        notes.append('alias')
    # Headers, group entries, resource trees.
    for _ in range(rng.choice([0, 0, 1, 1, 2])):
        if seed.fields:
            field = rng.choice(seed.fields)
            mutate_field(rng, out, field)
            notes.append(field[2])
    # Cut at a structure boundary, sometimes a byte or two off.
    if rng.random() < 0.12:
        bounds = sorted(x for x in seed.bounds | {len(out)} if 0 < x <= len(out))
        if bounds:
            cut = rng.choice(bounds) + rng.choice([0, 0, -1, 1, -2])
            del out[max(1, cut):]
            notes.append('cut')
    if rng.random() < 0.08:
        for _ in range(rng.randrange(1, 8)):
            if out:
                out[rng.randrange(len(out))] = rng.randrange(256)
        notes.append('bytes')
    return bytes(out), ' '.join(notes)


# ---- Whole-file shapes ------------------------------------------------------------------
# Classes of their own, beside the seed mutants: each makes a file of one shape that once
# crashed, stalled or slowed the shell or the check, with its sizes and contents varied
# (and near misses that are sound).

def _good(rng):
    return rng.choice([fx.image_4bit(32, 32, 9, fx.opaque32)[4], fx.image_32bit(32, 32, fx.gradient)[4],
                       fx.image_4bit(16, 16, 12, fx.opaque16)[4]])


def _payload(rng):
    """An icon image: sound, or one of the kinds the decoder mishandles."""
    return rng.choice([_good(rng), _good(rng), fx.riff24(), fx.core_image(), class_image(rng)])


def shape_unread_group(rng):
    """A group whose header the shell does not read or that has no entries, so that it asks
    for icon 0 (0x8000 in a 16-bit program), which no group names."""
    good = _good(rng)
    group = bytearray(fx.group_data([1], bits=4, size=len(good)))
    how = rng.randrange(4)
    if how == 0:
        group[0:2] = struct.pack('<H', rng.choice([1, 2, 0x8000, 0xFFFF]))
    elif how == 1:
        group[2:4] = struct.pack('<H', rng.choice([0, 4, 8, 0x100, 0xFFFC]))
    elif how == 2:
        group = group[:4] + b'\0\0' + group[6:]
    icons = {1: [good]}
    if rng.random() < 0.85:
        icons[0] = [_payload(rng)]
    if rng.random() < 0.3:  # a 16-bit program instead
        data = bytearray(ne_file(icons.get(0, [good])[0]))
        ne = u32(data, 0x3C)
        table = ne + u16(data, ne + 0x24)
        put16(data, table + 2 + 8 + 6, 0x8000 if 0 in icons else 0x8001)
        group_at = u16(data, table + 2 + 20 + 8) << u16(data, table)
        data[group_at:group_at + 6] = group[:6]
        return bytes(data)
    return fx.pe_wrap(fx.icon_tree(icons, {1: bytes(group)}).b)


def shape_two_sections(rng):
    """Two sections at one address: the first holds the start of an icon's (or a group's)
    data, perhaps not its end; the second the whole range, with sound data."""
    good = _good(rng)
    gd = fx.group_data([1], bits=4, size=len(good))
    sec = fx.icon_tree({1: [good]}, {1: gd}).b
    target = good if rng.random() < 0.7 else gd
    at = sec.find(target)
    bad = bytearray(sec)
    junk = rng.choice([fx.riff24(), fx.core_image(), bytes(24), fx.wrapping_image()])
    bad[at:at + len(junk)] = junk[:len(bad) - at]
    first = (len(bad) + 0x1FF) // 0x200 * 0x200
    body = bytes(bad) + bytes(first - len(bad)) + bytes(sec)
    raw_a = at + rng.choice([1, 8, 16, len(target) - 1, len(target), len(target) + 64])
    sections = [(0x1000, min(raw_a, len(bad)), 0x200), (0x1000, len(sec), 0x200 + first)]
    if rng.random() < 0.2:
        sections.reverse()
    return fx.pe_wrap(body, sections)


_ZTXT_SMALL = []


def shape_compressed_chunks(rng):
    """A PNG image with compressed text or profile chunks (or plain text) around its pixels."""
    if not _ZTXT_SMALL:
        _ZTXT_SMALL.append(zlib.compress(bytes(rng.choice([1 << 20])), 9))
    kind = rng.choice([b'zTXt', b'iTXt', b'iCCP', b'tEXt'])
    body = {b'zTXt': b'k\0\0' + _ZTXT_SMALL[0], b'iTXt': b'k\0\1\0\0\0' + _ZTXT_SMALL[0],
            b'iCCP': b'p\0\0' + _ZTXT_SMALL[0], b'tEXt': b'k\0value'}[kind]
    chunks = [fx.png_chunk(kind, body)] * rng.choice([1, 2, 30, 300])
    png = fx.png_with_chunks(rng.choice([16, 32, 48]), chunks)
    if rng.random() < 0.5:
        return fx.ico_file([(32, 32, 0, 32, png)])
    return fx.pe_wrap(fx.icon_tree({1: [png]}, {1: fx.group_data([1], 32, 32, 32, len(png))}).b)


def shape_shared_image(rng):
    """Many groups sharing one group data (or one image) that names a large image."""
    side = rng.choice([32, 256, 1024, 1024, 2048])
    groups = rng.choice([1, 10, 100, 1000, 2000])
    return fx.shared_image_dll(groups, side)


def shape_many_sections(rng):
    return fx.many_sections_dll(rng.choice([2, 96, 97, 1000, 65535]), rng.choice([1, 100, 32000]))


def shape_thrash(rng):
    return fx.thrashing_dll(rng.choice([100, 5000, 32000]), rng.choice([0x1000, 0x10000, 0xF0000]))


def shape_sound_odd(rng):
    """The shapes of real files the shell reads without fault, varied."""
    kind = rng.randrange(6)
    if kind == 0:
        data = fx.maskless_ico(rng.choice([32, 24, 8]))
        return data[:rng.choice([len(data), len(data), len(data) - rng.randrange(1, 200)])]
    if kind == 1:
        return fx.top_down_ico()
    if kind == 2:
        data = bytearray(fx.cut_unpicked_ico())
        if rng.random() < 0.5:  # make the cut entry one the shell may pick
            data[6 + 16:6 + 18] = bytes([32, 32])
            put16(data, 6 + 16 + 6, rng.choice([4, 8, 24, 32, 33]))
        return bytes(data)
    if kind == 3:
        side = rng.choice([(1025, 1025), (2048, 16), (4096, 1024), (4097, 1), (3000, 3000)])
        return fx.big_png_ico(*side)
    return fx.absent_icon_dll(kind == 5)


SHAPES = [('unread-group', shape_unread_group), ('two-sections', shape_two_sections),
          ('compressed-chunks', shape_compressed_chunks), ('shared-image', shape_shared_image),
          ('many-sections', shape_many_sections), ('thrash', shape_thrash), ('sound-odd', shape_sound_odd)]
SHAPE_SHARE = 0.15  # of the files made


# ---- The run ----------------------------------------------------------------------------

def build_native_check(top, work):
    exe = work / 'fuzzcheck'
    sources = [top / 'src/iconfile/iconfile.cpp', top / 'src/iconfile/iconimage.cpp', top / 'src/iconfile/pngcodec.cpp',
               top / 'src/collect/iconfilecheck.cpp', HERE / 'fuzzcheck.cpp']
    headers = [top / 'src/iconfile/iconfile.h', top / 'src/iconfile/iconimage.h', top / 'src/iconfile/pngcodec.h',
               top / 'src/collect/iconfilecheck.h']
    if exe.exists() and all(exe.stat().st_mtime > s.stat().st_mtime for s in sources + headers):
        return exe
    cmd = ['g++', '-std=c++17', '-O1', '-g', '-fsanitize=address,undefined', '-fno-sanitize-recover=all',
           '-fno-omit-frame-pointer', '-Wall', '-Wextra', '-I', str(top / 'src')] + [str(s) for s in sources] + \
          ['-lz', '-o', str(exe)]
    print('fuzz: building the native check and bitmap decoder with the sanitizers', flush=True)
    subprocess.run(cmd, check=True)
    return exe


def wine_path(path):
    return 'Z:' + str(path).replace('/', '\\')


def run_probe(probe, files, list_path, hang_seconds, extract, checks):
    """Runs the probe over the files (extracting those in `extract`, timing the check on
    all; the check's microseconds under Wine go into `checks`, by file); returns (done,
    culprit, what, slowest): the files it finished, the file it crashed or hung on with
    what happened (culprit None when all ran), and the longest time one file took."""
    list_path.write_text(''.join(('E ' if f in extract else 'C ') + wine_path(f) + '\n' for f in files))
    env = dict(os.environ, WINEDEBUG='-all', WINEDLLOVERRIDES='winedbg.exe=d')
    proc = subprocess.Popen(['wine', str(probe), wine_path(list_path)], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, env=env)
    lines = queue.Queue()

    def reader():
        for raw in proc.stdout:
            lines.put(raw.decode('latin-1').rstrip('\r\n'))
        lines.put(None)

    threading.Thread(target=reader, daemon=True).start()
    done, current, what, slowest, began = 0, None, None, 0.0, 0.0
    # The first file waits for the process to start as well.
    deadline = time.monotonic() + hang_seconds + 30
    while True:
        try:
            line = lines.get(timeout=max(0.1, deadline - time.monotonic()))
        except queue.Empty:
            what = 'hang (no answer for %g s)' % hang_seconds
            proc.kill()
            break
        if line is None:
            break
        if line.startswith('T '):
            current = done
            began = time.monotonic()
            deadline = began + hang_seconds
        elif line.startswith('K ') and current is not None:
            fields = line.split()
            checks[files[current]] = (int(fields[1]), int(fields[3]) if len(fields) > 3 else int(fields[1]))
        elif line.startswith('D '):
            done += 1
            current = None
            slowest = max(slowest, time.monotonic() - began)
        elif line.startswith('X '):
            what = 'crash (exception %s)' % line[2:]
    proc.wait()
    if current is None and done < len(files) and what is None:
        # Ended before starting the next file: nothing names a file; treat the next as suspect.
        current, what = done, 'probe ended (exit code %s)' % proc.returncode
    if current is not None and what is None:
        what = 'crash (exit code %s)' % proc.returncode
    return done, (files[current] if current is not None else None), what, slowest


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--files', type=int, default=20000)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--top', default=str(HERE.parent.parent))
    ap.add_argument('--build', default=os.environ.get('GLYPHDOCK_BUILD_DIR', str(HERE.parent.parent / 'build')))
    ap.add_argument('--work', default=None)
    ap.add_argument('--batch', type=int, default=100, help='files a probe process')
    ap.add_argument('--chunk', type=int, default=250, help='files written and judged at a time')
    ap.add_argument('--hang', type=float, default=5.0,
                    help='seconds one file may take in the probe (a PNG bomb takes 9 s, a real file well under 1)')
    args = ap.parse_args()

    top, build = Path(args.top).resolve(), Path(args.build).resolve()
    work = Path(args.work).resolve() if args.work else build / 'fuzz'
    probe = build / 'bin' / 'glyphdock_iconprobe.exe'
    if not probe.exists():
        sys.exit('fuzz: %s is missing (build first: make build)' % probe)
    work.mkdir(parents=True, exist_ok=True)
    files_dir, failures = work / 'files', work / 'failures'
    shutil.rmtree(files_dir, ignore_errors=True)
    shutil.rmtree(failures, ignore_errors=True)
    files_dir.mkdir()
    check = build_native_check(top, work)

    start = time.monotonic()
    rng = random.Random(args.seed)
    seeds = load_seeds(build)
    kinds = {k: sum(1 for s in seeds if s.kind == k) for k in ('pe', 'ne', 'ico')}
    print('fuzz: %d files, seed %d; %d seeds (%d PE, %d NE, %d .ico)' %
          (args.files, args.seed, len(seeds), kinds['pe'], kinds['ne'], kinds['ico']), flush=True)
    # Small seeds mutate fast and reach the images more often; the big system files still
    # get a fair share.
    weights = [4.0 if len(s.data) < 64 * 1024 else 1.0 for s in seeds]

    tried = passed = crashed = 0
    slowest_us, slowest_probe, notes_of = 0, 0.0, {}
    slowest_wine, slowest_wine_file, slowest_wine_small, slowest_cpu, slowest_cpu_file = 0, '', 0, 0, ''
    bad = []
    shape_of = {}  # file: its class, for files made by a class of their own
    per_class = {name: [0, 0, 0, 0] for name, _ in SHAPES}  # tried, passed, crashed, slowest check (us, Wine)
    for first in range(0, args.files, args.chunk):
        chunk = []
        for k in range(first, min(args.files, first + args.chunk)):
            if rng.random() < SHAPE_SHARE:
                shape, make = rng.choice(SHAPES)
                data = make(rng)
                ext = '.ico' if data[:2] != b'MZ' else '.dll'
                path = files_dir / ('m%06d%s' % (k, ext))
                notes_of[path] = 'class ' + shape
                shape_of[path] = shape
                per_class[shape][0] += 1
            else:
                seed = rng.choices(seeds, weights)[0]
                data, notes = mutant(rng, seed)
                ext = '.ico' if seed.kind == 'ico' else '.dll'
                path = files_dir / ('m%06d%s' % (k, ext))
                notes_of[path] = '%s: %s' % (seed.name, notes)
            path.write_bytes(data)
            chunk.append(path)
        tried += len(chunk)
        verdict = subprocess.run([str(check)], input=''.join(str(p) + '\n' for p in chunk), capture_output=True,
                                 text=True, timeout=600)
        answers = verdict.stdout.split('\n')
        if verdict.returncode != 0 or len([a for a in answers if a]) != len(chunk):
            failures.mkdir(exist_ok=True)
            judged = len([a for a in answers if a])
            culprit = chunk[min(judged, len(chunk) - 1)]
            shutil.copy(culprit, failures / culprit.name)
            print(verdict.stderr[-4000:])
            print('fuzz: FAILED: the check itself failed on %s (%s)' % (culprit.name, notes_of[culprit]))
            sys.exit(1)
        sound = []
        for path, answer in zip(chunk, answers):
            ok, us = answer.split()
            slowest_us = max(slowest_us, int(us))
            if ok == '1':
                sound.append(path)
                if path in shape_of:
                    per_class[shape_of[path]][1] += 1
        passed += len(sound)
        # The check under Wine on every file, and the shell's extraction over every passed
        # one, a batch a process.
        extract, checks = set(sound), {}
        pending = chunk
        while pending:
            batch = pending[:args.batch]
            done, culprit, what, slowest = run_probe(probe, batch, work / 'list.txt', args.hang, extract, checks)
            slowest_probe = max(slowest_probe, slowest)
            if culprit is None:
                pending = pending[len(batch):]
                continue
            crashed += 1
            if culprit in shape_of:
                per_class[shape_of[culprit]][2] += 1
            failures.mkdir(exist_ok=True)
            shutil.copy(culprit, failures / culprit.name)
            bad.append('%s: %s [%s]' % (culprit.name, what, notes_of[culprit]))
            print('fuzz: %s on %s [%s]' % (what, culprit.name, notes_of[culprit]), flush=True)
            pending = pending[batch.index(culprit) + 1:]
        for path, (us, cpu) in checks.items():
            size = path.stat().st_size
            what = '%s (%d bytes, %s)' % (path.name, size, notes_of[path])
            if us > slowest_wine:
                slowest_wine, slowest_wine_file = us, what
            if cpu > slowest_cpu:
                slowest_cpu, slowest_cpu_file = cpu, what
            if size < 4 * 1024 * 1024:
                slowest_wine_small = max(slowest_wine_small, cpu)
            if path in shape_of:
                per_class[shape_of[path]][3] = max(per_class[shape_of[path]][3], cpu)
        for path in chunk:
            path.unlink()
        print('fuzz: %d tried, %d passed the check, %d crashed or hung (%.0f s)' %
              (tried, passed, crashed, time.monotonic() - start), flush=True)

    summary = ('fuzz: seed %d: %d files tried, %d passed the check, %d crashed or hung the shell; '
               'slowest check %.1f ms natively with the sanitizers; under Wine %.1f ms of processor time '
               '(%s; files under 4 MB: %.1f ms) and %.1f ms on the clock (%s); slowest extraction %.2f s; %.0f s' %
               (args.seed, tried, passed, crashed, slowest_us / 1000.0, slowest_cpu / 1000.0, slowest_cpu_file,
                slowest_wine_small / 1000.0, slowest_wine / 1000.0, slowest_wine_file, slowest_probe,
                time.monotonic() - start))
    classes = ''.join('fuzz: class %-17s %5d tried, %5d passed the check, %d crashed or hung; slowest check '
                      'under Wine %.1f ms of processor time\n' % (name, c[0], c[1], c[2], c[3] / 1000.0)
                      for name, c in per_class.items())
    (work / 'summary.txt').write_text(summary + '\n' + classes + ''.join(b + '\n' for b in bad))
    print(classes + summary, end='\n')
    if crashed:
        print('fuzz: FAILED: files that passed the check and crash or hang the shell are in %s' % failures)
        sys.exit(1)


if __name__ == '__main__':
    main()
