#!/usr/bin/env bash
# A fresh checkout in another folder takes its objects from the compiler cache: the sources are
# copied into two folders, each configured on its own, and one library object is compiled in
# each through a cache of the test's own. The first compile misses, the second must hit.
# Usage: cache_across_folders.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
fail() { echo "compiler cache: $*" >&2; exit 1; }

command -v ccache >/dev/null || fail "ccache is missing: scripts/deps installs it"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CCACHE_DIR="$work/cache"
unset CCACHE_DISABLE CCACHE_RECACHE

for n in 1 2; do
  mkdir -p "$work/checkout$n"
  tar -C "$source_dir" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/checkout$n" -xf -
  cmake -S "$work/checkout$n" -B "$work/checkout$n/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVOK_BUILD_TESTS=OFF -DVOK_BUILD_TOOLS=OFF -DVOK_BUILD_BENCH=OFF >/dev/null
  make -s -C "$work/checkout$n/build/src/vokoem" sv_timecode.cpp.o >/dev/null
done

stats=$(ccache --print-stats)
count() { awk -v key="$1" '$1 == key { print $2 }' <<<"$stats"; }
hits=$(( $(count direct_cache_hit) + $(count preprocessed_cache_hit) ))
misses=$(count cache_miss)
echo "compiler cache: $hits hit, $misses missed"
[ "$misses" = 1 ] && [ "$hits" = 1 ] || fail "the second folder's compile did not hit the cache"
