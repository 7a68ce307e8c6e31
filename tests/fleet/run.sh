#!/usr/bin/env bash
# Runs the fleet example examples/fleet/update.yml on this computer against vok-simulator: the
# first run updates the flash and fetches update.json, beside a second host whose board is
# absent, which fails, and sums both up; the second finds the flash current, and is not changed
# by the report directory that it creates; the third, on a fresh board that refuses the writes
# after the first region, fails the host but still counts it changed (a region was written),
# and says to run the update again instead of reminding of the power cycle. Then stand-ins of
# the tool fail in ways that the simulator does not play (a report that cannot be written, a
# killed tool, a report that cannot be fetched, a busy board, a comparison without a report
# that can be read), and a run where the tool is missing everywhere still replaces the summary
# of the run before.
# Usage: run.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
fail() { echo "fleet example: $*" >&2; exit 1; }

command -v ansible-playbook >/dev/null ||
  fail "ansible-playbook is missing: scripts/deps installs it (Debian package ansible-core)"

# shellcheck source=../support/simulator.sh
. "$source_dir/tests/support/simulator.sh"
tmp=$work
start_simulator "$build_dir/bin/vok-simulator" --flash-file "$tmp/flash.bin" ||
  fail "the simulator did not start"

# Ansible keeps everything inside the temporary directory, whatever the user's home holds.
mkdir -p "$tmp/home"
export VANTREL_UPGRADE_STATE_DIR="$tmp/state" VANTREL_UPGRADE_LOCK_DIR="$tmp"
export HOME="$tmp/home" ANSIBLE_LOCAL_TEMP="$tmp/ansible/local" ANSIBLE_REMOTE_TEMP="$tmp/ansible/remote"
export ANSIBLE_NOCOLOR=1 ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_PYTHON_INTERPRETER=auto_silent
cd "$tmp"

# Both hosts are this computer; the second asks for a board that is not there.
here="ansible_connection=local vantrel_upgrade=$build_dir/bin/vantrel-upgrade"
echo "localhost $here vantrel_remote_reports=$tmp/remote" >one.ini
cp one.ini two.ini
echo "second $here vantrel_remote_reports=$tmp/remote2 vantrel_board=5" >>two.ini
# A host whose report directory is not there yet.
echo "localhost $here vantrel_remote_reports=$tmp/fresh" >fresh.ini

# run_playbook INVENTORY LOG
run_playbook() {
  ansible-playbook -i "$1" "$source_dir/examples/fleet/update.yml" \
    -e vantrel_reports="$tmp/reports" >"$2" 2>&1
}

# play N EXPECTED_CHANGED [EXPECTED_FAILED [INVENTORY]]: runs the playbook; EXPECTED_CHANGED is
# "some" or 0, EXPECTED_FAILED 0 (the default) or 1, both of localhost; the playbook ends
# non-zero only when a host failed, and reminds of the power cycle only where the update of
# localhost wrote the flash and completed.
play() {
  local log="$tmp/run$1.log" status=0 recap changed failed expected_failed=${3:-0} power=0
  run_playbook "${4:-one.ini}" "$log" || status=$?
  recap=$(grep -E '^localhost +:' "$log" || true)
  changed=$(sed -n 's/.* changed=\([0-9]*\).*/\1/p' <<<"$recap")
  failed=$(sed -n 's/.* failed=\([0-9]*\).*/\1/p' <<<"$recap")
  grep -q 'power the computer off and on' "$log" && power=1
  if { [ "$status" -ne 0 ] && ! grep -qE ' failed=[1-9]' "$log"; } ||
     [ "$failed" != "$expected_failed" ] ||
     [ -z "$changed" ] || { [ "$2" = some ] && [ "$changed" -lt 1 ]; } ||
     { [ "$2" = 0 ] && [ "$changed" != 0 ]; } ||
     [ "$power" != "$([ "$2$expected_failed" = some0 ] && echo 1 || echo 0)" ]; then
    cat "$log" >&2
    fail "run $1: exit $status, recap '$recap', power cycle reminder $power" \
      "(expected changed=$2 failed=$expected_failed)"
  fi
  echo "run $1: $recap"
}

# report FILE EXIT [OUTCOME]: the fetched report has this exit value and first board outcome.
report() {
  python3 - "$tmp/reports/localhost/$1" "$2" "${3:-}" <<'EOF' || fail "report $1 is not as expected"
import json, sys
path, code, outcome = sys.argv[1], int(sys.argv[2]), sys.argv[3]
try:
    r = json.load(open(path))
    assert r["exit"] == code, f"exit {r['exit']}, expected {code}"
    assert not outcome or r["boards"][0]["outcome"] == outcome, \
        f"boards[0].outcome {r['boards'][0]['outcome']!r}, expected {outcome!r}"
except Exception as e:
    print(f"{path}: {e!r}", file=sys.stderr)
    sys.exit(1)
EOF
}

# summary ROW...: the run's summary.csv holds these rows (comma-separated, the last cell may hold
# commas; each cell a shell pattern), in this order.
summary() {
  python3 - "$tmp/reports/summary.csv" "$@" <<'EOF' || fail "the summary is not as expected"
import csv, fnmatch, sys
path, expected = sys.argv[1], [row.split(",", 6) for row in sys.argv[2:]]
rows = list(csv.reader(open(path, newline="")))
if len(rows) != len(expected) + 1 or not all(
        len(row) == len(want) and all(map(fnmatch.fnmatchcase, row, want))
        for row, want in zip(rows[1:], expected)):
    print(f"{path}: {rows}, expected {expected}", file=sys.stderr)
    sys.exit(1)
EOF
}

