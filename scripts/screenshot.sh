#!/usr/bin/env bash
# make screenshot: the README's pictures, taken on a private Xvfb display with the
# openbox window manager (so every window has its title bar), in a Wine prefix of its
# own (build/screenshot-prefix). Saves into build/screenshots/:
#   main.png   the main window with the icons of Wine's shell32.dll
#   busy.png   the busy dialog over the main window during a run
#   about.png  the about box
#   filemanager.png  PCManFM in icon view over Windows programs and libraries, showing
#              their own icons through glyphdock-export's thumbnailer
# and copies them to docs/screenshots/, where the README shows them.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLYPHDOCK_BUILD_DIR:-$top/build}
for exe in Glyphdock.exe glyphdock_probe.exe; do
  if [ ! -f "$build/bin/$exe" ]; then
    echo "screenshot: $build/bin/$exe is not built" >&2
    exit 1
  fi
done
. "$top/tests/harness/lib.sh"
build=$(cd "$build" && pwd)
out=$build/screenshots
mkdir -p "$out"
trap 'harness_stop' EXIT
harness_start_display || exit 1
harness_start_window_manager || exit 1
harness_prepare_prefix "$build/screenshot-prefix" || exit 1
harness_wine /usr/bin/python3 "$top/scripts/screenshot.py" --bin "$build/bin" --out "$out" || exit 1
"$top/scripts/filemanager-shot.sh" "$build" "$out/filemanager.png" || exit 1
cp "$out/main.png" "$out/busy.png" "$out/about.png" "$out/filemanager.png" "$top/docs/screenshots/"
echo "screenshot: copied to docs/screenshots/"
