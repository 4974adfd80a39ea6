#!/usr/bin/env bash
# `murrelo-phone discover` against a real Avahi daemon inside a network namespace made for this
# test, on a private system bus: two computers announce "_kestrune._tcp", only the one whose TXT
# "fp" matches the pinned fingerprint (in another letter case) is reported. Nothing multicasts
# outside the namespace. Exit 77 = skipped.
# Usage: discover_in_namespace.sh MURRELO_PHONE
set -euo pipefail
phone=$1

if [ "$(id -u)" != 0 ]; then echo "skipped: needs root for ip netns"; exit 77; fi
for tool in ip avahi-daemon avahi-browse avahi-publish dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done

work=$(mktemp -d /tmp/murrelo-discover.XXXXXX)
ns=murrelo-discover-$$
pids=()
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  ip netns delete "$ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip -n "$ns" link set lo up

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
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
for _ in $(seq 1 100); do [ -S "$work/system_bus_socket" ] && break; sleep 0.05; done

cat >"$work/avahi.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
mkdir -p /run/avahi-daemon
ip netns exec "$ns" sh -c "mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon \
  -f '$work/avahi.conf' --no-drop-root --no-chroot --no-rlimits" >"$work/avahi.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do avahi-browse -at >/dev/null 2>&1 && break; sleep 0.1; done
avahi-browse -at >/dev/null 2>&1 || { echo "avahi-daemon did not start"; cat "$work/avahi.log"; exit 1; }

paired=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
other=fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210
avahi-publish -s "Paired Computer" _kestrune._tcp 52000 "fp=$paired" >"$work/publish1.log" 2>&1 &
pids+=($!)
avahi-publish -s "Other Computer" _kestrune._tcp 52001 "fp=$other" >"$work/publish2.log" 2>&1 &
pids+=($!)

mkdir -p "$work/config/murrelo-phone"
cat >"$work/config/murrelo-phone/pairing.json" <<JSON
{"host":"192.0.2.7","port":52000,"fingerprint":"${paired^^}","secret":"s","deviceName":"Test"}
JSON
chmod 600 "$work/config/murrelo-phone/pairing.json"

found=''
for _ in 1 2 3; do
  XDG_CONFIG_HOME="$work/config" "$phone" discover --seconds 2 >"$work/discover.out" 2>"$work/discover.err" || true
  grep -q "^Paired Computer	" "$work/discover.out" && { found=yes; break; }
done
cat "$work/discover.out" "$work/discover.err"
[ -n "$found" ] || { echo "the paired computer was not reported"; exit 1; }
if grep -q "Other Computer" "$work/discover.out"; then echo "a computer with another fingerprint was reported"; exit 1; fi
grep -q "	52000	(paired at 192.0.2.7:52000)" "$work/discover.out" || { echo "moved address not noted"; exit 1; }
echo "discover reported only the paired computer"
