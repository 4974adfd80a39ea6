#!/usr/bin/env bash
# Publishes the server's service through a real Avahi daemon that runs inside a network namespace
# made for this test, on a private system bus, and checks with avahi-browse that the TXT record
# carries the certificate fingerprint. Nothing multicasts outside the namespace. Exit 77 = skipped.
# Usage: advertise_in_namespace.sh PROBE_EXECUTABLE
set -euo pipefail
probe=$1

source "$(dirname "$0")/../../../support/avahi-namespace.sh"
avahi_namespace_require

work=$(mktemp -d /tmp/murrelo-avahi.XXXXXX)
probe_pid=''
cleanup() {
  set +e
  [ -n "$probe_pid" ] && { exec 9>&-; kill "$probe_pid" 2>/dev/null; wait "$probe_pid" 2>/dev/null; }
  avahi_namespace_stop
  rm -rf "$work"
}
trap cleanup EXIT
avahi_namespace_start "$work"

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
