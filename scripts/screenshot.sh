#!/usr/bin/env bash
# Starts the built Glyphdock on a private Xvfb display inside a Wine virtual desktop
# (so that the title bar is drawn) and saves build/screenshots/main.png.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLYPHDOCK_BUILD_DIR:-$top/build}
if [ ! -f "$build/bin/Glyphdock.exe" ]; then
  echo "screenshot: $build/bin/Glyphdock.exe is not built" >&2
  exit 1
fi
. "$top/tests/harness/lib.sh"
build=$(cd "$build" && pwd)
out="$build/screenshots/main.png"
mkdir -p "$build/screenshots"
trap 'harness_stop' EXIT
harness_start_display || exit 1
harness_prepare_prefix "$build/wineprefix" || exit 1

(harness_wine wine explorer /desktop=shot,800x600 "$build/bin/Glyphdock.exe" </dev/null >/dev/null 2>&1 &)
# The desktop window appears first; give the program a moment to draw into it.
for tries in $(seq 1 150); do
  xdotool search --name 'shot' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep "${GLYPHDOCK_SHOT_DELAY:-4}"
import -window root -crop 800x600+0+0 +repage "$out" && echo "screenshot: $out"
