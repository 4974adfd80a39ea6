#!/usr/bin/env bash
# Publishes the server's service through a real Avahi daemon that runs inside a network namespace
# made for this test, on a private system bus, and checks with avahi-browse that the TXT record
# carries the certificate fingerprint. Nothing multicasts outside the namespace. Exit 77 = skipped.
# Usage: advertise_in_namespace.sh PROBE_EXECUTABLE
set -euo pipefail
probe=$1

if [ "$(id -u)" != 0 ]; then echo "skipped: needs root for ip netns"; exit 77; fi
for tool in ip avahi-daemon avahi-browse dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done

work=$(mktemp -d /tmp/murrelo-avahi.XXXXXX)
ns=murrelo-avahi-$$
bus_pid='' avahi_pid='' probe_pid=''
cleanup() {
  set +e
  [ -n "$probe_pid" ] && { exec 9>&-; kill "$probe_pid" 2>/dev/null; wait "$probe_pid" 2>/dev/null; }
  [ -n "$avahi_pid" ] && { kill "$avahi_pid" 2>/dev/null; wait "$avahi_pid" 2>/dev/null; }
  [ -n "$bus_pid" ] && { kill "$bus_pid" 2>/dev/null; wait "$bus_pid" 2>/dev/null; }
  ip netns delete "$ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip -n "$ns" link set lo up

# A private system bus: the daemon and its clients meet here, apart from any other test's Avahi.
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/bus.log" 2>&1 &
bus_pid=$!
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
for _ in $(seq 1 100); do [ -S "$work/system_bus_socket" ] && break; sleep 0.05; done
[ -S "$work/system_bus_socket" ] || { echo "private bus did not start"; cat "$work/bus.log"; exit 1; }

cat >"$work/avahi.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
mkdir -p /run/avahi-daemon
# `ip netns exec` gives the command its own mount namespace: the tmpfs (pid file) stays private.
ip netns exec "$ns" sh -c "mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon \
  -f '$work/avahi.conf' --no-drop-root --no-chroot --no-rlimits" >"$work/avahi.log" 2>&1 &
avahi_pid=$!
for _ in $(seq 1 100); do avahi-browse -at >/dev/null 2>&1 && break; sleep 0.1; done
avahi-browse -at >/dev/null 2>&1 || { echo "avahi-daemon did not start"; cat "$work/avahi.log"; exit 1; }

mkfifo "$work/probe-in"
"$probe" "$work" <"$work/probe-in" >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
exec 9>"$work/probe-in"

for _ in $(seq 1 200); do grep -qE '^(advertising|unavailable) ' "$work/probe.out" && break; sleep 0.1; done
cat "$work/probe.out"
grep -q '^advertising ' "$work/probe.out" || { echo "not advertised"; cat "$work/probe.err"; exit 1; }
fingerprint=$(sed -n 's/^fingerprint //p' "$work/probe.out")

found=''
for _ in $(seq 1 50); do
  if avahi-browse -rpt _kestrune._tcp 2>/dev/null | tee "$work/browse.out" | grep -q "\"fp=$fingerprint\""; then
    found=yes; break
  fi
  sleep 0.2
done
cat "$work/browse.out"
[ -n "$found" ] || { echo "TXT record fp=$fingerprint not found"; exit 1; }
