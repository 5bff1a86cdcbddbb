#!/usr/bin/python3
"""The thumbnailer as the desktops' own clients run it (bench/thumbclients.py asks them):
GNOME's thumbnail factory and tumbler, at the normal and large flavours, make a thumbnail
with the file's own first icon for a program, a library, a .cpl, a 16-bit program and an
.ico, and none, without hanging, for a file without icons and a truncated program. The
file type database is the test's own: the stock definitions (shared-mime-info) and the
shipped one, checked once more beside a desktop's definition that calls every *.dll a
shared library. Each check prints PASS or FAIL; 77 means skipped (the reason printed).
  thumbnailers_test.py --top SOURCE_DIR --build BUILD_DIR
"""
import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'bench'))
import thumbclients as tc  # noqa: E402
from thumbclients import FLAVOURS, PYTHON, WINE_SYSTEM, build_data_dir, rgba, run  # noqa: E402

FAILED = False


def check(name, ok, expected=None, seen=None):
    global FAILED
    print(f'{"PASS" if ok else "FAIL"}: {name}')
    if not ok:
        FAILED = True
        if expected is not None or seen is not None:
            print(f'      expected: {expected}\n      seen:     {seen}')


def mime_checks(root, work):
    """The shipped definition on the stock database, and beside a desktop's that calls
    every *.dll a Linux shared library (as PCManFM's data does)."""
    probe = work / 'mime-probe'
    probe.mkdir()
    shutil.copy(WINE_SYSTEM / 'shell32.dll', probe / 'shell32.dll')
    shutil.copy(WINE_SYSTEM / 'shell32.dll', probe / 'SHELL32.DLL')
    shutil.copy(WINE_SYSTEM / 'notepad.exe', probe / 'notepad.exe')
    for ext in ('ocx', 'cpl', 'scr', 'mun', 'icl'):
        shutil.copy(WINE_SYSTEM / 'joy.cpl', probe / f'windows.{ext}')
    (probe / 'script.scr').write_text('a text file that is not a Windows program\n')
    libz = next(Path('/usr/lib/x86_64-linux-gnu').glob('libz.so.1*'))
    shutil.copy(libz, probe / 'libz.so.1')
    shutil.copy(libz, probe / 'libz.so')
    thumbnailer = (root / 'usr/share/thumbnailers/glyphdock.thumbnailer').read_text()
    listed = [l.split('=', 1)[1].strip(';').split(';') for l in thumbnailer.splitlines() if l.startswith('MimeType=')][0]
    desktop = ('<?xml version="1.0"?><mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">'
               '<mime-type type="application/x-sharedlib"><glob pattern="*.dll"/></mime-type></mime-info>')
    defined = set()
    for label, extra in (('stock database', None), ('with a desktop calling *.dll shared libraries', desktop)):
        data = work / f'data-{len(defined)}'
        build_data_dir(root, data, extra)
        r = run([PYTHON, '-c', 'import sys\nfrom gi.repository import Gio\nfor p in sys.argv[1:]: print(p.rsplit("/",1)[1], '
                 'Gio.File.new_for_path(p).query_info("standard::content-type",0,None).get_content_type())']
                + sorted(str(p) for p in probe.iterdir()),
                env=dict(os.environ, XDG_DATA_DIRS=str(data), XDG_DATA_HOME=str(work / 'empty')))
        types = dict(l.split() for l in r.stdout.splitlines())
        windows = {k: v for k, v in types.items() if not k.startswith('libz') and k != 'script.scr'}
        check(f'{label}: every Windows file has a type the thumbnailer lists',
              all(v in listed for v in windows.values()), listed, windows)
        check(f'{label}: Linux libraries stay shared libraries, a text .scr stays text',
              [types.get('libz.so.1'), types.get('libz.so'), types.get('script.scr')] ==
              ['application/x-sharedlib', 'application/x-sharedlib', 'text/plain'],
              'x-sharedlib, x-sharedlib, text/plain', [types.get('libz.so.1'), types.get('libz.so'), types.get('script.scr')])
        check(f'{label}: a library is a Windows library, a program a DOS/Windows program',
              (types.get('shell32.dll'), types.get('SHELL32.DLL'), types.get('notepad.exe')) ==
              ('application/vnd.microsoft.portable-executable',) * 2 + ('application/x-ms-dos-executable',),
              'vnd.microsoft.portable-executable x2, x-ms-dos-executable', types)
        r = run([PYTHON, '-c', 'import sys\nfrom gi.repository import Gio\nfor t in sys.argv[1:]: '
                 'print(t, int(Gio.content_type_is_unknown(t) or t not in Gio.content_types_get_registered()))'] + listed,
                env=dict(os.environ, XDG_DATA_DIRS=str(data), XDG_DATA_HOME=str(work / 'empty')))
        defined |= {t for t, unknown in (l.split() for l in r.stdout.splitlines()) if unknown == '0'}
    check('the thumbnailer lists only types the stock and the shipped database define', set(listed) <= defined,
          listed, sorted(defined))


def verdicts(results, files, native):
    for (client, flavour), lines in results.items():
        size = FLAVOURS[flavour]
        by_file = {l['file']: l for l in lines}
        for what, path, due in files:
            got = by_file.get(str(path))
            label = f'{client} {flavour}: {what} ({path.name}, {got["mime"] if got else "?"})'
            if got is None:
                check(label + ': answered', False, 'an answer', 'none')
                continue
            if not due:
                check(label + ': no thumbnail, answered', not got['made'] and got['seconds'] < 60,
                      'not made, in under 60 s', (got['made'], round(got['seconds'], 2), got['message']))
                continue
            saved = Path(got['saved']) if got.get('saved') else None
            if not got['made'] or not saved:
                check(label + ': made', False, 'a thumbnail', got['message'])
                continue
            w, h, pixels = rgba(saved)
            ours = subprocess.run([native, 'thumbnail', path, '-', str(size)], capture_output=True).stdout
            mine = saved.with_suffix('.ours.png')
            mine.write_bytes(ours)
            ow, oh, opixels = rgba(mine)
            # Tumbler makes .ico thumbnails with gdk-pixbuf's own loader, ahead of ours.
            same = (w, h) == (ow, oh) and pixels == opixels
            if client == 'tumbler' and path.suffix == '.ico':
                check(label + f': made, no larger than {size}', max(w, h) <= size, f'<= {size}', (w, h))
            else:
                check(label + ': made, the file\'s own first icon (the same pixels as glyphdock-export\'s)',
                      same and max(w, h) <= size, (ow, oh), (w, h))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--top', required=True)
    p.add_argument('--build', required=True)
    a = p.parse_args()
    native = Path(a.build).resolve() / 'native/glyphdock-export'
    tc.collect(a.top, a.build, on_tree=mime_checks, on_results=lambda results, files: verdicts(results, files, native))
    sys.exit(1 if FAILED else 0)


if __name__ == '__main__':
    main()
