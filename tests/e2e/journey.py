#!/usr/bin/python3
"""Drives the real Glyphdock.exe under Wine from outside, as a person would.

Input goes in through the X display only (xdotool: clicks, keys, typing, a real X drag);
what the person sees is read back by glyphdock_probe.exe running in the same prefix
(window rectangles and states, the list's entries, tool bar states, the status line,
dialogs and message boxes, the clipboard, the registry) and by looking at the screen
(menus are read from a screenshot: their entries cannot be asked from another process).

Parts, each a CTest test of its own:
  journey  open three files, select, save, overwrite (Cancel, then OK), copy, about,
           move, close, restart where it was left, restart with a clamped placement
  drop     files dragged from an X program onto the window, command states after a run
  cancel   a long run (40 copies of shell32.dll) cancelled in the busy dialog
  sequence many fresh starts in a row, each a one-icon run followed at once by a click
           on the entry, then Save As, Copy or nothing

Every step waits for a condition with a time-out; a failure prints what was expected
and what was seen and leaves a screenshot. The program, the probe and the prefix's
wineserver are always ended.
"""
import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback

# Texts the program shows, as a person reads them.
CONFIRM_TEXT = "ファイルが既に存在します、上書きしますか？"
CLIPBOARD_BUSY_TEXT = "クリップボードを開くことができません"
CANCEL_CAPTION = "中止(&C)"
ABOUT_TITLE = "Glyphdock について"
STATUS_KEY = r"HKCU\Software\Quillfen\Glyphdock\Status"
DESIGNED_SIZE = (321, 271)
ICON_FILE_SIZE = 766
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "VERSION")) as _version:
    VERSION_LINE = "Version " + _version.read().strip()

ARGS = None
ENV = None
SCREEN_SHOTS = []
# Put before every Wine command: empty, or runuser and a clean environment for another user.
AS_USER = []


class StepFailure(Exception):
    pass


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------
# The environment: display, prefix, processes.

def wine_env(prefix, display):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "LANG": "ja_JP.UTF-8",
        "LC_ALL": "ja_JP.UTF-8",
        "DISPLAY": display,
        # No installer prompts for components the program does not use.
        "WINEDLLOVERRIDES": "mscoree=;mshtml=",
    })
    return env


def wine_cmd(cmd):
    if not AS_USER:
        return list(cmd)
    return AS_USER + ["%s=%s" % kv for kv in sorted(ENV.items())] + list(cmd)


def run(cmd, timeout=60, check=True, **kw):
    result = subprocess.run(wine_cmd(cmd), env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=timeout, **kw)
    if check and result.returncode != 0:
        # Wine's own tools (reg.exe among them) write their messages to standard output.
        raise StepFailure("%s failed (%d): %s %s" % (cmd, result.returncode,
                                                     result.stdout.decode(errors="replace")[-400:],
                                                     result.stderr.decode(errors="replace")[-400:]))
    return result


def end_wineserver():
    # Only this prefix's server: the suite owns the prefix.
    subprocess.run(wine_cmd(["wineserver", "-k"]), env=ENV, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)
    subprocess.run(wine_cmd(["wineserver", "-w"]), env=ENV, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)


def ensure_prefix():
    if not os.path.exists(os.path.join(ARGS.prefix, "system.reg")):
        log("creating the suite's wine prefix %s (once)" % ARGS.prefix)
        os.makedirs(ARGS.prefix, exist_ok=True)
        run(["wine", "wineboot", "-i"], timeout=240)
        run(["wineserver", "-w"], timeout=120)
    # The IPA faces for the Japanese UI fonts, through the harness's own helper (it does
    # nothing when the prefix has them).
    lib = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness", "lib.sh")
    run(["bash", "-c", '. "$1" && glyphdock_map_fonts', "map-fonts", lib], timeout=120)
    run(["wineserver", "-w"], timeout=120)


def unix_to_wine(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def system32(name):
    return os.path.join(ARGS.prefix, "drive_c", "windows", "system32", name)


class Program:
    """The Glyphdock process, started with wine as a person starts it."""

    def __init__(self, exe=None, cwd=None):
        exe = exe or os.path.join(ARGS.bin, "Glyphdock.exe")
        self.proc = subprocess.Popen(wine_cmd(["wine", exe]), env=ENV, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, cwd=cwd or ARGS.work)

    def exited(self):
        return self.proc.poll() is not None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)
        if AS_USER and self.proc.returncode != 0:
            # runuser's child, the Wine process, outlives runuser: end the user's session.
            end_wineserver()


