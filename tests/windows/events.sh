#!/bin/sh
# The events that an unattended run writes, as Wine records them (its ReportEvent names each
# event's type and id, and +eventlog its texts): the run's start, then the board listed, or
# that no board was found.
# Usage: events.sh VANTREL-UPGRADE.EXE VOK-SIMULATOR.EXE
set -eu
tool=$1
simulator=$2
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
sim=""
fail() { echo "events: $*" >&2; cat "$work/err" >&2; exit 1; }
# The event of (type, id) in what Wine printed: 4 information, 2 warning.
expect() { grep -q "ReportEventA ([0-9A-F]*,0x000$1,0x0000,0x$(printf %08x "$2")" "$work/err" ||
  fail "no event $2 of type $1"; }

WINEDEBUG=fixme+advapi,+eventlog wine "$tool" --list >/dev/null 2>"$work/err" || true
expect 4 1000
expect 2 1006
grep -q "list" "$work/err" || fail "the start names no mode"

wine "$simulator" >"$work/ready" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
WINEDEBUG=fixme+advapi,+eventlog wine "$tool" --list >/dev/null 2>"$work/err" || fail "--list failed"
expect 4 1000
expect 4 1008
grep -q "PCI,card:0" "$work/err" || fail "the board's event does not name it"
echo "events: 5 checks passed"
