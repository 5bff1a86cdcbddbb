#!/usr/bin/python3
"""glyphdock-export against other programs' reading of the same files.

Parts, each a CTest test of its own:
  peer         every icon of Wine's system folder extracted as .ico against icoutils'
               wrestool -x -t 14; every written file read by icotool -x and ImageMagick's
               identify; the PNG pixels of every bitmap image against icotool -x's
  cursors      every group cursor of Wine's system folder extracted as .cur against
               wrestool -x -t 12; the PNG pixels and hot spots of every cursor image
               against icotool -x and -l on the written files; the frames of .ani files
               against ImageMagick
  shell        the icon count and order of every Wine PE file and fixture against the
               shell's ExtractIconA (shellprobe.exe under Wine)
  thumbnailer  the installed .thumbnailer file's command line, run as it is written, on a
               program, a library, an .ico, a file without icons and crafted files
  windows      glyphdock-export.exe under Wine gives the same list, files and thumbnail

Each check prints PASS or FAIL with what was expected and seen; a part fails when one of
its checks fails.
"""
import argparse
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

WINE_SYSTEM = Path('/usr/lib/x86_64-linux-gnu/wine/x86_64-windows')
FAILED = False


def check(name, ok, expected=None, seen=None):
    global FAILED
    if ok:
        print(f'PASS: {name}')
    else:
        FAILED = True
        print(f'FAIL: {name}')
        if expected is not None or seen is not None:
            print(f'      expected: {expected}\n      seen:     {seen}')


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], capture_output=True, **kw)


def system_files():
    return sorted(p for p in WINE_SYSTEM.iterdir() if p.is_file())


def rgba(path):
    """Pixels of an image file as RGBA bytes, through ImageMagick."""
    r = run(['convert', path, '-depth', '8', 'rgba:-'])
    return r.stdout if r.returncode == 0 else None


def rgba_many(paths, sizes):
    """The pixels of many images of known sizes, through ImageMagick a batch at a time."""
    out = []
    for at in range(0, len(paths), 200):
        batch, dims = paths[at:at + 200], sizes[at:at + 200]
        r = run(['convert'] + batch + ['-depth', '8', 'rgba:-'])
        data, pos = r.stdout, 0
        for w, h in dims:
            out.append(data[pos:pos + w * h * 4])
            pos += w * h * 4
    return out


def by_source(folder, split):
    out = {}
    for f in sorted(os.listdir(folder)):
        out.setdefault(split(f), []).append((folder / f).read_bytes())
    return out


