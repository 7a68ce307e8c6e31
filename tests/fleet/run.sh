#!/usr/bin/env bash
# Runs the fleet example examples/fleet/update.yml on this computer against vok-simulator: the
# first run updates the flash and fetches update.json, beside a second host whose board is
# absent, which fails, and sums both up; the second finds the flash current, and is not changed
# by the report directory that it creates; the third, on a fresh board that refuses the writes
# after the first region, fails the host but still counts it changed and reminds of the power
# cycle: a region was written.
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
export HOME="$tmp/home" ANSIBLE_LOCAL_TEMP="$tmp/ansible/local" ANSIBLE_REMOTE_TEMP="$tmp/ansible/remote"
export ANSIBLE_NOCOLOR=1 ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_PYTHON_INTERPRETER=auto_silent
cd "$tmp"

# Both hosts are this computer; the second asks for a board that is not there.
echo "localhost ansible_connection=local vantrel_remote_reports=$tmp/remote" >one.ini
cp one.ini two.ini
echo "second ansible_connection=local vantrel_remote_reports=$tmp/remote2 vantrel_board=5" >>two.ini
# A host whose report directory is not there yet.
echo "localhost ansible_connection=local vantrel_remote_reports=$tmp/fresh" >fresh.ini

# play N EXPECTED_CHANGED [EXPECTED_FAILED [INVENTORY]]: runs the playbook; EXPECTED_CHANGED is
# "some" or 0, EXPECTED_FAILED 0 (the default) or 1, both of localhost; the playbook ends
# non-zero only when a host failed.
play() {
  local log="$tmp/run$1.log" status=0 recap changed failed expected_failed=${3:-0}
  ansible-playbook -i "${4:-one.ini}" "$source_dir/examples/fleet/update.yml" \
    -e vantrel_upgrade="$build_dir/bin/vantrel-upgrade" -e vantrel_reports="$tmp/reports" \
    >"$log" 2>&1 || status=$?
  recap=$(grep -E '^localhost +:' "$log" || true)
  changed=$(sed -n 's/.* changed=\([0-9]*\).*/\1/p' <<<"$recap")
  failed=$(sed -n 's/.* failed=\([0-9]*\).*/\1/p' <<<"$recap")
  if { [ "$status" -ne 0 ] && ! grep -qE ' failed=[1-9]' "$log"; } ||
     [ "$failed" != "$expected_failed" ] ||
     [ -z "$changed" ] || { [ "$2" = some ] && [ "$changed" -lt 1 ]; } ||
     { [ "$2" = 0 ] && [ "$changed" != 0 ]; } ||
     { [ "$2" = some ] && ! grep -q 'power the computer off and on' "$log"; }; then
    cat "$log" >&2
    fail "run $1: exit $status, recap '$recap' (expected changed=$2 failed=$expected_failed)"
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

# summary ROW...: the run's summary.csv holds these rows (comma-separated), in this order.
summary() {
  python3 - "$tmp/reports/summary.csv" "$@" <<'EOF' || fail "the summary is not as expected"
import csv, sys
path, expected = sys.argv[1], [row.split(",") for row in sys.argv[2:]]
rows = list(csv.reader(open(path, newline="")))
if rows[1:] != expected:
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
report update.json 1 failed
summary "localhost,0,10234,failed,1.0.33.7,1.0.34.8 1.0.33.7 1.0.33.7 1.0.33.7,map 2: SV_ERROR_FLASH_WRITE. Flash write failed."
echo "fleet example: 3 runs as expected"