play 1 some 0 two.ini
grep -qE '^second +:.* failed=1' "$tmp/run1.log" || fail "run 1: the host without a board did not fail"
report verify.json 1
report update.json 0 updated
summary "localhost,0,10234,updated,1.0.33.7,1.0.34.8," "second,,,no board,,,no Vantrel board was found"
play 2 0 0 fresh.ini
report verify.json 0 verified
summary "localhost,0,10234,verified,1.0.34.8,1.0.34.8,"

kill -TERM "$simulator" && wait "$simulator" || true
start_simulator "$build_dir/bin/vok-simulator" --flash-file "$tmp/flash2.bin" \
  --fail-write 2 --fail-write 3 --fail-write 4 || fail "the simulator did not start again"
play 3 some 1
grep -q 'but the update did not complete (vantrel-upgrade --yes exited 1): run the update again' \
  "$tmp/run3.log" || fail "run 3: no word to run the update again after the failed update"
report update.json 1 failed
summary "localhost,0,10234,failed,1.0.33.7,1.0.34.8 1.0.33.7 1.0.33.7 1.0.33.7,map 2: SV_ERROR_FLASH_WRITE. Flash write failed."

# expect LOG HOST CHANGED FAILED: the play recap of HOST in LOG.
expect() {
  grep -qE "^$2 +: .* changed=$3 .* failed=$4 " "$tmp/$1" ||
    { cat "$tmp/$1" >&2; fail "$1: $2 is not changed=$3 failed=$4"; }
}

# Stand-ins of the tool, stand-in.FAULT: --verify finds the flash differing unless FAULT says
# otherwise, and writes the report the tool would.
cat >stand-in <<'EOF'
#!/bin/sh
mode=$1 report=$3 fault=${0##*.}
echo "$mode" >>"${report%/*}/calls"
case $fault.$mode in
  unwritten.--verify)
    echo "pciflash1      :   1.0.34.8"
    echo "vantrel-upgrade: cannot write the report '$report': No space left on device" >&2
    exit 4 ;;
  killed.--verify) kill -KILL $$ ;;
  busy.--verify)
    echo '{"exit": 5, "boards": [{"card": 0, "serial": 10234, "outcome": "busy",
      "reason": "another program holds the board"}]}' >"$report"
    exit 5 ;;
  old.--verify) exit 1 ;;  # older than exit value 4: the report could not be written
  garbled.--verify) echo '{"exit": 1, "boards": [' >"$report"; exit 1 ;;
  *.--verify)
    echo '{"exit": 1, "boards": [{"card": 0, "serial": 10234, "outcome": "differs",
      "modules_before": [{"name": "pciflash1", "version": "1.0.33.7"}]}]}' >"$report"
    exit 1 ;;
  unreported.--yes) exit 4 ;;
  unfetched.--yes) mkdir "$report"; exit 0 ;;
esac
exit 99
EOF
chmod +x stand-in
for fault in unwritten killed unreported unfetched busy old garbled; do
  ln -s stand-in "stand-in.$fault"
  echo "$fault ansible_connection=local vantrel_upgrade=$tmp/stand-in.$fault" \
    "vantrel_remote_reports=$tmp/$fault" >>faults.ini
done
run_playbook faults.ini run4.log || true
expect run4.log unwritten 0 1
expect run4.log killed 0 1
expect run4.log unreported 1 1
expect run4.log unfetched 1 1
for fault in busy old garbled; do
  expect run4.log $fault 0 1
  [ "$(cat "$tmp/$fault/calls")" = --verify ] || fail "run 4: $fault: the update ran"
done
grep -q 'exited 5: a board is held by another program; run the update again later' \
  "$tmp/run4.log" || fail "run 4: exit value 5 is not told as a busy board"
if ! grep -q 'exited 4: the report could not be written' "$tmp/run4.log" ||
   ! grep -q 'pciflash1      :   1.0.34.8' "$tmp/run4.log"; then
  fail "run 4: the stop for a report that could not be written does not show the tool's output"
fi
[ "$(cat "$tmp/unwritten/calls")" = --verify ] || fail "run 4: the update ran without a report"
[ "$(grep -c 'its report could not be read): run the update again' "$tmp/run4.log")" = 2 ] ||
  fail "run 4: no reminder where the update left no report"
verify="vantrel-upgrade --verify" yes="vantrel-upgrade --yes"
unwritten="exited 4: the report could not be written" may="; the flash may have been written"
summary "unwritten,,,no report,,,$verify $unwritten" \
  "killed,,,no report,,,$verify was killed (signal 9)" \
  "unreported,0,10234,no report,1.0.33.7,,$yes $unwritten$may" \
  "unfetched,0,10234,no report,1.0.33.7,,$yes exited 0; the reports could not be fetched: *$may" \
  "busy,0,10234,busy,,,another program holds the board" \
  "old,,,no report,,,$verify exited 1 and left no report" \
  "garbled,,,report unreadable,,,verify.json: *"
echo "run 4: as expected"

echo "localhost ansible_connection=local vantrel_upgrade=$tmp/missing" >missing.ini
run_playbook missing.ini run5.log || true
expect run5.log localhost 0 1
summary "localhost,,,no report,,,the host stopped before the tool ran"
echo "fleet example: 5 runs as expected"
