#!/bin/sh
# Sets up, builds and runs Orvane's monitor. Without a mail profile it first creates the demo
# mail system in $ORVANE_DEMO_DIR (default ~/orvane-demo) and monitors its users. Headless when
# there is no display; stop it with Ctrl-C.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"

build="$top/build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"
orvane="$build/bin/orvane"

demo="${ORVANE_DEMO_DIR:-$HOME/orvane-demo}"
# The list's first line is its header; a second line is a profile.
if [ "$("$orvane" profile list 2>/dev/null | wc -l)" -le 1 ]; then
  "$orvane" demo init "$demo" --force
fi
if [ ! -f Users.dat ] && [ -f "$demo/Users.dat" ]; then
  cd "$demo"
fi
echo "run: monitoring the users of $(pwd)"
exec "$orvane" "$@"
