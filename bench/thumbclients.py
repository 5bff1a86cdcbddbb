#!/usr/bin/python3
"""The thumbnailer as the desktops' own machinery runs it.

Two real clients are asked for thumbnails of a folder of Windows files, at the normal
(128) and large (256) flavours, each file with the MIME type that GIO gives it:
  gnome    GNOME's thumbnail factory (GnomeDesktop.DesktopThumbnailFactory through
           python3-gi), which runs each thumbnailer inside bubblewrap with /usr read-only
  tumbler  Xfce's thumbnail service (tumblerd) on a private session bus, asked through
           org.freedesktop.thumbnails.Thumbnailer1.Queue as Thunar asks it

Modes:
  figures --build B [--root DIR] [--rounds N]
                              (root) make install of the built tree is laid over /usr in a
                              mount namespace of this process's own, the file type
                              database is made from every definition the machine has (a
                              desktop's, e.g. PCManFM's) and the tree's; prints made / asked
                              and the time of a request per client, flavour and file type,
                              and the thumbnail's processor time for shell32.dll at 256.
                              --root takes an installed tree (DIR/usr/...) made elsewhere,
                              e.g. an older version's, instead of make install
  figures --system --build B  the machine as it is (an installed package, the system's
                              own database, any user): only the thumbnail cache is private
tests/packaging/thumbnailers_test.py asks the same clients through collect() and checks
the answers.
"""
import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

WINE_SYSTEM = Path('/usr/lib/x86_64-linux-gnu/wine/x86_64-windows')
STOCK_MIME = Path('/usr/share/mime/packages/freedesktop.org.xml')
TUMBLER_SERVICE = Path('/usr/share/dbus-1/services/org.xfce.Tumbler.Thumbnailer1.service')
PYTHON = '/usr/bin/python3'
FLAVOURS = {'normal': 128, 'large': 256}


def skip(reason):
    print(f'SKIP: {reason}')
    sys.exit(77)


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, **kw)


# The files asked for: what each is, its name, whether a thumbnail is due.
def make_samples(folder, build):
    folder.mkdir(parents=True, exist_ok=True)
    samples = [('program', 'notepad.exe', True), ('library', 'shell32.dll', True), ('control panel', 'joy.cpl', True),
               ('16-bit program', 'program16.exe', True), ('icon', 'highcolour.ico', True),
               ('no icons', 'noicons.dll', False), ('truncated program', 'truncated.exe', False)]
    for name in ('notepad.exe', 'shell32.dll', 'joy.cpl'):
        shutil.copy(WINE_SYSTEM / name, folder / name)
    fixtures = Path(build) / 'fixtures'
    for name in ('highcolour.ico', 'noicons.dll'):
        shutil.copy(fixtures / name, folder / name)
    subprocess.run([Path(build) / 'native/glyphdock_make_ne', folder / 'program16.exe'], check=True)
    (folder / 'truncated.exe').write_bytes((WINE_SYSTEM / 'notepad.exe').read_bytes()[:1500])
    for p in folder.iterdir():
        p.chmod(0o644)
    return [(what, folder / name, due) for what, name, due in samples]


def content_type(path):
    from gi.repository import Gio
    info = Gio.File.new_for_path(str(path)).query_info('standard::content-type', 0, None)
    return info.get_content_type()


def rgba(path_or_pixbuf):
    import gi
    gi.require_version('GdkPixbuf', '2.0')
    from gi.repository import GdkPixbuf
    pb = path_or_pixbuf
    if isinstance(pb, (str, Path)):
        pb = GdkPixbuf.Pixbuf.new_from_file(str(pb))
    if not pb.get_has_alpha():
        pb = pb.add_alpha(False, 0, 0, 0)
    w, h, stride = pb.get_width(), pb.get_height(), pb.get_rowstride()
    data = pb.get_pixels()
    return w, h, b''.join(data[y * stride:y * stride + w * 4] for y in range(h))


# --- inside the clients' environment: one JSON line of results a request -------------

