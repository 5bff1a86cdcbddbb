#!/usr/bin/env bash
# make fuzz: the differential fuzz of the file check on a private Xvfb display, in a Wine
# prefix of its own (build/fuzz-prefix, so a test run beside it cannot end its server), e.g.
#   tests/fuzz/run-fuzz.sh --files 20000 --seed 7
# Every option goes to fuzz.py. Build first (make); the build directory is
# $GLYPHDOCK_BUILD_DIR, or build/ at the top of the tree.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${GLYPHDOCK_BUILD_DIR:-$top/build}
. "$top/tests/harness/lib.sh"
build=$(cd "$build" && pwd) || exit 2

trap 'harness_stop' EXIT
trap 'exit 130' INT TERM
harness_start_display || exit 2
harness_prepare_prefix "$build/fuzz-prefix" || exit 2
harness_wine python3 "$top/tests/fuzz/fuzz.py" --top "$top" --build "$build" "$@"