def part_peer(a):
    tool = Path(a.native) / 'glyphdock-export'
    files = system_files()
    work = Path(a.work) / 'peer'
    shutil.rmtree(work, ignore_errors=True)
    ours, theirs, png, icopng = work / 'ours', work / 'wrestool', work / 'png', work / 'icotool'
    for d in (theirs, icopng):
        d.mkdir(parents=True)
    # Through the folder (-r): its files without icons are then counted, not failures.
    r = run([tool, 'extract', '-r', '--icons', '-o', ours, WINE_SYSTEM])
    check('extract -r exits 0 on the system folder', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    run(['wrestool', '-x', '-t', '14', '-o', theirs] + files)
    mine = by_source(ours, lambda f: f.rsplit('-Icon', 1)[0])
    peer = by_source(theirs, lambda f: f.split('_14_')[0])
    check('the same files have icons', sorted(mine) == sorted(peer), sorted(peer), sorted(mine))
    # wrestool writes, after the last image, as many more bytes of the input file as the
    # group resource is long (6 + 14 a image): those are cut before comparing, and
    # the lengths checked.
    matched, unmatched = 0, []
    for source, icos in peer.items():
        left = list(mine.get(source, []))
        for ico in icos:
            count = struct.unpack_from('<H', ico, 4)[0]
            core = ico[:len(ico) - (6 + 14 * count)]
            if core in left:
                left.remove(core)
                matched += 1
            else:
                unmatched.append(source)
    total = sum(len(v) for v in peer.values())
    check(f'every .ico byte-identical to wrestool\'s, its trailing bytes aside ({matched} of {total})',
          not unmatched and total > 0, 'all', unmatched[:5])

    # icotool and identify read every file written.
    written = sorted(ours.iterdir())
    r = run(['icotool', '-x', '-o', icopng] + written)
    check(f'icotool -x reads all {len(written)} .ico files', r.returncode == 0 and not r.stderr, '', r.stderr[-300:])
    r = run([tool, 'extract', '-r', '--icons', '--png', '-o', png, WINE_SYSTEM])
    check('extract -r --png exits 0', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    pngs = sorted(png.iterdir())
    r = run(['identify'] + written)
    check(f'identify reads all {len(written)} .ico files', r.returncode == 0 and not r.stderr, '', r.stderr[-300:])
    r = run(['identify', '-format', '%m %w %h\\n'] + pngs)
    lines = r.stdout.decode().split('\n')[:-1]
    check(f'identify reads all {len(pngs)} PNGs', r.returncode == 0 and not r.stderr, '', r.stderr[-300:])
    names = [p.name for p in pngs]
    sizes = [tuple(map(int, re.search(r'-(\d+)x(\d+)-', n).groups())) for n in names]
    seen = [tuple(map(int, l.split()[1:])) for l in lines if l.startswith('PNG')]
    check('every PNG has the size its name gives', seen == sizes, sizes[:3], seen[:3])

    # Pixels: icotool names its PNGs SOURCE_INDEX_WxHxBITS.png, ours SOURCE-IconN-WxH-Bbit.png
    # (the same image may occur twice; the numbering order of the two differs, so each
    # of ours is matched to icotool's image of the same icon, size and depth).
    theirs_png = {}
    icofiles = sorted(icopng.iterdir())
    icodims = [tuple(map(int, re.search(r'_(\d+)x(\d+)x\d+\.png$', f.name).groups())) for f in icofiles]
    for f, px in zip(icofiles, rgba_many(icofiles, icodims)):
        m = re.match(r'(.*)_\d+_(\d+)x(\d+)x(\d+)\.png$', f.name)
        theirs_png.setdefault((m.group(1), m.group(2), m.group(3), m.group(4)), []).append(px)
    compared, differing = 0, []
    for f, (w, h), mine_px in zip(pngs, sizes, rgba_many(pngs, sizes)):
        m = re.match(r'(.*)-(\d+)x(\d+)-(\d+)bit(-\d+)?\.png$', f.name)
        if len(mine_px) != w * h * 4 or mine_px not in theirs_png.get(m.group(1, 2, 3, 4), []):
            differing.append(f.name)
        compared += 1
    check(f'PNG pixels equal icotool -x\'s for all {compared} images', compared > 0 and not differing,
          'no difference', differing[:5])


def part_cursors(a):
    tool = Path(a.native) / 'glyphdock-export'
    files = system_files()
    work = Path(a.work) / 'cursors'
    shutil.rmtree(work, ignore_errors=True)
    ours, theirs, png, icopng = work / 'ours', work / 'wrestool', work / 'png', work / 'icotool'
    for d in (theirs, icopng):
        d.mkdir(parents=True)
    r = run([tool, 'extract', '-r', '--cursors', '-o', ours, WINE_SYSTEM])
    check('extract -r --cursors exits 0 on the system folder', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    run(['wrestool', '-x', '-t', '12', '-o', theirs] + files)
    mine = by_source(ours, lambda f: f.rsplit('-Cursor', 1)[0])
    peer = by_source(theirs, lambda f: f.split('_12_')[0])
    check('the same files have cursors', sorted(mine) == sorted(peer), sorted(peer), sorted(mine))
    # wrestool states each image's length with the resource's 4 hot-spot bytes, which
    # its file does not hold (icotool refuses its files for that), and appends as many
    # bytes of the input as the group resource is long, as for icons: both are undone
    # before comparing.
    matched, unmatched = 0, []
    for source, curs in peer.items():
        left = list(mine.get(source, []))
        for cur in curs:
            cur = bytearray(cur)
            count = struct.unpack_from('<H', cur, 4)[0]
            for i in range(count):
                at = 6 + 16 * i + 8
                struct.pack_into('<I', cur, at, struct.unpack_from('<I', cur, at)[0] - 4)
            core = bytes(cur[:len(cur) - (6 + 14 * count)])
            if core in left:
                left.remove(core)
                matched += 1
            else:
                unmatched.append(source)
    total = sum(len(v) for v in peer.values())
    check(f'every .cur byte-identical to wrestool\'s, its length fields and trailing bytes aside ({matched} of {total})',
          not unmatched and total > 0, 'all', unmatched[:5])

    # icotool reads every file written (it notes stored resolution fields: not errors).
    written = sorted(ours.iterdir())
    r = run(['icotool', '-x', '-o', icopng] + written)
    complaints = [l for l in r.stderr.decode().splitlines() if 'pels_per_meter' not in l]
    check(f'icotool -x reads all {len(written)} .cur files', r.returncode == 0 and not complaints, '', complaints[:3])
    # Hot spots as icotool -l tells them, by file and image size and depth.
    hotspots = {}
    for f in written:  # icotool -l names no file: one at a time
        for line in run(['icotool', '-l', f]).stdout.decode().splitlines():
            m = re.match(r'--cursor --index=\d+ --width=(\d+) --height=(\d+) --bit-depth=(\d+).*'
                         r'--hotspot-x=(\d+) --hotspot-y=(\d+)', line)
            if m:
                hotspots.setdefault((f.stem,) + m.group(1, 2, 3), []).append(m.group(4, 5))
    r = run([tool, 'extract', '-r', '--cursors', '--png', '-o', png, WINE_SYSTEM])
    check('extract -r --cursors --png exits 0', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    pngs = sorted(png.iterdir())
    theirs_png = {}
    icofiles = sorted(icopng.iterdir())
    icodims = [tuple(map(int, re.search(r'_(\d+)x(\d+)x\d+\.png$', f.name).groups())) for f in icofiles]
    for f, px in zip(icofiles, rgba_many(icofiles, icodims)):
        m = re.match(r'(.*)_\d+_(\d+)x(\d+)x(\d+)\.png$', f.name)
        theirs_png.setdefault((m.group(1), m.group(2), m.group(3), m.group(4)), []).append(px)
    compared, differing, wrong_spot = 0, [], []
    names = [re.match(r'(.*)-(\d+)x(\d+)-(\d+)bit-hotspot(\d+),(\d+)(-\d+)?\.png$', p.name) for p in pngs]
    check('every cursor PNG is named with its size, depth and hot spot', all(names), 'all', [p.name for p, m in zip(pngs, names) if not m][:3])
    sizes = [(int(m.group(2)), int(m.group(3))) for m in names if m]
    for f, m, (w, h), mine_px in zip(pngs, names, sizes, rgba_many(pngs, sizes)):
        key = m.group(1, 2, 3, 4)
        if len(mine_px) != w * h * 4 or mine_px not in theirs_png.get(key, []):
            differing.append(f.name)
        if (m.group(5), m.group(6)) not in hotspots.get(key, []):
            wrong_spot.append(f.name)
        compared += 1
    check(f'cursor PNG pixels equal icotool -x\'s for all {compared} images', compared > 0 and not differing,
          'no difference', differing[:5])
    check(f'hot spots in the names equal icotool -l\'s for all {compared} images', not wrong_spot, 'all', wrong_spot[:5])
    part_ani(a, work)


def part_ani(a, work):
    """The frames of an animated cursor built from two .cur files: each written as the
    .cur file it was made of, and its PNGs the pixels ImageMagick reads from that file."""
    tool = Path(a.native) / 'glyphdock-export'
    ani, sources = Path(a.fixtures) / 'walk.ani', [Path(a.fixtures) / n for n in ('arrow.cur', 'pair.cur')]
    frames, png = work / 'ani', work / 'ani-png'
    r = run([tool, 'extract', '-o', frames, ani])
    check('extract reads the .ani file', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    written = [frames / f'walk.ani-Cursor{n}.cur' for n in (1, 2)]
    same = [w.exists() and w.read_bytes() == s.read_bytes() for w, s in zip(written, sources)]
    check('each .ani frame is the .cur file it was made of', all(same), [True, True], same)
    r = run([tool, 'extract', '--png', '-o', png, ani])
    check('extract --png reads the .ani file', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    differing, compared = [], 0
    for n, source in ((1, sources[0]), (2, sources[1])):
        ours = sorted(png.glob(f'walk.ani-Cursor{n}-*.png'))
        for i, mine in enumerate(ours):
            theirs = rgba(f'{source}[{i}]')
            if theirs is None or rgba(mine) != theirs:
                differing.append(mine.name)
            compared += 1
    check(f'the frames\' PNG pixels equal ImageMagick\'s reading of the frames ({compared} images)',
          compared == 3 and not differing, 'no difference', differing)


def part_shell(a):
    tool = Path(a.native) / 'glyphdock-export'
    fixtures = Path(a.fixtures)
    # Never hand the crafted or truncated fixtures to the shell: it faults on them.
    safe = [fixtures / n for n in ('three.dll', 'two.dll', 'small16.dll', 'highcolour.dll', 'png256.dll',
                                   'noicons.dll', 'named.dll', 'cursors.dll', 'plain.ico', 'small16.ico',
                                   'highcolour.ico', 'png256.ico')]
    files = system_files() + safe
    work = Path(a.work) / 'shell'
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    listing = work / 'files.txt'
    listing.write_text(''.join('Z:' + str(f) + '\n' for f in files))
    r = run(['wine', Path(a.bin) / 'glyphdock_shellprobe.exe', 'Z:' + str(listing)], timeout=600)
    check('the probe ran', r.returncode == 0, 0, (r.returncode, r.stderr[-300:]))
    shell = []  # per file: list of 32 x 32 RGBA pixel strings (or None)
    for line in r.stdout.decode().splitlines():
        if line.startswith('F '):
            shell.append([])
        elif line.startswith('I '):
            px = line.split(' ', 2)[2]
            shell[-1].append(None if px == '-' else bytes.fromhex(px))
    check('the probe answered for every file', len(shell) == len(files), len(files), len(shell))

    r = run([tool, 'list', '--json', '--icons'] + files)
    import json
    listed = {e['file']: e['icons'] for e in json.loads(r.stdout)}
    counts_differ = [f.name for f, s in zip(files, shell) if len(listed.get(str(f), [])) != len(s)]
    total = sum(len(s) for s in shell)
    check(f'icon counts equal ExtractIconA\'s for all {len(files)} files ({total} icons)', not counts_differ,
          'none differing', counts_differ[:10])

    # Order: the shell's icon k looks most like our IconN with N = k + 1. Ours are the
    # images nearest to 32 x 32 (brought to 32 x 32 where they are not), compared with
    # what the shell hands out over the pixels both show.
    pngdir = work / 'png'
    run([tool, 'extract', '--icons', '--png', '--size', '32', '-o', pngdir] + files)
    out_of_order, compared = [], 0
    for f, s in zip(files, shell):
        if len(s) < 2 or len(listed.get(str(f), [])) != len(s):
            continue
        ours = []
        for n in range(1, len(s) + 1):
            png = pngdir / f'{f.name}-Icon{n}.png'
            r = run(['convert', png, '-filter', 'box', '-resize', '32x32!', '-depth', '8', 'rgba:-'])
            ours.append(r.stdout if r.returncode == 0 and len(r.stdout) == 4096 else None)

        def distance(x, y):
            if x is None or y is None:
                return 1e9
            d, n = 0, 0
            for i in range(0, 4096, 4):
                both = x[i + 3] > 127 and y[i + 3] > 127
                if (x[i + 3] > 127) != (y[i + 3] > 127):
                    d += 255
                    n += 1
                elif both:
                    d += abs(x[i] - y[i]) + abs(x[i + 1] - y[i + 1]) + abs(x[i + 2] - y[i + 2])
                    n += 1
            return d / max(n, 1)

        for k, shown in enumerate(s):
            if shown is None:
                continue
            own = distance(shown, ours[k])
            compared += 1
            if any(distance(shown, other) < own for j, other in enumerate(ours) if j != k):
                out_of_order.append(f'{f.name} icon {k}')
    check(f'each of {compared} icons in files with several looks most like the icon of its own number',
          compared > 0 and not out_of_order, 'none out of order', out_of_order[:10])

    # Chosen one at a time, by the number the shell gives (--icon) and by the group's
    # resource (--resource), each icon is the one of that number in the whole run.
    chosen, wrong = 0, []
    for f, s in zip(files, shell):
        icons = listed.get(str(f), [])
        if len(s) < 2 or len(icons) != len(s):
            continue
        for n, icon in enumerate(icons, 1):
            whole = (pngdir / f'{f.name}-Icon{n}.png').read_bytes()
            for choice in (['--icon', str(n)], ['--resource', str(icon['resource'])]):
                r = run([tool, 'extract', '--icons', '--png', '--size', '32', '-o', '-'] + choice + [f])
                chosen += 1
                if r.returncode != 0 or r.stdout != whole:
                    wrong.append(f'{f.name} {choice}')
    check(f'{chosen} icons chosen by --icon and --resource alone are the icons of those numbers',
          chosen > 0 and not wrong, 'all', wrong[:10])


def thumbnailer_command(installed, inp, out, size):
    text = installed.read_text()
    exec_line = re.search(r'^Exec=(.*)$', text, re.M).group(1)
    words = shlex.split(exec_line)
    subst = {'%i': str(inp), '%o': str(out), '%s': str(size)}
    return [subst.get(w, w) for w in words]


def part_thumbnailer(a):
    work = Path(a.work) / 'thumbnailer'
    shutil.rmtree(work, ignore_errors=True)
    prefix = work / 'prefix'
    r = run(['make', '-s', '-C', a.top, '--no-print-directory', 'install', f'BUILD={a.build}', f'PREFIX={prefix}'],
            env={k: v for k, v in os.environ.items() if k not in ('MAKEFLAGS', 'MAKELEVEL')})
    check('make install into a prefix', r.returncode == 0, 0, r.stderr[-300:])
    installed = prefix / 'share/thumbnailers/glyphdock.thumbnailer'
    text = installed.read_text()
    try_exec = re.search(r'^TryExec=(.*)$', text, re.M).group(1)
    check('TryExec names the installed program', Path(try_exec) == prefix / 'bin/glyphdock-export'
          and os.access(try_exec, os.X_OK), prefix / 'bin/glyphdock-export', try_exec)
    mime = re.search(r'^MimeType=(.*)$', text, re.M).group(1).split(';')
    # What the file type database calls the files it is meant for: the stock database
    # (shared-mime-info) with the installed definition, whatever else the machine has.
    data = work / 'data'
    (data / 'mime/packages').mkdir(parents=True)
    shutil.copy('/usr/share/mime/packages/freedesktop.org.xml', data / 'mime/packages')
    shutil.copy(prefix / 'share/mime/packages/glyphdock.xml', data / 'mime/packages')
    run(['update-mime-database', data / 'mime'])
    database = dict(os.environ, XDG_DATA_DIRS=str(data), XDG_DATA_HOME=str(work / 'no-user-data'))
    for f in (WINE_SYSTEM / 'notepad.exe', WINE_SYSTEM / 'shell32.dll', Path(a.fixtures) / 'plain.ico'):
        r = run(['gio', 'info', '-a', 'standard::content-type', f], env=database)
        kind = re.search(r'content-type: (\S+)', r.stdout.decode())
        check(f'{f.name} is of a type the thumbnailer names', kind and kind.group(1) in mime,
              'one of ' + ';'.join(mime), kind and kind.group(1))
    fixtures = Path(a.fixtures)
    cases = [('a program', WINE_SYSTEM / 'notepad.exe', 128, True), ('a library', WINE_SYSTEM / 'shell32.dll', 256, True),
             ('an .ico', fixtures / 'highcolour.ico', 24, True), ('a 16-bit program', None, 64, True),
             ('a file without icons', fixtures / 'noicons.dll', 128, False)]
    cases += [(f'crafted {n}', fixtures / n, 128, False) for n in
              ('crafted-riff.ico', 'crafted-alias.dll', 'crafted-core.ico', 'crafted-wrap.ico', 'crafted-bomb.ico',
               'truncated.dll', 'truncated.ico', 'empty.dll')]
    ne = work / 'program16.exe'
    r = run([Path(a.native) / 'glyphdock_make_ne', ne])
    for what, f, size, has in cases:
        f = f or ne
        out = work / f'{f.name}.png'
        r = run(thumbnailer_command(installed, f, out, size), timeout=30)
        if has:
            dims = run(['identify', '-format', '%m %w %h', out]).stdout.decode() if out.exists() else ''
            m = re.match(r'PNG (\d+) (\d+)$', dims)
            check(f'{what}: a PNG no larger than {size}', r.returncode == 0 and m and max(map(int, m.groups())) <= size,
                  f'status 0, PNG <= {size}', (r.returncode, dims, r.stderr[-200:]))
        else:
            check(f'{what}: no output, status 1', r.returncode == 1 and not out.exists(),
                  'status 1, no file', (r.returncode, out.exists()))
    run(['make', '-s', '-C', a.top, '--no-print-directory', 'uninstall', f'BUILD={a.build}', f'PREFIX={prefix}'],
        env={k: v for k, v in os.environ.items() if k not in ('MAKEFLAGS', 'MAKELEVEL')})


def part_windows(a):
    native = Path(a.native) / 'glyphdock-export'
    exe = Path(a.bin) / 'glyphdock-export.exe'
    work = Path(a.work) / 'windows'
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    fixtures = Path(a.fixtures)
    # Relative names from one folder, so both programs are given the same text.
    names = [f'wine/{n}' for n in ('notepad.exe', 'shell32.dll', 'comdlg32.dll', 'kernel32.dll')] + \
            [f'fixtures/{n}' for n in ('three.dll', 'png256.dll', 'small16.ico', 'noicons.dll', 'crafted-wrap.ico',
                                       'named.dll', 'cursors.dll', 'walk.ani')]
    (work / 'wine').symlink_to(WINE_SYSTEM)
    (work / 'fixtures').symlink_to(fixtures)

    def both(*args):
        n = run([native] + list(args), cwd=work)
        w = run(['wine', exe] + list(args), cwd=work)
        return n, w

    for args in (['list'] + names, ['list', '--json'] + names, ['--version'], ['list', '--bogus']):
        n, w = both(*args)
        check(f'same output: {" ".join(args[:2])}', n.stdout == w.stdout.replace(b'\r\n', b'\n') and
              n.returncode == w.returncode, (n.returncode, n.stdout[:120]), (w.returncode, w.stdout[:120]))
    for extra in ([], ['--png'], ['--png', '--size', '20']):
        tag = ''.join(extra)
        n = run([native, 'extract', *extra, '-o', 'n' + tag, *names], cwd=work)
        w = run(['wine', exe, 'extract', *extra, '-o', 'w' + tag, *names], cwd=work)
        a_dir, b_dir = work / ('n' + tag), work / ('w' + tag)
        same = sorted(os.listdir(a_dir)) == sorted(os.listdir(b_dir)) and all(
            (a_dir / f).read_bytes() == (b_dir / f).read_bytes() for f in os.listdir(a_dir))
        check(f'extract {" ".join(extra)}: the same files, byte for byte ({len(os.listdir(a_dir))})',
              same and n.returncode == w.returncode, (n.returncode, sorted(os.listdir(a_dir))[:3]),
              (w.returncode, sorted(os.listdir(b_dir))[:3]))
    # One output to standard output, byte for byte (no text-mode line ends on Windows).
    n, w = both('extract', '--icon', '2', '--png', '--size', '48', '-o', '-', 'wine/shell32.dll')
    check('extract -o -: the same bytes on standard output', n.returncode == 0 and n.stdout and n.stdout == w.stdout,
          (n.returncode, len(n.stdout)), (w.returncode, len(w.stdout)))
    # -r: each file's outputs under its path below the folder, on both systems.
    for sub in ('tree/a', 'tree/b/c'):
        (work / sub).mkdir(parents=True)
    for sub, f in (('tree/a', 'three.dll'), ('tree/b/c', 'named.dll'), ('tree', 'small16.dll')):
        shutil.copy(fixtures / f, work / sub / 'x.dll')

    def tree(d):
        return sorted(str(p.relative_to(d)) for p in d.rglob('*') if p.is_file())
    n = run([native, 'extract', '-rq', '-o', 'nr', 'tree'], cwd=work)
    w = run(['wine', exe, 'extract', '-rq', '-o', 'wr', 'tree'], cwd=work)
    check(f'extract -r: the same tree of files ({len(tree(work / "nr"))})',
          n.returncode == w.returncode == 0 and tree(work / 'nr') == tree(work / 'wr') and len(tree(work / 'nr')) == 8,
          tree(work / 'nr'), tree(work / 'wr'))
    for f, size in (('wine/shell32.dll', '256'), ('fixtures/png256.dll', '48')):
        n, w = both('thumbnail', f, 'tn.png', size)
        n_png = (work / 'tn.png').read_bytes() if (work / 'tn.png').exists() else b''
        run(['wine', exe, 'thumbnail', f, 'tw.png', size], cwd=work)
        w_png = (work / 'tw.png').read_bytes() if (work / 'tw.png').exists() else b''
        check(f'thumbnail {f} {size}: the same PNG', n_png and n_png == w_png, len(n_png), len(w_png))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('part', choices=['peer', 'cursors', 'shell', 'thumbnailer', 'windows'])
    p.add_argument('--top', required=True)
    p.add_argument('--build', required=True)
    p.add_argument('--work', required=True)
    a = p.parse_args()
    a.native = Path(a.build) / 'native'
    a.bin = Path(a.build) / 'bin'
    a.fixtures = Path(a.build) / 'fixtures'
    if not WINE_SYSTEM.is_dir():
        print(f'SKIP: {WINE_SYSTEM} is missing')
        sys.exit(77)
    a.top = Path(a.top)
    for tool in ('wrestool', 'icotool', 'identify', 'convert'):
        if not shutil.which(tool):
            print(f'SKIP: {tool} is not installed')
            sys.exit(77)
    globals()['part_' + a.part](a)
    sys.exit(1 if FAILED else 0)


if __name__ == '__main__':
    main()