def ask_gnome(files, flavour, rounds):
    import gi
    gi.require_version('GnomeDesktop', '3.0')
    from gi.repository import GnomeDesktop, GLib
    size = {'normal': GnomeDesktop.DesktopThumbnailSize.NORMAL, 'large': GnomeDesktop.DesktopThumbnailSize.LARGE}[flavour]
    factory = GnomeDesktop.DesktopThumbnailFactory.new(size)
    out = Path(os.environ['THUMBCLIENTS_OUT'])
    for path in files:
        mime, uri = content_type(path), 'file://' + str(path)
        mtime = int(os.stat(path).st_mtime)
        for r in range(rounds):
            start = time.perf_counter()
            made, message = False, ''
            if factory.can_thumbnail(uri, mime, mtime):
                try:
                    pixbuf = factory.generate_thumbnail(uri, mime, None)
                    made = pixbuf is not None
                except GLib.Error as e:
                    message = e.message
            else:
                message = 'no thumbnailer for ' + mime
            took = time.perf_counter() - start
            saved = ''
            if made and r == 0:
                saved = str(out / f'gnome-{flavour}-{path.name}.png')
                pixbuf.savev(saved, 'png', [], [])
            print(json.dumps({'file': str(path), 'mime': mime, 'made': made, 'seconds': took, 'saved': saved,
                              'message': message}), flush=True)


def ask_tumbler(files, flavour, rounds):
    from gi.repository import Gio, GLib
    daemon = next(l.split('=', 1)[1].strip() for l in TUMBLER_SERVICE.read_text().splitlines() if l.startswith('Exec='))
    server = subprocess.Popen([daemon], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        name = 'org.freedesktop.thumbnails.Thumbnailer1'
        path = '/org/freedesktop/thumbnails/Thumbnailer1'
        deadline = time.monotonic() + 30
        while True:
            owner = bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                                  'NameHasOwner', GLib.Variant('(s)', (name,)), None, 0, -1, None)
            if owner.unpack()[0]:
                break
            if time.monotonic() > deadline or server.poll() is not None:
                raise SystemExit('tumblerd did not take its bus name')
            time.sleep(0.05)
        loop = GLib.MainLoop()
        state = {}

        def on_signal(_conn, _sender, _path, _iface, signal, params):
            handle = params.unpack()[0]
            if handle != state.get('handle'):
                return
            if signal == 'Ready':
                state['ready'] = True
            elif signal == 'Error':
                state['message'] = params.unpack()[3]
            elif signal == 'Finished':
                loop.quit()
        bus.signal_subscribe(name, name, None, path, None, 0, on_signal)
        cache = Path(os.environ['XDG_CACHE_HOME']) / 'thumbnails' / flavour
        for file in files:
            mime, uri = content_type(file), 'file://' + str(file)
            thumb = cache / (hashlib.md5(uri.encode()).hexdigest() + '.png')
            for r in range(rounds):
                thumb.unlink(missing_ok=True)
                state.clear()
                state['handle'] = None
                start = time.perf_counter()
                reply = bus.call_sync(name, path, name, 'Queue',
                                      GLib.Variant('(asasssu)', ([uri], [mime], flavour, 'foreground', 0)),
                                      None, 0, -1, None)
                state['handle'] = reply.unpack()[0]

                def too_long():
                    state.update(message='no answer in 60 s', timer=None)
                    loop.quit()
                state['timer'] = GLib.timeout_add_seconds(60, too_long)
                loop.run()
                if state.get('timer'):
                    GLib.source_remove(state['timer'])
                took = time.perf_counter() - start
                made = bool(state.get('ready')) and thumb.exists()
                saved = ''
                if made and r == 0:
                    saved = str(Path(os.environ['THUMBCLIENTS_OUT']) / f'tumbler-{flavour}-{file.name}.png')
                    shutil.copy(thumb, saved)
                print(json.dumps({'file': str(file), 'mime': mime, 'made': made, 'seconds': took,
                                  'saved': saved, 'message': state.get('message', '')}), flush=True)
    finally:
        server.terminate()
        server.wait()


# --- outside: the set-up and the verdicts ---------------------------------------------

def installed_tree(top, build, work):
    root = work / 'root'
    env = {k: v for k, v in os.environ.items() if k not in ('MAKEFLAGS', 'MAKELEVEL')}
    r = run(['make', '-s', '-C', top, '--no-print-directory', 'install', f'BUILD={build}', f'DESTDIR={root}',
             'PREFIX=/usr'], env=env)
    if r.returncode != 0:
        print(r.stdout[-2000:], r.stderr[-2000:])
        raise SystemExit('make install failed')
    return root


