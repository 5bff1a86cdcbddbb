#!/usr/bin/env bash
# Starts the built Glyphdock under Wine on the current X display, in the Japanese
# locale, with a Wine prefix of its own: build/run-prefix (created on first use). The
# placement the program remembers lives in that prefix's registry.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLYPHDOCK_BUILD_DIR:-$top/build}
if [ -z "${DISPLAY:-}" ]; then
  echo "make run: there is no X display (DISPLAY is not set)." >&2
  echo "Run it from a desktop session, or take a picture with: make screenshot" >&2
  exit 1
fi
if [ ! -f "$build/bin/Glyphdock.exe" ]; then
  echo "make run: $build/bin/Glyphdock.exe is not built" >&2
  exit 1
fi
. "$top/tests/harness/lib.sh"
build=$(cd "$build" && pwd)
harness_prepare_prefix "$build/run-prefix" || exit 1
trap 'harness_end_wineserver' EXIT
harness_wine wine "$build/bin/Glyphdock.exe"
