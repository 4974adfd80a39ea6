# Sourced by tests that need a real Avahi daemon. It runs inside a network namespace made for the
# test (loopback only, IPv4), on a private system bus, so nothing multicasts outside the namespace
# and parallel tests do not meet each other's services. Needs root for `ip netns`.
#
#   avahi_namespace_require TOOL…   exits 77 (skipped) without root or a tool
#   avahi_namespace_start WORKDIR   namespace, bus and daemon up; DBUS_SYSTEM_BUS_ADDRESS exported
#   avahi_namespace_stop            everything down again (call from the test's EXIT trap)

avahi_namespace_pids=()
avahi_namespace_name=''

avahi_namespace_require() {
  if [ "$(id -u)" != 0 ]; then echo "skipped: needs root for ip netns"; exit 77; fi
  for tool in ip avahi-daemon avahi-browse dbus-daemon "$@"; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
  done
}

avahi_namespace_start() {
  local work=$1
  avahi_namespace_name=murrelo-avahi-$$
  ip netns add "$avahi_namespace_name"
  ip -n "$avahi_namespace_name" link set lo up

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
  avahi_namespace_pids+=($!)
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
  ip netns exec "$avahi_namespace_name" sh -c "mount -t tmpfs tmpfs /run/avahi-daemon && exec \
    avahi-daemon -f '$work/avahi.conf' --no-drop-root --no-chroot --no-rlimits" \
    >"$work/avahi.log" 2>&1 &
  avahi_namespace_pids+=($!)
  for _ in $(seq 1 100); do avahi-browse -at >/dev/null 2>&1 && break; sleep 0.1; done
  avahi-browse -at >/dev/null 2>&1 || { echo "avahi-daemon did not start"; cat "$work/avahi.log"; exit 1; }
}

avahi_namespace_stop() {
  local pid
  # The daemon first, then the bus it talks on.
  for ((i = ${#avahi_namespace_pids[@]} - 1; i >= 0; i--)); do
    pid=${avahi_namespace_pids[i]}
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [ -n "$avahi_namespace_name" ] && ip netns delete "$avahi_namespace_name" 2>/dev/null
  return 0
}