def build_data_dir(root, data, extra_xml=None, machine_types=False):
    """XDG data dir: the stock types (or every definition the machine has), those the
    tree ships, and its thumbnailers."""
    packages = data / 'mime' / 'packages'
    packages.mkdir(parents=True, exist_ok=True)
    for xml in (STOCK_MIME.parent.glob('*.xml') if machine_types else [STOCK_MIME]):
        shutil.copy(xml, packages)
    for xml in (root / 'usr/share/mime/packages').glob('*.xml'):
        shutil.copy(xml, packages)
    if extra_xml:
        (packages / 'zz-desktop.xml').write_text(extra_xml)
    r = run(['update-mime-database', data / 'mime'])
    if r.returncode != 0:
        raise SystemExit('update-mime-database: ' + r.stderr)
    (data / 'thumbnailers').mkdir(exist_ok=True)
    for t in (root / 'usr/share/thumbnailers').glob('*.thumbnailer'):
        shutil.copy(t, data / 'thumbnailers')


def client_env(work, client, flavour, data=None):
    env = dict(os.environ)
    base = work / f'{client}-{flavour}'
    for d in ('cache', 'config', 'home-data'):
        (base / d).mkdir(parents=True, exist_ok=True)
    env.update(XDG_CACHE_HOME=str(base / 'cache'), THUMBCLIENTS_OUT=str(work / 'out'))
    if data:
        # GNOME's factory reads its settings (thumbnailers switched off, ...) through
        # GSettings: the schemas from their usual place, the values their defaults.
        env.update(XDG_DATA_DIRS=str(data), XDG_DATA_HOME=str(base / 'home-data'), XDG_CONFIG_HOME=str(base / 'config'),
                   GSETTINGS_SCHEMA_DIR='/usr/share/glib-2.0/schemas', GSETTINGS_BACKEND='memory')
    env.pop('DBUS_SESSION_BUS_ADDRESS', None)
    return env


def ask_all(work, files, rounds, data):
    """Both clients, both flavours: {(client, flavour): [result, ...]}."""
    (work / 'out').mkdir(exist_ok=True)
    results = {}
    me = Path(__file__).resolve()
    names = [str(f) for f in files]
    for client in ('gnome', 'tumbler'):
        for flavour in FLAVOURS:
            cmd = [PYTHON, me, 'ask-' + client, flavour, str(rounds)] + names
            if client == 'tumbler':
                cmd = ['dbus-run-session', '--'] + cmd
            r = run(cmd, env=client_env(work, client, flavour, data), timeout=900)
            lines = [json.loads(l) for l in r.stdout.splitlines() if l.startswith('{')]
            if r.returncode != 0:
                print(f'{client} {flavour}: status {r.returncode}: {r.stderr[-600:]}')
            results[(client, flavour)] = lines
    return results


def inside_namespace(a, root, data, work, files):
    """Runs in a mount namespace of its own: the tree's /usr laid over the system's."""
    r = run(['mount', '-t', 'overlay', 'overlay', '-o', f'lowerdir={root}/usr:/usr', '/usr'])
    if r.returncode != 0:
        raise SystemExit('overlay over /usr: ' + r.stderr)
    return ask_all(work, files, a.rounds, data)


def prerequisites(system):
    missing = [what for what, ok in (
        ('python3-gi with gir1.2-gnomedesktop-3.0',
         run([PYTHON, '-c', 'import gi; gi.require_version("GnomeDesktop", "3.0")']).returncode == 0),
        ('bubblewrap', shutil.which('bwrap')), ('tumbler', TUMBLER_SERVICE.exists()),
        ('dbus (dbus-run-session)', shutil.which('dbus-run-session')),
        ('shared-mime-info', STOCK_MIME.exists() and shutil.which('update-mime-database')),
        ("Wine's system folder", (WINE_SYSTEM / 'shell32.dll').exists())) if not ok]
    if missing:
        skip('not installed: ' + ', '.join(missing))
    # GNOME's factory runs every thumbnailer in a sandbox of its own: where the system
    # allows none (a container without user namespaces), it makes no thumbnail at all.
    if run(['bwrap', '--ro-bind', '/usr', '/usr', '--symlink', 'usr/lib64', '/lib64', '--symlink', 'usr/lib', '/lib',
            '--proc', '/proc', '--dev', '/dev', '--unshare-all', '/usr/bin/true']).returncode != 0:
        skip('bubblewrap cannot make a sandbox here, so GNOME\'s factory makes no thumbnails')
    if not system:
        if os.geteuid() != 0 or not shutil.which('unshare'):
            skip('laying the built tree over /usr needs root and unshare')
        probe = run(['unshare', '-m', '--propagation', 'private', 'mount', '-t', 'tmpfs', 'probe', '/mnt'])
        if probe.returncode != 0:
            skip('no mount namespace of its own here (to lay the built tree over /usr): ' + probe.stderr.strip())


