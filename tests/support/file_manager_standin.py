#!/usr/bin/python3
"""A stand-in for a file manager on the session bus, owning org.freedesktop.FileManager1.

Usage: file_manager_standin.py MODE [LOCATION]
  answer LOCATION  answers OpenWindowsWithLocations with a back window and a front one at LOCATION
  slow LOCATION    answers the same after 3 seconds
  refuse           answers with org.freedesktop.DBus.Error.AccessDenied
  empty            answers with no windows
Prints "ready" once the name is owned.
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.FileManager1"
PATH = "/org/freedesktop/FileManager1"


class FileManager(dbus.service.Object):
    def __init__(self, bus, mode, location):
        super().__init__(bus, PATH)
        self.mode = mode
        self.location = location

    def windows(self):
        if self.mode == "empty":
            return dbus.Dictionary({}, signature="sas")
        # Front window first, as file managers list them; its path sorts after the back one's, so a
        # client that sorted by path would pick the wrong window.
        return dbus.Dictionary(
            [("/org/fm/window/2", dbus.Array([self.location, "file:///tab2"], signature="s")),
             ("/org/fm/window/1", dbus.Array(["file:///back"], signature="s"))],
            signature="sas")

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v",
                         async_callbacks=("reply", "error"))
    def Get(self, interface, prop, reply, error):
        if self.mode == "refuse":
            error(dbus.exceptions.DBusException("not allowed",
                                                name="org.freedesktop.DBus.Error.AccessDenied"))
            return
        value = self.windows()
        if self.mode == "slow":
            GLib.timeout_add(3000, lambda: reply(value) and False)
        else:
            reply(value)


def main():
    mode = sys.argv[1]
    location = sys.argv[2] if len(sys.argv) > 2 else ""
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    _name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    _manager = FileManager(bus, mode, location)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
