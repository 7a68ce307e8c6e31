#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the README's example as a C program with
# find_package and with pkg-config, and runs each against vok-simulator from that prefix.
# Usage: run.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
# shellcheck source=../support/simulator.sh
. "$source_dir/tests/support/simulator.sh"

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
sed -n '/<!-- example -->/,/<!-- end of example -->/p' "$source_dir/README.md" \
  | sed '1,2d;$d' | sed '$d' >"$work/example.c"
cp "$source_dir/tests/consumer/CMakeLists.txt" "$work/"

cmake -S "$work" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" \
  cc -std=c11 -Wall -Wextra -Werror -o "$work/consumer_pkgconfig" "$work/example.c" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs --static vokoem)

start_simulator "$work/prefix/bin/vok-simulator" --serial 31337

status=0
for program in "$work/build/consumer_static" "$work/build/consumer_shared" "$work/consumer_pkgconfig"; do
  output=$(LD_LIBRARY_PATH="$work/prefix/lib" "$program") || status=1
  expected=$'board type Vantrel, serial number 31337\nlibrary clib-oem 4.7.0.0'
  if [ "$output" != "$expected" ]; then
    echo "$(basename "$program"): unexpected output:"; echo "$output"; status=1
  else
    echo "$(basename "$program"): ok"
  fi
done
exit $status
