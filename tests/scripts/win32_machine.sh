#!/usr/bin/env bash
# scripts/win32-machine with stand-ins for Wine, QEMU and the image's tools (nothing is booted):
# an interrupted native run ends its command at once and leaves nothing; native runs side by
# side have Wine prefixes of their own; emulated runs that share a cache whose path holds a
# comma find their files, and run side by side.
# Usage: win32_machine.sh SOURCE_DIR
set -euo pipefail
cd "$1"
work=$(mktemp -d)
# No run outlives the test; a run that has ended already is no failure of the clean-up.
trap '{ jobs -p | xargs -r kill; } 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "win32-machine: $*" >&2; exit 1; }

bin="$work/bin"
mkdir -p "$bin"
printf '#!/bin/sh\nmkdir -p "$WINEPREFIX" && touch "$WINEPREFIX/system.reg"\n' >"$bin/wineboot"
printf '#!/bin/sh\nexit 0\n' >"$bin/wineserver"
# mmdebstrap ... SUITE TREE SOURCE: a tree with a kernel and an initial RAM disk.
printf '#!/bin/sh\nfor a; do t=$p; p=$a; done\nmkdir -p "$t/boot" "$t/sbin"\ntouch "$t/boot/vmlinuz-1" "$t/boot/initrd.img-1"\n' >"$bin/mmdebstrap"
printf '#!/bin/sh\nfor a; do i=$p; p=$a; done\ntouch "$i"\n' >"$bin/mke2fs"
# QEMU: reads -drive and -virtfs as QEMU does (",," is a comma in a value), checks that the
# files they name are there, notes its start and end, and ends the job with status 0.
cat >"$bin/qemu-system-x86_64" <<'PY'
#!/usr/bin/env python3
import os, re, sys, time
def values(text):
    return dict(p.replace("\0", ",").partition("=")[::2] for p in text.replace(",,", "\0").split(","))
args, job = sys.argv[1:], None
for option, value in zip(args, args[1:]):
    if option == "-drive" and not os.path.exists(values(value)["file"]):
        sys.exit("no disk " + values(value)["file"])
    if option == "-virtfs":
        v = values(value)
        if not os.path.isdir(v["path"]):
            sys.exit("no folder " + v["path"])
        if v["mount_tag"] == "job":
            job = v["path"]
log = os.environ["STANDIN_LOG"]
with open(log, "a") as f: f.write("start %f\n" % time.time())
time.sleep(2)
with open(log, "a") as f: f.write("end %f\n" % time.time())
open(os.path.join(job, "status"), "w").write("0\n")
PY
chmod +x "$bin"/*
export PATH="$bin:$PATH" STANDIN_LOG="$work/qemu.log"
unset WINEPREFIX

# Native: SIGTERM while the command runs ends it at once, and the run's prefix goes with it.
export VOK_WIN32_ROUTE=native VOK_WIN32_MACHINE_DIR="$work/native"
scripts/win32-machine sh -c 'echo $$ >"$1"; echo "$WINEPREFIX" >"$0"; exec sleep 60' \
  "$work/prefix-seen" "$work/command-pid" &
run=$!
for _ in $(seq 50); do [ -s "$work/prefix-seen" ] && break; sleep 0.1; done
kill -TERM "$run"
for _ in $(seq 100); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
kill -0 "$run" 2>/dev/null && fail "an interrupted native run goes on"
status=0
wait "$run" || status=$?
[ "$status" = 130 ] || fail "an interrupted native run ended with $status, not 130"
kill -0 "$(cat "$work/command-pid")" 2>/dev/null && fail "the interrupted command goes on"
[ ! -e "$(cat "$work/prefix-seen")" ] || fail "the interrupted run left its Wine prefix"

# Native runs side by side: a prefix each.
scripts/win32-machine sh -c 'echo "$WINEPREFIX"' >"$work/a" &
scripts/win32-machine sh -c 'echo "$WINEPREFIX"' >"$work/b"
wait
[ -s "$work/a" ] && ! cmp -s "$work/a" "$work/b" || fail "two native runs shared a Wine prefix"

# Emulated: the first run builds the image; then two runs at once, side by side.
export VOK_WIN32_ROUTE=emulated VOK_WIN32_MACHINE_DIR="$work/a,b cache"
scripts/win32-machine true >/dev/null 2>"$work/err" || { cat "$work/err"; fail "an emulated run failed"; }
: >"$STANDIN_LOG"
scripts/win32-machine true 2>"$work/err1" &
scripts/win32-machine true 2>"$work/err2" || { cat "$work/err2"; fail "an emulated run failed"; }
wait $! || { cat "$work/err1"; fail "an emulated run failed"; }
# Both started before either ended.
[ "$(head -n 2 "$STANDIN_LOG" | cut -d' ' -f1 | tr '\n' ' ')" = "start start " ] ||
  fail "two emulated runs that need no rebuild ran one after the other: $(cat "$STANDIN_LOG")"
echo "win32-machine: 4 checks passed"
