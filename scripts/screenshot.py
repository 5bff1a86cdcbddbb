#!/usr/bin/python3
"""Takes the README's pictures of the running program (run by scripts/screenshot.sh,
which provides the display with openbox, the prefix and the Japanese locale).

Drives the program as a person would (xdotool), reads where its windows are through
glyphdock_probe.exe, and crops each picture to a window and its openbox frame:
  main.png   the main window after opening Wine's own x86_64 shell32.dll from the Unix
             side (Z:), one icon selected: the status line shows a long path with
             underscores, where a font's lowest row shows
  busy.png   the main window with the busy dialog, during a run over copies of it
  about.png  the about box
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ARGS = None
PLACEMENT = {"Left": 40, "Top": 30, "Width": 560, "Height": 430}
STATUS_KEY = r"HKCU\Software\Quillfen\Glyphdock\Status"
CANCEL_CAPTION = "中止(&C)"
ABOUT_TITLE = "Glyphdock について"
COPIES = 30
# Wine's own DLLs as the Unix side has them: a path with underscores.
WINE_DLLS = "Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows"
SAMPLES = "x86_64_samples"


class Failure(Exception):
    pass


def run(cmd, timeout=60):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)


def xdo(*args):
    run(["xdotool"] + [str(a) for a in args])


def key(*names):
    xdo("key", "--clearmodifiers", *names)


def click(x, y):
    xdo("mousemove", x, y)
    time.sleep(0.1)
    xdo("click", 1)


class Probe:
    def __init__(self):
        self.proc = subprocess.Popen(["wine", os.path.join(ARGS.bin, "glyphdock_probe.exe")],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)

    def ask(self, command):
        self.proc.stdin.write((command + "\n").encode())
        self.proc.stdin.flush()
        lines = []
        while True:
            raw = self.proc.stdout.readline()
            if not raw:
                raise Failure("the probe ended")
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            if line == ".":
                return lines
            lines.append(line)

    def close(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
            self.proc.wait(timeout=10)
        except Exception:
            self.proc.kill()


PROBE = None


def fields(text):
    """'a=1 b=2 title=rest' -> dict; title and text take the rest of the line."""
    out, rest = {}, text
    while rest:
        k, sep, v = rest.partition("=")
        if not sep:
            break
        if k in ("title", "text", "caption"):
            out[k] = v
            break
        v, _, rest = v.partition(" ")
        out[k] = v
    return out


def rect(text):
    return tuple(int(v) for v in text.split(","))


def window(command):
    """The first line of a probe answer about a window, and its children."""
    lines = PROBE.ask(command)
    if not lines or lines[0] == "absent":
        return None
    head = fields(lines[0].partition(" ")[2])
    head["children"] = [fields(line.partition(" ")[2]) for line in lines if line.startswith("child ")]
    head["lines"] = lines
    return head


def wait_for(what, test, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(0.2)
    raise Failure("timed out waiting for " + what)


def main_shown():
    m = window("main")
    return m if m and m.get("visible") == "1" and m.get("enabled") == "1" else None


def list_count():
    for line in PROBE.ask("main"):
        if line.startswith("list "):
            return int(fields(line.partition(" ")[2])["count"])
    return 0


def items():
    found = []
    for line in PROBE.ask("main"):
        if line.startswith("item "):
            found.append(rect(fields(line.split(" ", 2)[2])["rect"]))
    return found


def file_dialog_open(folder, names):
    """File > Open, then the folder and Enter, then the names and Enter."""
    key("alt+f")
    time.sleep(0.4)
    key("o")

    def dialog_up():
        return any(line.startswith("child ") and "class=Edit" in line for line in PROBE.ask("dialogs"))
    wait_for("the open dialog", dialog_up, 20)
    time.sleep(0.3)
    key("End", "shift+Home")
    xdo("type", "--delay", 4, folder + "\\")
    key("Return")
    time.sleep(0.6)
    key("End", "shift+Home")
    xdo("type", "--delay", 4, names)
    key("Return")


def x_window(title):
    """The visible X window of that title whose frame is largest (openbox frames it)."""
    found = run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title]).stdout.decode().split()
    best = None
    for wid in found:
        info = run(["xwininfo", "-id", wid]).stdout.decode()
        geo = {}
        for line in info.splitlines():
            name, _, value = line.strip().partition(":")
            geo[name] = value.strip()
        x, y = int(geo["Absolute upper-left X"]), int(geo["Absolute upper-left Y"])
        w, h = int(geo["Width"]), int(geo["Height"])
        if best is None or w * h > best[3] * best[4]:
            best = (wid, x, y, w, h)
    if best is None:
        raise Failure("no X window titled %r" % title)
    return best


def shoot(title, name):
    """Saves the window's area of the screen with its frame (openbox's extents)."""
    wid, x, y, w, h = x_window(title)
    extents = run(["xprop", "-id", wid, "_NET_FRAME_EXTENTS"]).stdout.decode()
    left = right = top = bottom = 0
    if "=" in extents:
        left, right, top, bottom = (int(v) for v in extents.split("=")[1].split(","))
    geometry = "%dx%d+%d+%d" % (w + left + right, h + top + bottom, max(0, x - left), max(0, y - top))
    path = os.path.join(ARGS.out, name)
    run(["import", "-window", "root", "-crop", geometry, "+repage", "-strip", path])
    print("screenshot: %s (%s)" % (path, geometry), flush=True)


def shell32():
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32", "shell32.dll")


def take():
    for name, value in PLACEMENT.items():
        run(["wine", "reg", "add", STATUS_KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f"])
    program = subprocess.Popen(["wine", os.path.join(ARGS.bin, "Glyphdock.exe")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        m = wait_for("the main window", main_shown, 60)
        r = rect(m["rect"])
        # A click on the empty list gives the window the keyboard.
        click(r[2] - 40, r[3] - 60)
        file_dialog_open(WINE_DLLS, '"shell32.dll"')
        wait_for("the icons of shell32.dll", lambda: main_shown() and list_count() > 100, 120)
        first = wait_for("the entries' places", items, 10)[0]
        click((first[0] + first[2]) // 2, (first[1] + first[3]) // 2)
        time.sleep(0.8)
        shoot("Glyphdock", "main.png")

        # A run long enough to be seen: copies of shell32.dll, cancelled once pictured.
        # They lie on the prefix's drive C:, in a folder whose name has underscores.
        work = os.path.join(os.environ["WINEPREFIX"], "drive_c", SAMPLES)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        names = ["s%02d.dll" % i for i in range(1, COPIES + 1)]
        for n in names:
            shutil.copyfile(shell32(), os.path.join(work, n))
        file_dialog_open("C:\\" + SAMPLES, " ".join('"%s"' % n for n in names))

        def busy_progressing():
            b = window("busy")
            if not b or b.get("visible") != "1":
                return None
            labels = [c.get("text", "") for c in b["children"] if c.get("class") == "Static"]
            return b if any(t.lower().endswith("s03.dll") for t in labels) else None
        busy = wait_for("the busy dialog at the third file", busy_progressing, 120)
        time.sleep(0.3)
        shoot("Glyphdock", "busy.png")
        button = [c for c in busy["children"] if c.get("text") == CANCEL_CAPTION]
        if not button:
            raise Failure("no Cancel button in the busy dialog")
        br = rect(button[0]["rect"])
        click((br[0] + br[2]) // 2, (br[1] + br[3]) // 2)
        wait_for("the run to end", main_shown, 120)

        key("alt+h")
        time.sleep(0.4)
        key("Return")
        wait_for("the about box", lambda: (window("about") or {}).get("visible") == "1", 20)
        time.sleep(0.5)
        shoot(ABOUT_TITLE, "about.png")
        key("Return")
        wait_for("the about box closed", main_shown, 20)
        key("alt+f")
        time.sleep(0.4)
        key("x")
        program.wait(timeout=30)
    finally:
        if program.poll() is None:
            program.kill()


def main():
    global ARGS, PROBE
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", required=True)
    ARGS = parser.parse_args()
    PROBE = Probe()
    try:
        take()
    except Failure as failure:
        path = os.path.join(ARGS.out, "screenshot-failed.png")
        run(["import", "-window", "root", path])
        print("screenshot: %s (screen as it was: %s)" % (failure, path), file=sys.stderr)
        return 1
    finally:
        PROBE.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
