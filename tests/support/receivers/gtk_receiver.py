#!/usr/bin/python3
"""A GTK 3 window that reports what it received; the test counterpart of QtReceiver.

Usage: gtk_receiver.py text|password
  text      a multi-line text view
  password  a single-line entry with its text hidden (an accessible "password text")
Commands on standard input, answers on standard output, one line each:
  text  -> the widget's text as hex-encoded UTF-8 ("-" when empty)
  clear -> "ok"
  focused -> "yes" when the window is the active one and the widget has the keyboard focus
  lag MS -> "ok"; the next V key keeps the main loop busy for MS milliseconds before it is
            handled, as a busy application reads a paste late
At start it prints "ready <window id>" once the window is mapped (0 on Wayland, which has no
window ids).
"""
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402,F401

mode = sys.argv[1] if len(sys.argv) > 1 else "text"
window = Gtk.Window(title="murrelo-gtk-receiver")
window.set_default_size(600, 400)
if mode == "password":
    widget = Gtk.Entry()
    widget.set_visibility(False)
    widget.set_input_purpose(Gtk.InputPurpose.PASSWORD)
    window.add(widget)
else:
    # Wrapped, so that a long single line does not make the view wider than X allows.
    widget = Gtk.TextView()
    widget.set_wrap_mode(Gtk.WrapMode.CHAR)
    scroller = Gtk.ScrolledWindow()
    scroller.set_policy(Gtk.PolicyType.NEVER, Gtk.PolicyType.AUTOMATIC)
    scroller.add(widget)
    window.add(scroller)


def current_text():
    if mode == "password":
        return widget.get_text()
    buffer = widget.get_buffer()
    return buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)


def clear():
    if mode == "password":
        widget.set_text("")
    else:
        widget.get_buffer().set_text("")


lag_seconds = 0.0


def on_key(_widget, event):
    global lag_seconds
    if event.keyval in (Gdk.KEY_v, Gdk.KEY_V) and lag_seconds > 0:
        until = time.monotonic() + lag_seconds
        lag_seconds = 0.0
        while time.monotonic() < until:
            pass
    return False


def answer(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def on_input(source, condition):
    line = source.readline()
    if not line:
        Gtk.main_quit()
        return False
    command = line.strip()
    if command == "text":
        text = current_text()
        answer(text.encode("utf-8").hex() if text else "-")
    elif command == "focused":
        answer("yes" if window.is_active() and widget.has_focus() else "no")
    elif command == "clear":
        clear()
        answer("ok")
    elif command.startswith("lag "):
        global lag_seconds
        lag_seconds = int(command[4:]) / 1000.0
        answer("ok")
    else:
        answer("unknown")
    return True


def on_map(*_):
    widget.grab_focus()
    surface = window.get_window()
    answer("ready %d" % (surface.get_xid() if hasattr(surface, "get_xid") else 0))
    return False


window.connect("map-event", on_map)
window.connect("key-press-event", on_key)
window.connect("destroy", Gtk.main_quit)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
window.show_all()
Gtk.main()
