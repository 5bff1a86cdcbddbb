#!/usr/bin/env bash
# Runs the tests of a configured and built tree under Wine, on a private Xvfb display,
# in the Japanese locale, with the build's own Wine prefix (<build>/wineprefix).
#
#   tests/harness/run-tests.sh [ctest options...]
#
# The build directory is $GLYPHDOCK_BUILD_DIR, or build/ at the top of the tree. Exits
# with CTest's code; CTest's summary line ("NN% tests passed, ...") is printed last.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${GLYPHDOCK_BUILD_DIR:-$top/build}
. "$top/tests/harness/lib.sh"

if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "run-tests: $build is not a configured build tree (run make first)" >&2
  exit 2
fi
build=$(cd "$build" && pwd)

summary=$(mktemp)
started=$(mktemp)
trap 'harness_stop; rm -f "$summary" "$started"' EXIT
trap 'exit 130' INT TERM

harness_start_display || exit 2
# The suite runs on a bare screen by default: its placement checks expect windows exactly
# where the program puts them, which a window manager may adjust. GLYPHDOCK_TEST_WM=openbox
# runs it under one, as a desktop user has it.
if [ "${GLYPHDOCK_TEST_WM:-}" = openbox ]; then
  harness_start_window_manager || exit 2
fi
harness_prepare_prefix "$build/wineprefix" || exit 2

# CTest prints its summary before the timing and the list of failures; hold the line
# back and print it after everything else, cleanup included.
harness_wine ctest --test-dir "$build" --output-on-failure "$@" 2>&1 |
  awk -v keep="$summary" '/^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+/ { print > keep; next }
                          { print; fflush() }'
code=${PIPESTATUS[0]}

harness_stop
# A fuzz run among the tests leaves its figures behind; they go with the summary.
for fuzz in "$build"/fuzz-short/summary.txt; do
  [ "$fuzz" -nt "$started" ] && head -n 1 "$fuzz"
done
cat "$summary"
exit "$code"
