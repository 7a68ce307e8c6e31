#!/usr/bin/env bash
# The emulated test machine hands back what a job printed and the job's exit status, and a job
# that never ends fails when its time is up instead of hanging or passing.
set -uo pipefail
cd "$(dirname "$0")/../.."
out="$(mktemp)"
err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT
passed=0
failed=0
expect() {  # DESCRIPTION COMMAND...: counts the check, and shows the job's output when it fails
  local what="$1"
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "machine: FAILED: $what"
    echo "--- standard output"; cat "$out"; echo "--- standard error"; cat "$err"
  fi
}

status=0
scripts/win32-machine sh -c 'echo "$1"; echo to standard error >&2; exit 3' job "it's  standard output" \
  >"$out" 2>"$err" || status=$?
expect "a job's exit status comes back" [ "$status" -eq 3 ]
expect "a job's standard output comes back" grep -qx "it's  standard output" "$out"
expect "a job's standard error comes back" grep -qx 'to standard error' "$err"

status=0
VOK_WIN32_TIMEOUT=60 scripts/win32-machine sleep 3600 >"$out" 2>"$err" || status=$?
expect "a job that never ends fails" [ "$status" -ne 0 ]
expect "a job that never ends is named as such" grep -q 'did not finish within 60 s' "$err"

echo "machine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