def median_ms(xs):
    return f'{statistics.median(xs) * 1000:.0f} ms' if xs else '-'


def table(results, files):
    print(f'{"client":8} {"flavour":7} {"file":36} {"MIME type":46} {"made/asked":>10} {"median":>8} {"range":>14}')
    for (client, flavour), lines in results.items():
        for what, path, due in files:
            mine = [l for l in lines if l['file'] == str(path)]
            if not mine:
                continue
            made = sum(l['made'] for l in mine)
            secs = [l['seconds'] for l in mine]
            span = f'{min(secs) * 1000:.0f}-{max(secs) * 1000:.0f} ms'
            print(f'{client:8} {flavour:7} {what + " " + path.name:36.36} {mine[0]["mime"]:46.46} '
                  f'{made:>4}/{len(mine):<5} {median_ms(secs):>8} {span:>14}')


def processor_time(tool, path, size, runs):
    """The thumbnail's processor time (user + system) alone, outside any client."""
    import resource
    spent = []
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run([tool, 'thumbnail', path, '-', str(size)], stdout=subprocess.DEVNULL, check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        spent.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    print(f'{tool} thumbnail {path.name} {size}: processor time median {median_ms(spent)}, '
          f'{min(spent) * 1000:.1f}-{max(spent) * 1000:.1f} ms over {runs} runs')


def collect(top, build, root=None, system=False, rounds=1, machine_types=False, on_tree=None, on_results=None):
    """Asks both clients for the sample files. on_tree(root, work) sees the installed tree
    first; on_results(results, files) gets the answers while the saved thumbnails exist."""
    prerequisites(system)
    build = str(Path(build).resolve())
    work = Path(tempfile.mkdtemp(prefix='glyphdock-thumbclients.'))
    work.chmod(0o755)
    try:
        files = make_samples(work / 'files', build)
        if system:
            results = ask_all(work, [f for _, f, _ in files], rounds, None)
        else:
            root = Path(root) if root else installed_tree(top, build, work)
            if on_tree:
                on_tree(root, work)
            build_data_dir(root, work / 'data', machine_types=machine_types)
            (work / 'files.json').write_text(json.dumps([str(f) for _, f, _ in files]))
            r = run(['unshare', '-m', '--propagation', 'private', PYTHON, Path(__file__).resolve(), 'inner',
                     '--build', build, '--root', root, '--work', work, '--rounds', str(rounds)], timeout=1800)
            line = next((l for l in r.stdout.splitlines() if l.startswith('RESULTS ')), None)
            for said in r.stdout.splitlines():  # what the clients said on the way
                if not said.startswith('RESULTS '):
                    print(said)
            if line is None:
                print(r.stdout[-2000:], r.stderr[-2000:])
                raise SystemExit('the clients gave no results')
            results = {(c, f): l for c, f, l in json.loads(line[8:])}
        on_results(results, files)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ('ask-gnome', 'ask-tumbler'):
        files = [Path(f) for f in sys.argv[4:]]
        (ask_gnome if sys.argv[1] == 'ask-gnome' else ask_tumbler)(files, sys.argv[2], int(sys.argv[3]))
        return
    p = argparse.ArgumentParser()
    p.add_argument('mode', choices=['figures', 'inner'])
    p.add_argument('--top', default=str(Path(__file__).resolve().parents[1]))
    p.add_argument('--build', required=True)
    p.add_argument('--root')
    p.add_argument('--system', action='store_true')
    p.add_argument('--rounds', type=int, default=1)
    p.add_argument('--work')
    a = p.parse_args()
    if a.mode == 'inner':  # in the mount namespace: results as JSON on standard output
        work = Path(a.work)
        files = [Path(f) for f in json.loads((work / 'files.json').read_text())]
        results = inside_namespace(a, Path(a.root), work / 'data', work, files)
        print('RESULTS ' + json.dumps([[c, f, l] for (c, f), l in results.items()]))
        return
    build = str(Path(a.build).resolve())
    tool = Path(a.root) / 'usr/bin/glyphdock-export' if a.root else (
        Path('/usr/bin/glyphdock-export') if a.system else Path(build) / 'native/glyphdock-export')

    def figures(results, files):
        table(results, files)
        processor_time(tool, WINE_SYSTEM / 'shell32.dll', 256, 20)
    collect(a.top, build, a.root, a.system, a.rounds, machine_types=True, on_results=figures)


if __name__ == '__main__':
    main()
