#!/bin/sh
# Loads or unloads the stand-in board driver around the driver tests of one run, under Wine:
#   standin_driver.sh load VOK-DRIVER.EXE [NAME=VALUE...]
#   standin_driver.sh unload VOK-DRIVER.EXE
# Under Wine the driver lives in winedevice.exe, which ends with the wine server, and a server
# that a program started ends as soon as its last program has. So the server is started here
# to outlive its last program by 60 s: the driver stays loaded between this step and the tests
# that follow, and the server ends by itself a minute after the run. The server and the
# programs that the load starts (services.exe, winedevice.exe) outlive this script: they get no
# pipe of the caller's, or the caller would wait for them.
set -eu
command=$1
tool=$2
shift 2
case $command in
  load)
    wineserver -w  # a server that an earlier program started has ended
    wineserver -p60 </dev/null >/dev/null 2>&1
    output=$(mktemp)
    trap 'rm -f "$output"' EXIT
    wine "$tool" unload </dev/null >/dev/null 2>&1 || true  # a driver that an interrupted run left
    status=0
    wine "$tool" load "$@" </dev/null >"$output" 2>&1 || status=$?
    cat "$output"
    exit "$status"
    ;;
  unload)
    exec wine "$tool" unload
    ;;
  *)
    echo "usage: standin_driver.sh load|unload VOK-DRIVER.EXE [NAME=VALUE...]" >&2
    exit 2
    ;;
esac
