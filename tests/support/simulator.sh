# Sourced by the shell tests: a scratch folder in $work, removed on exit, and vok-simulator
# started in the background and stopped on every path, also when this shell is killed.
#   start_simulator PROGRAM [OPTIONS...]  starts it and waits (at most 10 s times
#                                         VOK_TEST_TIME_SCALE) for its ready line
work=$(mktemp -d)
simulator=""
cleanup() {
  [ -n "$simulator" ] && { kill -TERM "$simulator" 2>/dev/null || true; wait "$simulator" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A child started through "${with_parent[@]}" gets SIGTERM when this shell ends.
with_parent=()
command -v setpriv >/dev/null && with_parent=(setpriv --pdeathsig TERM)

start_simulator() {
  "${with_parent[@]}" "$@" >"$work/simulator.out" 2>"$work/simulator.err" &
  simulator=$!
  local deadline=$((SECONDS + 10 * ${VOK_TEST_TIME_SCALE:-1}))
  while [ $SECONDS -lt $deadline ]; do
    grep -q ready "$work/simulator.out" && return 0
    kill -0 "$simulator" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/simulator.err" >&2
  echo "vok-simulator did not become ready" >&2
  return 1
}
