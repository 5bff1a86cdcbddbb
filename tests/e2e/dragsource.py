"""A small GTK window that offers files for dragging, as a file manager would.

Usage: dragsource.py X Y FILE...  -- shows a window at screen position X, Y; a drag that
starts on it carries the files as a text/uri-list. Prints "ready" once it is on screen
and "sent N" when the drop target asked for the data; ends when its stdin closes.
"""
import sys
import urllib.parse
import urllib.request

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gdk, Gtk  # noqa: E402


def main():
    x, y = int(sys.argv[1]), int(sys.argv[2])
    uris = ["file://" + urllib.request.pathname2url(p) for p in sys.argv[3:]]

    window = Gtk.Window(type=Gtk.WindowType.TOPLEVEL)
    window.set_decorated(False)
    window.set_default_size(160, 60)
    window.move(x, y)
    box = Gtk.EventBox()
    box.add(Gtk.Label(label="%d files" % len(uris)))
    window.add(box)
    box.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [], Gdk.DragAction.COPY)
    box.drag_source_add_uri_targets()

    def on_get(_widget, _context, data, _info, _time):
        data.set_uris(uris)
        print("sent %d" % len(uris), flush=True)

    box.connect("drag-data-get", on_get)

    def on_mapped(*_args):
        print("ready", flush=True)

    window.connect("map-event", on_mapped)
    window.show_all()

    # The driver ends the source by closing its stdin.
    def on_stdin(_source, _condition):
        Gtk.main_quit()
        return False

    GLib.io_add_watch(sys.stdin, GLib.IO_HUP | GLib.IO_IN, on_stdin)
    Gtk.main()


if __name__ == "__main__":
    main()