class Probe:
    """glyphdock_probe.exe kept running: one command line in, answer lines until '.'."""

    def __init__(self, exe=None):
        exe = exe or os.path.join(ARGS.bin, "glyphdock_probe.exe")
        self.proc = subprocess.Popen(wine_cmd(["wine", exe]), env=ENV, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def ask(self, command):
        self.proc.stdin.write((command + "\n").encode())
        self.proc.stdin.flush()
        lines = []
        while True:
            raw = self.proc.stdout.readline()
            if not raw:
                raise StepFailure("the probe ended while answering %r" % command)
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


# ---------------------------------------------------------------------------------------
# Reading the answers.

def parse_fields(text):
    """'a=1 b=2 title=rest of line' -> dict; 'title' and 'text' take the rest."""
    fields = {}
    rest = text
    while rest:
        key, sep, value = rest.partition("=")
        if not sep:
            break
        if key in ("title", "text", "caption"):
            fields[key] = value
            break
        value, _, rest = value.partition(" ")
        fields[key] = value
    return fields


def rect_of(text):
    return tuple(int(v) for v in text.split(","))


def centre(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


class MainState:
    def __init__(self, lines):
        self.present = bool(lines) and lines[0] != "absent"
        self.tools = {}
        self.items = []
        self.status = None
        self.count = 0
        self.selected = -1
        for line in lines:
            head, _, rest = line.partition(" ")
            if head == "main":
                f = parse_fields(rest)
                self.rect = rect_of(f["rect"])
                self.visible = f["visible"] == "1"
                self.enabled = f["enabled"] == "1"
                self.title = f.get("title", "")
            elif head == "client":
                self.client = rect_of(rest)
            elif head == "tool":
                index, state, r = rest.split(" ")
                self.tools[int(index)] = (state, rect_of(r.partition("=")[2]))
            elif head == "status":
                self.status = parse_fields(rest).get("text", "")
            elif head == "list":
                f = parse_fields(rest)
                self.count = int(f["count"])
                self.selected = int(f["selected"])
                self.list_rect = rect_of(f["rect"])
            elif head == "item":
                index, _, rest2 = rest.partition(" ")
                f = parse_fields(rest2)
                self.items.append({"index": int(index), "image": int(f["image"]), "rect": rect_of(f["rect"]),
                                   "caption": f.get("caption", "")})

    def tool(self, index):
        return self.tools[index][0]

    def size(self):
        return (self.rect[2] - self.rect[0], self.rect[3] - self.rect[1])

    def captions(self):
        return [i["caption"] for i in self.items]

    def summary(self):
        if not self.present:
            return "no main window"
        return ("rect=%s enabled=%s tools=%s status=%r count=%d selected=%d captions=%s" %
                (self.rect, self.enabled, {k: v[0] for k, v in self.tools.items()},
                 self.status, self.count, self.selected, self.captions()[:8]))


def main_state():
    return MainState(PROBE.ask("main"))


class Window:
    def __init__(self, lines):
        self.present = bool(lines) and lines[0] != "absent"
        self.children = []
        self.progress = None
        for line in lines:
            head, _, rest = line.partition(" ")
            f = parse_fields(rest)
            if head in ("window", "dialog"):
                self.rect = rect_of(f["rect"])
                self.visible = f["visible"] == "1"
                self.enabled = f["enabled"] == "1"
                self.title = f.get("title", "")
            elif head == "child":
                self.children.append({"id": int(f["id"]), "class": f["class"], "rect": rect_of(f["rect"]),
                                      "visible": f["visible"] == "1", "text": f.get("text", "")})
            elif head == "progress" and "position" in f:
                self.progress = (int(f["position"]), int(f["max"]))

    def child(self, cls=None, text=None, ident=None):
        for c in self.children:
            if (cls is None or c["class"] == cls) and (text is None or c["text"] == text) and \
                    (ident is None or c["id"] == ident) and c["visible"]:
                return c
        return None

    def size(self):
        return (self.rect[2] - self.rect[0], self.rect[3] - self.rect[1])


def top_window(cls):
    """A top-level window as the window system keeps it, without asking the program."""
    for line in PROBE.ask("windows"):
        f = parse_fields(line.partition(" ")[2])
        if f.get("class") == cls:
            return {"rect": rect_of(f["rect"]), "visible": f["visible"] == "1", "enabled": f["enabled"] == "1"}
    return None


def dialogs():
    """Visible #32770 windows: file dialogs and message boxes."""
    result, block = [], []
    for line in PROBE.ask("dialogs"):
        if line.startswith("dialog ") and block:
            result.append(Window(block))
            block = []
        block.append(line)
    if block:
        result.append(Window(block))
    return result


def popups():
    return [rect_of(parse_fields(line.partition(" ")[2])["rect"])
            for line in PROBE.ask("popup") if line.startswith("popup ")]


def registry():
    values = {}
    for line in PROBE.ask("reg"):
        parts = line.split(" ")
        if parts[0] == "value":
            values[parts[1]] = int(parts[3]) if parts[2] == "dword" else parts[2]
    return values


# ---------------------------------------------------------------------------------------
# Waiting, checking, reporting.

def wait_for(description, probe, timeout=15.0, interval=0.15):
    """Polls probe() until it returns (ok, seen) with ok true; fails with the last seen."""
    deadline = time.monotonic() + timeout
    seen = None
    while True:
        ok, seen = probe()
        if ok:
            return seen
        if time.monotonic() > deadline:
            raise StepFailure("timed out after %.0f s waiting for: %s\n      last seen: %s" %
                              (timeout, description, seen))
        time.sleep(interval)


def expect(condition, expected, seen):
    if not condition:
        raise StepFailure("expected %s\n      seen: %s" % (expected, seen))


def screenshot(name):
    os.makedirs(ARGS.screenshots, exist_ok=True)
    path = os.path.join(ARGS.screenshots, name)
    subprocess.run(["import", "-window", "root", path], env=ENV, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    SCREEN_SHOTS.append(path)
    return path


class Steps:
    """Runs named steps; the first failure ends the part with a FAIL line."""

    def __init__(self, part):
        self.part = part
        self.passed = 0
        self.failed = []

    def __call__(self, name, body, fatal=True):
        """A step that is not fatal fails the part at its end but lets the journey go on."""
        try:
            body()
        except StepFailure as failure:
            shot = screenshot("e2e-fail-%s-%s.png" % (self.part, name.replace(" ", "_")))
            log("FAIL %s: %s: %s\n      screenshot: %s" % (self.part, name, failure, shot))
            failure.reported = True
            self.failed.append(name)
            if not fatal:
                return
            raise
        except Exception:
            shot = screenshot("e2e-fail-%s-%s.png" % (self.part, name.replace(" ", "_")))
            log("FAIL %s: %s: unexpected error\n%s      screenshot: %s" %
                (self.part, name, traceback.format_exc(), shot))
            raise
        self.passed += 1
        log("PASS %s: %s" % (self.part, name))

    def skip(self, name, reason):
        log("SKIP %s: %s: %s" % (self.part, name, reason))


# ---------------------------------------------------------------------------------------
# Input, as a person gives it.

def xdo(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], env=ENV, check=True, timeout=60)


def click(point, button=1):
    xdo("mousemove", point[0], point[1])
    time.sleep(0.05)
    xdo("click", button)


def key(*names):
    xdo("key", "--clearmodifiers", *names)


def type_text(text):
    xdo("type", "--delay", 4, text)


def paste_text(text):
    """Puts text on the X clipboard, as another program would, and pastes it with Ctrl+V:
    the keyboard cannot type every character (those beyond the basic plane, for one)."""
    subprocess.run(["xclip", "-selection", "clipboard", "-i"], env=ENV, input=text.encode("utf-8"),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10, check=True)
    time.sleep(0.3)
    key("ctrl+v")


# ---------------------------------------------------------------------------------------
# Looking at the screen: menus are read from their pixels.

def grab_screen():
    data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=ENV, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=30, check=True).stdout
    # P6 <width> <height> <max>\n<rgb bytes>
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(int(data[pos:end]))
        pos = end
    pos += 1
    width, height = fields[0], fields[1]
    return width, height, data[pos:]


def menu_entry_states(rect):
    """The text entries of an open menu, top to bottom: 'enabled' or 'disabled'.

    An entry's text is black when it can be chosen and grey when not; the entry under
    the keyboard cursor is drawn on the highlight colour, in white when it can be chosen.
    Separators are thin lines and are left out.
    """
    width, _height, pixels = grab_screen()

    def pixel(x, y):
        i = (y * width + x) * 3
        return (pixels[i], pixels[i + 1], pixels[i + 2])

    left, top, right, bottom = rect[0] + 3, rect[1] + 3, rect[2] - 3, rect[3] - 3
    # The menu's own ground, just inside its border, where no entry is drawn.
    background = pixel(rect[0] + 2, rect[1] + 2)
    bands, current = [], []
    for y in range(top, bottom):
        if any(pixel(x, y) != background for x in range(left, right)):
            current.append(y)
        elif current:
            bands.append(current)
            current = []
    if current:
        bands.append(current)
    states = []
    for band in bands:
        if len(band) < 5:  # a separator line
            continue
        colours = {}
        for y in band:
            for x in range(left, right):
                p = pixel(x, y)
                colours[p] = colours.get(p, 0) + 1
        ground = max(colours, key=colours.get)
        if min(ground) < 200:  # the highlight: white text when it can be chosen
            enabled = any(min(c) >= 235 for c in colours)
        else:
            enabled = any(max(c) <= 60 for c in colours)
        states.append("enabled" if enabled else "disabled")
    return states


def open_menu_and_read(keys, expected_entries):
    """Opens a menu with the keyboard, reads its entries, and leaves it open."""
    key(*keys)
    rect = wait_for("a menu to open after %s" % " ".join(keys), lambda: (bool(popups()), popups()), timeout=5)[0]
    time.sleep(0.2)  # let it finish painting
    states = menu_entry_states(rect)
    expect(len(states) == expected_entries, "%d entries in the menu at %s" % (expected_entries, rect), states)
    return rect, states


def close_menus():
    for _ in range(3):
        if not popups():
            return
        key("Escape")
        time.sleep(0.1)
    wait_for("every menu closed", lambda: (not popups(), popups()), timeout=5)


# ---------------------------------------------------------------------------------------
# Steps shared by the parts.

def start_program(exe=None, cwd=None):
    program = Program(exe, cwd)

    def shown():
        m = main_state()
        return (m.present and m.visible and m.enabled, m.summary())

    wait_for("the main window shown", shown, timeout=40)
    return program


def focus_main():
    """Click on the list's empty lower right corner, where no entry sits."""
    m = main_state()
    click((m.list_rect[2] - 25, m.list_rect[3] - 10))
    return main_state()


def wait_idle(expected_count, timeout=30):
    """The run is over: main window enabled again, no busy dialog, the list filled."""
    def done():
        m = main_state()
        busy = Window(PROBE.ask("busy"))
        return (m.enabled and not busy.visible and m.count == expected_count,
                "%s busy.visible=%s" % (m.summary(), busy.visible))
    wait_for("the run to end with %d entries" % expected_count, done, timeout=timeout)
    return main_state()


def wait_file_dialog(expected_name=None):
    def shown():
        for d in dialogs():
            edit = d.child(cls="Edit")
            if edit and d.child(cls="ComboBox"):
                return (True, d)
        return (False, [x.title for x in dialogs()])
    dialog = wait_for("the file dialog", shown, timeout=15)
    if expected_name is not None:
        def offered():
            edits = [d.child(cls="Edit")["text"] for d in dialogs() if d.child(cls="Edit")]
            return (expected_name in edits, edits)
        wait_for("the name box to offer %r" % expected_name, offered, timeout=5)
    return dialog


def file_dialog_choose(folder, names_text, paste=False):
    """Types the folder and Enter (the dialog goes there), then the names and Enter."""
    wait_file_dialog()
    key("End", "shift+Home")
    type_text(unix_to_wine(folder) + "\\")
    key("Return")
    time.sleep(0.4)
    key("End", "shift+Home")
    if paste:
        key("BackSpace")
        paste_text(names_text)
        time.sleep(0.2)
    else:
        type_text(names_text)
    key("Return")


def wait_dialogs_gone():
    wait_for("no dialog left open", lambda: (not dialogs(), [d.title for d in dialogs()]), timeout=15)


def select_entry(index, button=1):
    m = main_state()
    click(centre(m.items[index]["rect"]), button)

    def selected():
        now = main_state()
        return (now.selected == index, now.summary())
    wait_for("entry %d selected" % index, selected, timeout=5)
    return main_state()


def status_of_entry(index):
    m = select_entry(index)
    return m.status


def check_main_menu_states(expect_selection_enabled):
    want = "enabled" if expect_selection_enabled else "disabled"
    focus_main_keep = main_state()
    expect(focus_main_keep.enabled, "the main window enabled", focus_main_keep.summary())
    _rect, file_states = open_menu_and_read(["alt+f"], 3)
    expect(file_states == ["enabled", want, "enabled"],
           "File menu Open, Save As, Exit = enabled, %s, enabled" % want, file_states)
    close_menus()
    _rect, edit_states = open_menu_and_read(["alt+e"], 1)
    expect(edit_states == [want], "Edit menu Copy = %s" % want, edit_states)
    close_menus()


def read_clipboard():
    formats, size, rows = [], None, []
    for line in PROBE.ask("clip"):
        if line.startswith("formats"):
            formats = [int(x) for x in line.split()[1:]]
        elif line.startswith("bitmap "):
            size = line.split()[1]
        elif line.startswith("row"):
            rows.append([int(v, 16) for v in line.split()[1:]])
    return formats, size, rows


def opaque32(x, y):
    """The fixtures' shape: a 4-pixel transparent border and a 4 x 4 hole at 8..11."""
    inside = 4 <= x < 28 and 4 <= y < 28
    hole = 8 <= x <= 11 and 8 <= y <= 11
    return inside and not hole


def check_clipboard_picture(colour):
    formats, size, rows = read_clipboard()
    expect(2 in formats, "a bitmap (format 2) on the clipboard", formats)
    expect(size == "32x32", "a 32 x 32 picture", size)
    expect(len(rows) == 32 and all(len(r) == 32 for r in rows), "32 rows of 32 pixels", len(rows))
    wrong = [(x, y, "%06x" % rows[y][x]) for y in range(32) for x in range(32)
             if rows[y][x] != (colour if opaque32(x, y) else 0xFFFFFF)]
    expect(not wrong, "the icon in %06x over white" % colour, wrong[:6])
    # Another X program pasting finds a picture too.
    targets = subprocess.run(["xclip", "-selection", "clipboard", "-t", "TARGETS", "-o"], env=ENV,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10).stdout.decode()
    expect("image/bmp" in targets.split(), "image/bmp offered on the X clipboard", targets.split())
    bmp = subprocess.run(["xclip", "-selection", "clipboard", "-t", "image/bmp", "-o"], env=ENV,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10).stdout
    expect(bmp[:2] == b"BM" and struct.unpack_from("<ii", bmp, 18) in ((32, 32), (32, -32)),
           "a 32 x 32 BMP from the X clipboard", bmp[:30])


def decode_icon_file(data):
    """Checks the one-image 16-colour icon layout; returns (colour of pixel, transparent)."""
    expect(len(data) == ICON_FILE_SIZE, "%d bytes" % ICON_FILE_SIZE, len(data))
    expect(data[:6] == bytes([0, 0, 1, 0, 1, 0]), "directory header 00 00 01 00 01 00", data[:6].hex())
    expect(data[6:22] == bytes.fromhex("2020100000000000e802000016000000"),
           "directory entry 20 20 10 00 00 00 00 00 e8 02 00 00 16 00 00 00", data[6:22].hex())
    size, width, height, planes, bits, compression, image = struct.unpack_from("<IiiHHII", data, 22)
    used = struct.unpack_from("<I", data, 54)[0]
    expect((size, width, height, planes, bits, compression, image, used) == (40, 32, 64, 1, 4, 0, 512, 16),
           "bitmap header 40, 32 x 64, 1 plane, 4 bits, uncompressed, 512, 16 colours",
           (size, width, height, planes, bits, compression, image, used))
    table = [struct.unpack_from("<BBBB", data, 62 + 4 * i) for i in range(16)]
    colours = [(r << 16) | (g << 8) | b for b, g, r, _ in table]

    def colour_at(x, y):  # y from the top
        row = 31 - y
        byte = data[126 + row * 16 + x // 2]
        return colours[(byte >> 4) if x % 2 == 0 else (byte & 15)]

    def clear_at(x, y):
        row = 31 - y
        byte = data[638 + row * 4 + x // 8]
        return (byte >> (7 - x % 8)) & 1 == 1
    return colour_at, clear_at


def check_icon_file(path, colour):
    with open(path, "rb") as f:
        data = f.read()
    colour_at, clear_at = decode_icon_file(data)
    wrong_mask = [(x, y) for y in range(32) for x in range(32) if clear_at(x, y) == opaque32(x, y)]
    expect(not wrong_mask, "the mask: border and hole transparent, the rest opaque", wrong_mask[:6])
    wrong = [(x, y, "%06x" % colour_at(x, y)) for y in range(32) for x in range(32)
             if opaque32(x, y) and colour_at(x, y) != colour]
    expect(not wrong, "every opaque pixel %06x" % colour, wrong[:6])
    return data


def message_box():
    for d in dialogs():
        text = d.child(ident=65535)
        if text is not None and not d.child(cls="Edit"):
            return d
    return None


def wait_for_message_box():
    def shown():
        box = message_box()
        return (box is not None, box if box is not None else [d.title for d in dialogs()])
    return wait_for("a message box", shown)


def copy_onto_clipboard(press, again, colour):
    """Copies with press() and waits for `colour` at the picture's centre on the clipboard.
    Another program may hold the clipboard open at that moment (here Wine's own bridge to
    the X clipboard, which has just served the driver's xclip): Copy then says so, as it
    must, and makes no retry. The driver, as a user would, presses OK and copies again
    with again(), twice at most; any other message fails the step."""
    for _ in range(3):
        press()
        def done():
            box = message_box()
            if box is not None:
                return True, ("message", box.child(ident=65535)["text"])
            c = read_clipboard()
            return (bool(c[2]) and c[2][16][16] == colour, c[:2])
        seen = wait_for("the %06x icon on the clipboard" % colour, done, timeout=60)
        if seen[0] != "message":
            return
        expect(seen[1].startswith(CLIPBOARD_BUSY_TEXT), "no message but the busy clipboard's", seen[1])
        log("      the clipboard was held by another program and Copy said so; OK, then Copy again")
        click(centre(message_box().child(cls="Button", ident=1)["rect"]))
        wait_dialogs_gone()
        press = again
    raise StepFailure("the clipboard was busy for three copies in a row")


def save_with_tool_button(path, offered):
    """Save As from the tool button into `path` (removed first), the dialog offering `offered`."""
    if os.path.exists(path):
        os.remove(path)
    m = main_state()
    click(centre(m.tools[1][1]))  # the Save As tool button
    wait_file_dialog(offered)
    key("End", "shift+Home")
    type_text(unix_to_wine(path))
    key("Return")
    wait_for("%s written" % path,
             lambda: (os.path.exists(path) and os.path.getsize(path) == ICON_FILE_SIZE,
                      os.path.getsize(path) if os.path.exists(path) else "absent"), timeout=60)
    wait_dialogs_gone()


def close_program(program):
    focus_main()
    key("alt+f")
    wait_for("the File menu", lambda: (bool(popups()), popups()), timeout=5)
    key("x")
    wait_for("the program to end", lambda: (program.exited(), "still running"), timeout=20)
    expect(program.proc.returncode == 0, "exit code 0", program.proc.returncode)


# ---------------------------------------------------------------------------------------
# The parts.

def part_journey(steps):
    fixtures = ARGS.fixtures
    three = unix_to_wine(os.path.join(fixtures, "three.dll"))
    two = unix_to_wine(os.path.join(fixtures, "two.dll"))
    saved = os.path.join(ARGS.work, "saved.ico")
    state = {}
    def first_start():
        def forgotten():
            run(["wine", "reg", "delete", STATUS_KEY, "/f"], check=False)
            values = registry()
            return (values == {}, values)
        wait_for("no stored placement before the first run", forgotten, timeout=20, interval=1)
        state["program"] = start_program()
        m = main_state()
        # Nothing stored: top-left corner of the screen, designed size.
        expect(m.rect[:2] == (0, 0) and m.size() == DESIGNED_SIZE,
               "the window at 0,0 with its designed size %s" % (DESIGNED_SIZE,), m.summary())
        expect(m.title == "Glyphdock", "the title Glyphdock", m.title)
        expect(m.tool(0) == "enabled" and m.tool(1) == "disabled" and m.tool(3) == "disabled",
               "tool bar: Open enabled, Save As and Copy disabled", m.summary())
        expect(m.count == 0 and m.status == "", "an empty list and status line", m.summary())
        focus_main()
        check_main_menu_states(False)
    steps("first start", first_start)

    def open_three():
        focus_main()
        key("alt+f")
        wait_for("the File menu", lambda: (bool(popups()), popups()), timeout=5)
        key("o")
        wait_file_dialog()
        m = main_state()
        expect(not m.enabled, "the main window disabled while the open dialog shows", m.summary())
        # The dialog's order is the typed order: three.dll, then a file without icons, then two.dll.
        file_dialog_choose(fixtures, '"three.dll" "noicons.dll" "two.dll"')
        m = wait_idle(5)
        expect(m.captions() == ["Icon%d" % i for i in range(1, 6)], "captions Icon1..Icon5", m.captions())
        expect([i["image"] for i in m.items] == list(range(5)), "images 0..4", [i["image"] for i in m.items])
        expect(m.status == "" and m.tool(1) == "disabled", "status and commands untouched by the run",
               m.summary())
        time.sleep(0.3)
        screenshot("e2e-main.png")
    steps("open three files", open_three)

    def select_entries():
        names = [status_of_entry(i) for i in range(5)]
        want = [three] * 3 + [two] * 2
        expect([n.lower() for n in names] == [w.lower() for w in want],
               "each entry's file in the status line: %s" % want, names)
        m = main_state()
        expect(m.tool(1) == "enabled" and m.tool(3) == "enabled", "Save As and Copy buttons enabled", m.summary())
        check_main_menu_states(True)
        # A press on empty space clears the selection, the status line and the commands.
        m = focus_main()
        expect(m.selected == -1 and m.status == "" and m.tool(1) == "disabled" and m.tool(3) == "disabled",
               "nothing selected, empty status, Save As and Copy disabled", m.summary())
    steps("select entries", select_entries)

    def shortcut_menu():
        m = main_state()
        # Right press on empty space: shortcut Save As and Copy disabled.
        click((m.list_rect[2] - 25, m.list_rect[3] - 10), 3)
        rect = wait_for("the shortcut menu", lambda: (bool(popups()), popups()), timeout=5)[0]
        time.sleep(0.2)
        states = menu_entry_states(rect)
        expect(states == ["enabled", "disabled", "disabled"],
               "shortcut menu Open, Save As, Copy = enabled, disabled, disabled", states)
        close_menus()
        # Right press on Icon1: it is selected, its file shows, the shortcut entries enable,
        # and the tool bar is left as the last left click set it.
        click(centre(m.items[0]["rect"]), 3)
        rect = wait_for("the shortcut menu", lambda: (bool(popups()), popups()), timeout=5)[0]
        time.sleep(0.2)
        states = menu_entry_states(rect)
        expect(states == ["enabled", "enabled", "enabled"], "shortcut menu entries all enabled", states)
        m = main_state()
        expect(m.selected == 0 and m.status.lower() == three.lower(), "Icon1 selected, three.dll in the status",
               m.summary())
        expect(m.tool(1) == "disabled" and m.tool(3) == "disabled", "tool bar unchanged by a right press",
               m.summary())
        def shortcut_copy():
            key("c")  # Copy from the shortcut menu
            wait_for("the menu closed", lambda: (not popups(), popups()), timeout=5)
        def reopen_and_copy():
            click(centre(main_state().items[0]["rect"]), 3)
            wait_for("the shortcut menu", lambda: (bool(popups()), popups()), timeout=5)
            shortcut_copy()
        copy_onto_clipboard(shortcut_copy, reopen_and_copy, 0xFF0000)
        check_clipboard_picture(0xFF0000)
    steps("shortcut menu and copy", shortcut_menu)

    def copy_from_menu():
        select_entry(2)  # Icon3, blue
        def menu_copy():
            key("alt+e")
            wait_for("the Edit menu", lambda: (bool(popups()), popups()), timeout=5)
            key("c")
        copy_onto_clipboard(menu_copy, menu_copy, 0x0000FF)
        # Only the second picture is left.
        check_clipboard_picture(0x0000FF)
    steps("copy from the Edit menu", copy_from_menu)

    def save():
        select_entry(1)  # Icon2, green
        save_with_tool_button(saved, "Icon2.ico")
        state["green"] = check_icon_file(saved, 0x00FF00)
    steps("save as", save)

    def overwrite_cancel():
        select_entry(2)  # Icon3, blue
        key("alt+f")
        wait_for("the File menu", lambda: (bool(popups()), popups()), timeout=5)
        key("a")
        wait_file_dialog("Icon3.ico")
        key("End", "shift+Home")
        type_text(unix_to_wine(saved))
        key("Return")
        box = wait_for_message_box()
        expect(box.title == "Glyphdock" and box.child(ident=65535)["text"] == CONFIRM_TEXT,
               "the question %r titled Glyphdock" % CONFIRM_TEXT, (box.title, box.child(ident=65535)["text"]))
        ok, cancel = box.child(cls="Button", ident=1), box.child(cls="Button", ident=2)
        expect(ok is not None and cancel is not None, "OK and Cancel buttons", box.children)
        expect(not main_state().enabled, "the main window disabled under the question", main_state().summary())
        click(centre(cancel["rect"]))
        wait_dialogs_gone()
        with open(saved, "rb") as f:
            expect(f.read() == state["green"], "the file unchanged after Cancel", "changed")
    steps("overwrite: Cancel", overwrite_cancel)

    def overwrite_ok():
        m = main_state()
        click(centre(m.items[2]["rect"]), 3)  # the shortcut menu's Save As
        wait_for("the shortcut menu", lambda: (bool(popups()), popups()), timeout=5)
        key("s")
        wait_file_dialog("Icon3.ico")
        key("End", "shift+Home")
        type_text(unix_to_wine(saved))
        key("Return")
        box = wait_for_message_box()
        click(centre(box.child(cls="Button", ident=1)["rect"]))
        wait_dialogs_gone()

        def replaced():
            # The new icon is moved in whole: every look sees the old icon or the new one,
            # never a part (while the two swap places the name may be missing for a moment).
            try:
                with open(saved, "rb") as f:
                    data = f.read()
            except FileNotFoundError:
                return False, "no file for a moment"
            expect(len(data) == ICON_FILE_SIZE, "a whole icon at every look", "%d bytes" % len(data))
            return data != state["green"], "still the green icon"
        wait_for("the file replaced", replaced, timeout=60)
        check_icon_file(saved, 0x0000FF)
    steps("overwrite: OK", overwrite_ok)

    def about_looks_right():
        # What a person reads on the box: the labels' text in dark ink on the dialog's
        # light ground, and the program icon in colour.
        box = state["about"]
        width, _height, pixels = grab_screen()

        def region(rect):
            found = set()
            for y in range(max(rect[1], 0), min(rect[3], 768)):
                for x in range(max(rect[0], 0), min(rect[2], width)):
                    i = (y * width + x) * 3
                    found.add((pixels[i], pixels[i + 1], pixels[i + 2]))
            return found
        for text in ("Glyphdock", VERSION_LINE):
            label = box.child(cls="Static", text=text)
            colours = region(label["rect"])
            expect(any(min(c) >= 200 for c in colours) and any(max(c) <= 80 for c in colours),
                   "the label %r drawn: dark text on a light ground" % text, sorted(colours)[:6])
        picture = [c for c in box.children if c["class"] == "Static" and c["text"] == "" and
                   c["rect"][2] - c["rect"][0] == 32 and c["rect"][3] - c["rect"][1] == 32]
        expect(picture, "the 32 x 32 picture", box.children)
        colours = region(picture[0]["rect"])
        expect(any(max(c) - min(c) > 80 for c in colours), "the program icon in colour in the picture",
               sorted(colours)[:6])

    def about():
        focus_main()
        key("alt+h")
        wait_for("the Help menu", lambda: (bool(popups()), popups()), timeout=5)
        key("Return")
        wait_for("the about box", lambda: (lambda w: (w.present and w.visible, w.present))(Window(PROBE.ask("about"))))
        box = Window(PROBE.ask("about"))
        m = main_state()
        expect(box.title == ABOUT_TITLE, "the title %r" % ABOUT_TITLE, box.title)
        expect(not m.enabled, "the main window disabled under the about box", m.summary())
        mw, mh = m.size()
        aw, ah = box.size()
        want = (max(0, m.rect[0] + int((mw - aw) / 2)), max(0, m.rect[1] + int((mh - ah) / 2)))
        expect(box.rect[:2] == want, "the about box centred over the main window at %s" % (want,), box.rect)
        texts = [c["text"] for c in box.children]
        expect(VERSION_LINE in texts and "OK" in texts, "the version line and OK", texts)
        time.sleep(0.3)
        screenshot("e2e-about.png")
        state["about"] = box
        steps("about box looks right", about_looks_right, fatal=False)
        key("Return")  # OK is the default button
        wait_for("the about box closed", lambda: (lambda w, m: (not w.visible and m.enabled, w.visible))(
            Window(PROBE.ask("about")), main_state()), timeout=5)
    steps("about box", about)

    def move():
        # A person moves and sizes the window by its frame: here the X window is moved
        # and sized as a window manager would do it.
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Glyphdock$"], env=ENV,
                               stdout=subprocess.PIPE, timeout=10).stdout.decode().split()
        if not found:
            steps.skip("move", "the main window's X window was not found by name")
            return
        before = main_state()
        for wid in found:
            xdo("windowmove", wid, 160, 120)
            xdo("windowsize", wid, 420, 330)

        def moved():
            m = main_state()
            return (m.rect[:2] != before.rect[:2] and m.size() != before.size(), m.summary())
        try:
            wait_for("the window moved and sized", moved, timeout=5)
        except StepFailure as failure:
            steps.skip("move", "the window system did not take the X move: %s" % failure)
        state["moved"] = main_state().rect
        log("      the window now at %s" % (state["moved"],))
    steps("move and size", move)

    def close():
        m = main_state()
        state["last"] = m.rect
        close_program(state["program"])
        values = registry()
        want = {"Top": m.rect[1], "Left": m.rect[0], "Width": m.rect[2] - m.rect[0], "Height": m.rect[3] - m.rect[1]}
        expect(values == want, "the placement stored: %s" % want, values)
    steps("close", close)

    def restart():
        state["program"] = start_program()
        m = main_state()
        expect(m.rect == state["last"], "the window back at %s" % (state["last"],), m.summary())
        expect(m.count == 0 and m.status == "" and m.tool(1) == "disabled" and m.tool(3) == "disabled",
               "a fresh start: empty list and status, Save As and Copy disabled", m.summary())
        close_program(state["program"])
    steps("restart where it was left", restart)

    def restart_clamped():
        # Stored beyond the bottom right of a 1024 x 768 screen: cut to what fits.
        screen = PROBE.ask("screen")[0]
        if screen != "screen 1024x768":
            steps.skip("restart clamped", "the display is not 1024 x 768 (%s)" % screen)
            return
        seed_placement(900, 600, 400, 300)
        state["program"] = start_program()
        m = main_state()
        expect(m.rect == (900, 600, 1024, 768), "the window at 900,600 sized 124 x 168", m.summary())
        close_program(state["program"])
    steps("restart with a clamped placement", restart_clamped)


def drag(paths):
    """Drags the files from an X program's window onto the list, holding the button."""
    source = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "dragsource.py"),
                               "640", "520"] + paths, env=ENV, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        line = source.stdout.readline().decode().strip()
        expect(line == "ready", "the drag source on screen", line)
        time.sleep(0.3)
        m = main_state()
        target = (m.list_rect[2] - 40, m.list_rect[3] - 20)
        start = (700, 545)
        xdo("mousemove", *start)
        time.sleep(0.2)
        xdo("mousedown", 1)
        time.sleep(0.2)
        # Move in small steps, as a hand does: the drag begins past a threshold and the
        # target is found by the pointer passing over it.
        for i in range(1, 25):
            xdo("mousemove", start[0] + (target[0] - start[0]) * i // 24, start[1] + (target[1] - start[1]) * i // 24)
            time.sleep(0.04)
        time.sleep(0.4)
        xdo("mousemove", target[0] + 1, target[1] + 1)
        time.sleep(0.3)
        xdo("mouseup", 1)
        line = source.stdout.readline().decode().strip()
        expect(line == "sent %d" % len(paths), "the drop target to take %d files" % len(paths), line)
    finally:
        source.stdin.close()
        try:
            source.wait(timeout=10)
        except subprocess.TimeoutExpired:
            source.kill()


def seed_placement(left, top, width, height):
    """A placement as an earlier run would have left it, so the part starts where it expects."""
    answer = PROBE.ask("placement %d %d %d %d" % (left, top, width, height))
    expect(answer == ["ok"], "the placement %s stored" % ((left, top, width, height),), answer)


def part_drop(steps):
    fixtures = ARGS.fixtures
    three = unix_to_wine(os.path.join(fixtures, "three.dll"))
    two = unix_to_wine(os.path.join(fixtures, "two.dll"))
    state = {}

    def start():
        seed_placement(40, 30, 420, 360)
        state["program"] = start_program()
        m = focus_main()
        expect(m.rect == (40, 30, 460, 390), "the window where the last run left it", m.summary())
        click(centre(m.tools[0][1]))  # the Open tool button
        file_dialog_choose(fixtures, '"three.dll"')
        wait_idle(3)
        m = select_entry(0)
        expect(m.tool(1) == "enabled" and m.tool(3) == "enabled", "Save As and Copy enabled", m.summary())
    steps("open with the tool button", start)

    def drop_no_icons():
        drag([os.path.join(fixtures, "noicons.dll")])
        m = wait_idle(0)
        # The drop emptied the list; the commands stay as the last click set them.
        expect(m.tool(1) == "enabled" and m.tool(3) == "enabled", "Save As and Copy still enabled", m.summary())
        expect(m.status.lower() == three.lower(), "the status line untouched by the run", m.summary())
        # With nothing selected they do nothing: no save dialog opens.
        click(centre(m.tools[1][1]))
        time.sleep(1.0)
        expect(not dialogs(), "no dialog from Save As with nothing selected", [d.title for d in dialogs()])
    steps("drop a file without icons", drop_no_icons)

    def drop_three_files():
        paths = [os.path.join(fixtures, n) for n in ("two.dll", "three.dll", "two.dll")]
        drag(paths)
        m = wait_idle(7)
        expect(m.captions() == ["Icon%d" % i for i in range(1, 8)], "captions Icon1..Icon7", m.captions())
        names = [status_of_entry(i).lower() for i in range(7)]
        want = [two.lower()] * 2 + [three.lower()] * 3 + [two.lower()] * 2
        expect(names == want, "each entry's dropped file (Z:\\ names) in the status line", names)
        time.sleep(0.3)
        screenshot("e2e-drop.png")
    steps("drop three files", drop_three_files)

    def close():
        close_program(state["program"])
    steps("close", close)


def part_cancel(steps):
    copies = os.path.join(ARGS.work, "long")
    shutil.rmtree(copies, ignore_errors=True)
    os.makedirs(copies)
    names = ["s%02d.dll" % i for i in range(1, 41)]
    for n in names:
        shutil.copyfile(system32("shell32.dll"), os.path.join(copies, n))
    state = {}

    def one_copy():
        seed_placement(40, 30, 420, 360)
        state["program"] = start_program()
        m = focus_main()
        click(centre(m.tools[0][1]))
        file_dialog_choose(copies, '"s01.dll"')

        def counted():
            m = main_state()
            return (m.enabled and not Window(PROBE.ask("busy")).visible and m.count > 0, m.summary())
        wait_for("one copy collected", counted, timeout=30)
        state["per_file"] = main_state().count
        log("      one copy of shell32.dll holds %d icons" % state["per_file"])
    steps("one copy", one_copy)

    def cancel():
        m = focus_main()
        click(centre(m.tools[0][1]))
        file_dialog_choose(copies, " ".join('"%s"' % n for n in names))

        wanted = [unix_to_wine(os.path.join(copies, n)).lower() for n in names]

        # While a file's icons are read the program answers no message, so the run is
        # watched through what the window system itself keeps: visibility, rectangles and
        # the label's text. Asking the list now would hold the run up.
        def file_in_progress(busy):
            labels = [c["text"].lower() for c in busy.children if c["class"] == "Static"]
            return max([wanted.index(t) for t in labels if t in wanted], default=-1)

        def progressing():
            busy = Window(PROBE.ask("busy"))
            index = file_in_progress(busy) if busy.present else -1
            return (busy.present and busy.visible and index >= 2, index)
        wait_for("the busy dialog past its second file", progressing, timeout=60, interval=0.1)
        busy = Window(PROBE.ask("busy"))
        main_top = top_window("TMainForm")
        expect(not main_top["enabled"], "the main window disabled during the run", main_top)
        bw, bh = busy.size()
        mr = main_top["rect"]
        mw, mh = mr[2] - mr[0], mr[3] - mr[1]
        want = (max(0, mr[0] + int((mw - bw) / 2)), max(0, mr[1] + int((mh - bh) / 2)))
        expect(busy.rect[:2] == want, "the busy dialog centred over the main window at %s" % (want,), busy.rect)
        expect(busy.title == "Glyphdock", "the busy dialog titled Glyphdock", busy.title)
        button = busy.child(cls="Button", text=CANCEL_CAPTION)
        expect(button is not None, "the button %r" % CANCEL_CAPTION, busy.children)
        screenshot("e2e-busy.png")
        seen_index = file_in_progress(Window(PROBE.ask("busy")))
        clicked = time.monotonic()
        click(centre(button["rect"]))

        def ended():
            busy, main_top = Window(PROBE.ask("busy")), top_window("TMainForm")
            return (main_top["enabled"] and not busy.visible, (main_top, busy.visible))
        wait_for("the run to end after Cancel", ended, timeout=30)
        log("      the run ended %.1f s after Cancel" % (time.monotonic() - clicked))
        first = main_state().count
        time.sleep(1.0)
        m = main_state()
        per = state["per_file"]
        expect(m.count == first, "no entry added after the run ended", (first, m.count))
        expect(m.count % per == 0, "whole files only: a multiple of %d entries" % per, m.count)
        begun = m.count // per
        # The click is taken in between steps only, so a file or two more may have begun
        # after the one shown when the button was pressed. Every file begun is read to
        # its end, and the dialog, now hidden, still names the last file begun.
        last_index = file_in_progress(Window(PROBE.ask("busy")))
        expect(seen_index + 1 <= begun < 40,
               "at least %d files read (file %d in progress at the click), not all 40" %
               (seen_index + 1, seen_index + 1), begun)
        expect(begun == last_index + 1, "the icons of every file up to the last one shown (file %d)" %
               (last_index + 1), begun)
        # The probe shows the first 60 entries and the last one.
        expect(all(i["caption"] == "Icon%d" % (i["index"] + 1) for i in m.items) and m.items[-1]["index"] == m.count - 1,
               "captions Icon1..Icon%d without a gap" % m.count, [(i["index"], i["caption"]) for i in m.items][-3:])
        log("      cancelled with %d of 40 files read" % begun)
    steps("cancel a long run", cancel)

    def close():
        close_program(state["program"])
    steps("close", close)


def part_sequence(steps):
    """Many short sessions one after another on one display, each with a fresh start of
    the program: open a one-icon DLL, click its only entry at once, then save, copy or
    just look. The first click after such a short run must select the entry and show its
    file in the status line every time."""
    fixtures = ARGS.fixtures
    one = unix_to_wine(os.path.join(fixtures, "highcolour.dll"))
    saved = os.path.join(ARGS.work, "sequence.ico")
    rounds = int(os.environ.get("GLYPHDOCK_SEQUENCE_ROUNDS", "6"))
    actions = ["select", "save", "copy"]

    def session(number):
        action = actions[number % len(actions)]
        program = start_program()
        try:
            focus_main()
            key("alt+f")
            wait_for("the File menu", lambda: (bool(popups()), popups()), timeout=5)
            key("o")
            file_dialog_choose(fixtures, '"highcolour.dll"')
            m = wait_idle(1)
            # One press and release on the entry, then read what the person sees.
            click(centre(m.items[0]["rect"]))
            def shown():
                now = main_state()
                return (now.selected == 0 and now.status.lower() == one.lower(), now.summary())
            wait_for("round %d: the entry selected and its file in the status line" % number, shown, timeout=5)
            if action == "save":
                save_with_tool_button(saved, "Icon1.ico")
            elif action == "copy":
                expect(PROBE.ask("clipclear") == ["emptied"], "the clipboard emptied first", "not emptied")
                m = main_state()
                click(centre(m.tools[3][1]))
                wait_for("a 32 x 32 picture on the clipboard",
                         lambda: (lambda c: (c[1] == "32x32", c[:2]))(read_clipboard()), timeout=60)
            close_program(program)
        finally:
            program.kill()

    for number in range(rounds):
        steps("session %d (%s)" % (number + 1, actions[number % len(actions)]), lambda n=number: session(n))


def short_or_same(wine_name):
    """The name the program goes by: unchanged when code page 932 spells it, else the
    platform's short name (asked of the platform itself, through the probe)."""
    try:
        wine_name.encode("cp932")
        return wine_name
    except UnicodeEncodeError:
        pass
    answer = PROBE.ask("short " + wine_name)
    expect(answer and answer[0].startswith("short "), "a short name for %s" % wine_name, answer)
    short = answer[0][len("short "):]
    expect("~" in short and short.isascii(), "a generated 8.3 name for %s" % wine_name, short)
    return short


def part_names(steps):
    """Files whose names code page 932 cannot spell, among ordinary ones: dropped, and
    chosen in the open dialog one at a time and several together."""
    sources = {"résumé.dll": "three.dll", "한글 메모장.dll": "two.dll", "emoji 😀.dll": "three.dll",
               "plain.dll": "two.dll", "日本語の名前.dll": "three.dll"}
    icons = {"three.dll": 3, "two.dll": 2}
    folder = os.path.join(ARGS.work, "names")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, source in sources.items():
        shutil.copyfile(os.path.join(ARGS.fixtures, source), os.path.join(folder, name))
    state = {}

    def check_run(names, in_order=True):
        """Every icon of every file, numbered without a gap, each naming its file. The
        open dialog may hand several names over in its own order: then each file's icons
        must still sit together, once per file."""
        total = sum(icons[sources[n]] for n in names)
        m = wait_idle(total)
        expect(m.captions() == ["Icon%d" % i for i in range(1, total + 1)],
               "captions Icon1..Icon%d" % total, m.captions())
        used = {short_or_same(unix_to_wine(os.path.join(folder, n))).lower(): n for n in names}
        seen = [status_of_entry(i).lower() for i in range(total)]
        runs = []
        for s_ in seen:
            if runs and runs[-1][0] == s_:
                runs[-1][1] += 1
            else:
                runs.append([s_, 1])
        order = [used.get(r[0], r[0]) for r in runs]
        expect(sorted(order) == sorted(names) and all(icons[sources[used[r[0]]]] == r[1] for r in runs),
               "the status line naming each entry's file as the program uses it: %s" % sorted(used), seen)
        if in_order:
            expect(order == names, "the files in the order given", order)

    def start():
        seed_placement(40, 30, 420, 360)
        state["program"] = start_program()
        focus_main()
    steps("start", start)

    def drop():
        names = ["résumé.dll", "plain.dll", "한글 메모장.dll", "日本語の名前.dll"]
        drag([os.path.join(folder, n) for n in names])
        check_run(names)
    steps("drop such names among ordinary ones", drop)

    def open_one():
        m = focus_main()
        click(centre(m.tools[0][1]))
        file_dialog_choose(folder, '"emoji 😀.dll"', paste=True)
        check_run(["emoji 😀.dll"])
    steps("open one such name", open_one)

    def open_several():
        names = ["plain.dll", "résumé.dll", "한글 메모장.dll", "emoji 😀.dll", "日本語の名前.dll"]
        m = focus_main()
        click(centre(m.tools[0][1]))
        file_dialog_choose(folder, " ".join('"%s"' % n for n in names), paste=True)
        check_run(names, in_order=False)
        screenshot("e2e-names.png")
    steps("open several, such names among them", open_several)

    def close():
        close_program(state["program"])
    steps("close", close)


# Where entry 0 of a one-icon run appears with the window at 60,60, 640 x 480.
RESTING_PLACEMENT = (60, 60, 640, 480)
RESTING_POINT = (103, 153)


def part_resting(steps):
    """A press on a pointer that has not moved since before the program started: the
    pointer rests where entry 0 will appear, the program starts afresh, a one-icon file
    is opened with the keyboard only, and the button goes down and up without motion.
    The display keeps its pointer between programs (-noreset), as a desktop does."""
    fixtures = ARGS.fixtures
    one = unix_to_wine(os.path.join(fixtures, "highcolour.dll")).lower()

    def pointer():
        out = subprocess.run(["xdotool", "getmouselocation"], env=ENV, stdout=subprocess.PIPE,
                             timeout=10).stdout.decode()
        f = dict(p.split(":") for p in out.split() if ":" in p)
        return (int(f["x"]), int(f["y"]))

    def session(press):
        seed_placement(*RESTING_PLACEMENT)
        if pointer() != RESTING_POINT:
            xdo("mousemove", *RESTING_POINT)
        program = start_program()
        try:
            key("alt+f")
            wait_for("the File menu", lambda: (bool(popups()), popups()), timeout=5)
            key("o")
            file_dialog_choose(fixtures, '"highcolour.dll"')
            m = wait_idle(1)
            rect = m.items[0]["rect"]
            at = pointer()
            expect(at == RESTING_POINT and rect[0] <= at[0] < rect[2] and rect[1] <= at[1] < rect[3],
                   "the pointer resting on entry 0 %s since the start" % (rect,), at)
            press()
            # Closed from the keyboard: the pointer stays where the next start finds it.
            key("alt+f")
            wait_for("the File menu", lambda: (bool(popups()), popups()), timeout=5)
            key("x")
            wait_for("the program to end", lambda: (program.exited(), "still running"), timeout=20)
        finally:
            program.kill()

    def selected_with_status():
        now = main_state()
        return (now.selected == 0 and now.status.lower() == one, now.summary())

    def left():
        xdo("click", 1)
        wait_for("the entry selected and its file in the status line", selected_with_status, timeout=5)

    def right():
        xdo("click", 3)
        wait_for("the entry selected and its file in the status line", selected_with_status, timeout=5)
        rect = wait_for("the shortcut menu", lambda: (bool(popups()), popups()), timeout=5)[0]
        time.sleep(0.2)  # let it finish painting
        states = menu_entry_states(rect)
        expect(states == ["enabled"] * 3, "Open, Save As and Copy enabled by the press on the entry", states)
        close_menus()

    def double():
        xdo("click", "--repeat", 2, "--delay", 120, 1)
        wait_for("the entry selected and its file in the status line", selected_with_status, timeout=5)

    # Twice each: the second start finds the pointer where the first one's press left it.
    for name, press in (("left click", left), ("right press", right), ("double click", double)):
        for round_ in (1, 2):
            steps("%s on a resting pointer, start %d" % (name, round_),
                  lambda p=press: session(p))


FIRST_SAVE_USER = "glyphdock-user"


def prepare_user():
    """An ordinary user for whom the test can run Wine: this one when not root, else a
    system user made for the purpose. Returns (name, reason-to-skip)."""
    if os.geteuid() != 0:
        import pwd
        return pwd.getpwuid(os.geteuid()).pw_name, None
    if shutil.which("runuser") is None or shutil.which("useradd") is None:
        return None, "runuser or useradd is missing"
    if subprocess.run(["id", FIRST_SAVE_USER], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        made = subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                               FIRST_SAVE_USER], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if made.returncode != 0:
            return None, "useradd %s failed: %s" % (FIRST_SAVE_USER, made.stdout.decode(errors="replace").strip())
    return FIRST_SAVE_USER, None


def part_firstsave(steps):
    """The first Save of an ordinary user, with the program in a folder that user cannot
    write (as when installed) and in one of the user's own. Both dialogs must start where
    a Save succeeds: the user's documents folder, or the program's own folder."""
    global AS_USER, ENV, PROBE
    user, reason = prepare_user()
    if reason:
        steps.skip("first save as an ordinary user", reason)
        return
    import pwd
    entry = pwd.getpwnam(user)
    # Everything the user touches lives in a folder of its own that anyone can reach:
    # the build tree may sit where this user cannot go.
    base = os.path.join(tempfile.gettempdir(), "glyphdock-firstsave-%d" % os.getpid())
    shutil.rmtree(base, ignore_errors=True)
    installed, own, home, prefix = (os.path.join(base, n) for n in ("installed", "own", "home", "prefix"))
    for d in (base, installed, own, home, prefix):
        os.makedirs(d)
    os.chmod(base, 0o755)
    for d in (installed, own):
        shutil.copyfile(os.path.join(ARGS.bin, "Glyphdock.exe"), os.path.join(d, "Glyphdock.exe"))
    probe_exe = os.path.join(base, "glyphdock_probe.exe")
    shutil.copyfile(os.path.join(ARGS.bin, "glyphdock_probe.exe"), probe_exe)
    # The installed folder belongs to someone else and is read-only to the user.
    os.chmod(installed, 0o555)
    for d in (own, home, prefix):
        os.chown(d, entry.pw_uid, entry.pw_gid)
    os.chown(os.path.join(own, "Glyphdock.exe"), entry.pw_uid, entry.pw_gid)
    saved_env, saved_probe = ENV, PROBE
    ENV = {"HOME": home, "USER": user, "LOGNAME": user, "PATH": "/usr/bin:/bin", "WINEPREFIX": prefix,
           "WINEDEBUG": "-all", "LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8", "DISPLAY": saved_env["DISPLAY"],
           "WINEDLLOVERRIDES": "mscoree=;mshtml="}
    if os.geteuid() == 0:
        AS_USER = [shutil.which("runuser"), "-u", user, "--", shutil.which("env"), "-i"]
    try:
        def prefix_made():
            log("      making a Wine prefix for %s (about half a minute)" % user)
            run(["wine", "wineboot", "-i"], timeout=300)
            run(["wineserver", "-w"], timeout=120)
            globals()["PROBE"] = Probe(probe_exe)
            answer = PROBE.ask("documents")
            expect(answer and answer[0].startswith("documents "), "the user's documents folder", answer)
            state["documents"] = answer[0][len("documents "):]
            log("      documents folder: %s" % state["documents"])
        state = {}
        steps("a Wine prefix of the user's own", prefix_made)

        def session(folder, dialog_folder, unix_folder):
            """Opens highcolour.dll by its bare name (found only where the dialog starts),
            then saves Icon1.ico where the save dialog starts, as offered."""
            shutil.copyfile(os.path.join(ARGS.fixtures, "highcolour.dll"), os.path.join(unix_folder, "highcolour.dll"))
            saved = os.path.join(unix_folder, "Icon1.ico")
            if os.path.exists(saved):
                os.remove(saved)
            seed_placement(40, 30, 420, 360)
            program = start_program(unix_to_wine(os.path.join(folder, "Glyphdock.exe")), home)
            try:
                m = focus_main()
                click(centre(m.tools[0][1]))
                wait_file_dialog()
                key("End", "shift+Home")
                type_text('"highcolour.dll"')
                key("Return")
                wait_idle(1)
                status = status_of_entry(0)
                want = (dialog_folder.rstrip("\\") + "\\highcolour.dll").lower()
                expect(status.lower() == want, "the open dialog started in %s" % dialog_folder, status)
                m = main_state()
                click(centre(m.tools[1][1]))
                wait_file_dialog("Icon1.ico")
                key("Return")
                wait_for("Icon1.ico saved in %s" % unix_folder,
                         lambda: (os.path.exists(saved) and os.path.getsize(saved) == ICON_FILE_SIZE,
                                  os.listdir(unix_folder)), timeout=10)
                expect(message_box() is None, "no message box", [d.title for d in dialogs()])
                wait_dialogs_gone()
                close_program(program)
            finally:
                program.kill()
            left = sorted(os.listdir(folder))
            expect(left == sorted(["Glyphdock.exe"] + (["highcolour.dll", "Icon1.ico"] if folder == own else [])),
                   "nothing left behind in the program's folder", left)

        def documents_unix():
            # C:\users\NAME\Documents inside the user's prefix (Wine links it into the home).
            rest = state["documents"][3:].replace("\\", "/")
            return os.path.realpath(os.path.join(prefix, "drive_c", rest))

        steps("program in a folder the user cannot write: dialogs in the documents folder",
              lambda: session(installed, state["documents"], documents_unix()))
        steps("program in the user's own folder: dialogs in the program's folder",
              lambda: session(own, unix_to_wine(own), own))
    finally:
        try:
            if PROBE is not None and PROBE is not saved_probe:
                PROBE.close()
            end_wineserver()
        finally:
            AS_USER = []
        ENV, PROBE = saved_env, saved_probe
        shutil.rmtree(base, ignore_errors=True)


PARTS = {"journey": part_journey, "drop": part_drop, "cancel": part_cancel, "sequence": part_sequence,
         "names": part_names, "resting": part_resting, "firstsave": part_firstsave}


def start_display(keep_pointer=False):
    """The harness provides a display; run on a private Xvfb when there is none, or when
    the part needs a screen that keeps its pointer between programs (-noreset: otherwise
    the server resets, and centres the pointer, whenever its last client leaves)."""
    if os.environ.get("DISPLAY") and not keep_pointer:
        return os.environ["DISPLAY"], None
    for number in range(140, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"] +
                                    (["-noreset"] if keep_pointer else []),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(50):
                if os.path.exists("/tmp/.X11-unix/X%d" % number):
                    return ":%d" % number, xvfb
                time.sleep(0.1)
            xvfb.kill()
    raise RuntimeError("no display could be started")


def main():
    global ARGS, ENV, PROBE
    parser = argparse.ArgumentParser()
    parser.add_argument("part", choices=sorted(PARTS))
    parser.add_argument("--bin", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--screenshots", required=True)
    ARGS = parser.parse_args()
    for name in ("bin", "fixtures", "work", "prefix", "screenshots"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    os.makedirs(ARGS.work, exist_ok=True)
    display, xvfb = start_display(keep_pointer=ARGS.part == "resting")
    ENV = wine_env(ARGS.prefix, display)
    steps = Steps(ARGS.part)
    started = time.monotonic()
    ok = False
    try:
        for needed in (os.path.join(ARGS.bin, "Glyphdock.exe"), os.path.join(ARGS.bin, "glyphdock_probe.exe"),
                       os.path.join(ARGS.fixtures, "three.dll"), os.path.join(ARGS.fixtures, "two.dll"),
                       os.path.join(ARGS.fixtures, "noicons.dll")):
            if not os.path.exists(needed):
                raise StepFailure("missing %s: build Glyphdock, glyphdock_probe and glyphdock_fixtures" % needed)
        # A server left from an earlier run may carry another locale: start afresh.
        end_wineserver()
        ensure_prefix()
        PROBE = Probe()
        PROBE.ask("screen")
        PARTS[ARGS.part](steps)
        ok = not steps.failed
    except StepFailure as failure:
        if not getattr(failure, "reported", False):
            log("FAIL %s: %s" % (ARGS.part, failure))
    except Exception:
        log("FAIL %s: %s" % (ARGS.part, traceback.format_exc()))
    finally:
        if PROBE is not None:
            PROBE.close()
        end_wineserver()
        if xvfb is not None:
            xvfb.send_signal(signal.SIGTERM)
            xvfb.wait(timeout=10)
    log("%s %s: %d steps passed in %.0f s" % ("PASS" if ok else "FAIL", ARGS.part, steps.passed,
                                               time.monotonic() - started))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
