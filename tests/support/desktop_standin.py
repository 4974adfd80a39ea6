#!/usr/bin/python3
"""Stand-ins for a desktop's tray host and notification server on the session bus.

Usage: desktop_standin.py [watcher] [notifications] [silent-secrets]
  watcher        owns org.kde.StatusNotifierWatcher with a host registered, so Qt puts its tray
                 icon on the bus (StatusNotifierItem); prints "item SERVICE" for each registration
  notifications  owns org.freedesktop.Notifications; prints
                 "notify ID REPLACES EXPIRE APP|SUMMARY" and "close ID"
  silent-secrets owns org.freedesktop.secrets and takes every call without ever answering (a hung
                 keyring); prints "secrets METHOD" for each call
Each line starts with the seconds of the monotonic clock (CLOCK_MONOTONIC, what C++'s steady_clock
reads), so a caller can time events against its own clock. Prints "ready" once the names are owned.
"""
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

def say(line):
    print(f"{time.monotonic():.6f} {line}", flush=True)


WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_XML = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    def properties(self):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(True),
                "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return WATCHER_XML

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties()

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        name = service if service.startswith(":") or "." in service else sender
        self.items.append(name)
        say(f"item {service}")
        self.StatusNotifierItemRegistered(name)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass


NOTIFICATIONS = "org.freedesktop.Notifications"


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 1

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, expire):
        number = replaces if replaces else self.next_id
        if not replaces:
            self.next_id += 1
        say(f"notify {number} {replaces} {expire} {app}|{summary}")
        return number

    @dbus.service.method(NOTIFICATIONS, in_signature="u")
    def CloseNotification(self, number):
        say(f"close {number}")

    @dbus.service.method(NOTIFICATIONS, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NOTIFICATIONS, out_signature="ssss")
    def GetServerInformation(self):
        return ("desktop-standin", "murrelo-tests", "1", "1.2")


SECRETS = "org.freedesktop.Secret.Service"


class SilentSecrets(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/secrets")
        self.held = []

    def hold(self, method, reply, error):
        say(f"secrets {method}")
        self.held.append((reply, error))

    @dbus.service.method(SECRETS, in_signature="sv", out_signature="vo",
                         async_callbacks=("reply", "error"))
    def OpenSession(self, algorithm, argument, reply, error):
        self.hold("OpenSession", reply, error)

    @dbus.service.method(SECRETS, in_signature="a{ss}", out_signature="aoao",
                         async_callbacks=("reply", "error"))
    def SearchItems(self, attributes, reply, error):
        self.hold("SearchItems", reply, error)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}",
                         async_callbacks=("reply", "error"))
    def GetAll(self, interface, reply, error):
        self.hold("GetAll", reply, error)


def main():
    roles = set(sys.argv[1:]) or {"watcher", "notifications"}
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    keep = []
    if "watcher" in roles:
        keep.append(dbus.service.BusName(WATCHER, bus, do_not_queue=True))
        keep.append(Watcher(bus))
    if "notifications" in roles:
        keep.append(dbus.service.BusName(NOTIFICATIONS, bus, do_not_queue=True))
        keep.append(Notifications(bus))
    if "silent-secrets" in roles:
        keep.append(dbus.service.BusName("org.freedesktop.secrets", bus, do_not_queue=True))
        keep.append(SilentSecrets(bus))
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
