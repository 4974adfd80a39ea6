#!/usr/bin/env bash
# `murrelo-phone discover` against a real Avahi daemon inside a network namespace made for this
# test, on a private system bus: two computers announce "_kestrune._tcp", only the one whose TXT
# "fp" matches the pinned fingerprint (in another letter case) is reported. Nothing multicasts
# outside the namespace. Exit 77 = skipped.
# Usage: discover_in_namespace.sh MURRELO_PHONE
set -euo pipefail
phone=$1

source "$(dirname "$0")/../../support/avahi-namespace.sh"
avahi_namespace_require avahi-publish

work=$(mktemp -d /tmp/murrelo-discover.XXXXXX)
pids=()
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  avahi_namespace_stop
  rm -rf "$work"
}
trap cleanup EXIT
avahi_namespace_start "$work"

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

# The daemon may still be settling its announcements when the first browse ends, so a browse
# that finds nothing is tried again; any other failure of discover fails the test at once.
for attempt in 1 2 3; do
  status=0
  XDG_CONFIG_HOME="$work/config" "$phone" discover --seconds 2 >"$work/discover.out" 2>"$work/discover.err" \
    || status=$?
  [ "$status" -eq 0 ] && break
  if ! grep -q "the paired computer was not found" "$work/discover.err"; then
    cat "$work/discover.out" "$work/discover.err"
    echo "discover failed with status $status"; exit 1
  fi
  echo "attempt $attempt: nothing found yet"
done
cat "$work/discover.out" "$work/discover.err"
[ "$status" -eq 0 ] || { echo "the paired computer was not reported"; exit 1; }
grep -q "^Paired Computer	" "$work/discover.out" || { echo "the paired computer was not named"; exit 1; }
if grep -q "Other Computer" "$work/discover.out"; then echo "a computer with another fingerprint was reported"; exit 1; fi
grep -q "	52000	(paired at 192.0.2.7:52000)" "$work/discover.out" || { echo "moved address not noted"; exit 1; }
echo "discover reported only the paired computer"
