#!/bin/bash
# glyphdock-export against icoutils (native, no Wine, no display), the export block of
# make bench, runnable alone:
#
#   bench/export-bench.sh [build-dir [results-dir]]   default: <repo>/build, <build-dir>/bench-results
#
# The same job as the peer, same files, same run: every icon of Wine's system folder
# (its .dll and .exe files) as .ico files (wrestool -x -t 14), then as PNGs (wrestool,
# then icotool -x on its .ico files); every group cursor as .cur files (wrestool -x -t 12),
# then as PNGs (wrestool, then icotool -x on its .cur files); and one 256-pixel thumbnail
# of shell32.dll. Medians of BENCH_EXPORT_RUNS runs (default 5) a side, interleaved, each
# into an empty folder.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$build/bench-results}
tool=$build/native/glyphdock-export system=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
runs=${BENCH_EXPORT_RUNS:-5} work=$out/export
if [ ! -x "$tool" ] || ! command -v wrestool >/dev/null || ! command -v icotool >/dev/null; then
  echo "export-bench: glyphdock-export or icoutils missing; the export figures are left out" >&2
  exit 0
fi
files=("$system"/*.dll "$system"/*.exe)
echo "export-bench: export ..." >&2
seconds() {  # command...: its wall time in seconds
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || true
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }'
}
median() { LC_ALL=C sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Each side starts from an empty folder; the peer's PNGs come from its own files.
peer() {  # type ext
  rm -rf "$work/p" "$work/pp" && mkdir -p "$work/p" && wrestool -x -t "$1" -o "$work/p" "${files[@]}"
}
peer_png() { peer "$1" && mkdir -p "$work/pp" && icotool -x -o "$work/pp" "$work"/p/*."$2"; }
ours() { rm -rf "$work/o" && "$tool" extract -q "$@" -o "$work/o" "${files[@]}"; }
thumb() { "$tool" thumbnail "$system/shell32.dll" "$work/thumb.png" 256; }
mkdir -p "$work"
: > "$work.times"
for i in $(seq 0 "$runs"); do  # run 0 warms the page cache and is not counted
  echo "$(seconds peer 14) $(seconds ours --icons) $(seconds peer_png 14 ico) $(seconds ours --icons --png)" \
       "$(seconds peer 12) $(seconds ours --cursors) $(seconds peer_png 12 cur) $(seconds ours --cursors --png)" \
    > "$work.run"
  [ "$i" -gt 0 ] && cat "$work.run" >> "$work.times"
done
for i in $(seq 1 20); do seconds thumb; done > "$work.thumb"
count() {  # what one run of each side writes: peer files, our files
  "$@" >/dev/null 2>&1 || true
  ls "$work/o" | wc -l
}
icons=$(count ours --icons) pngs=$(count ours --icons --png)
cursors=$(count ours --cursors) cursor_pngs=$(count ours --cursors --png)
col() { cut -d' ' -f"$1" "$work.times" | median; }
t=$(median < "$work.thumb")
printf '\nglyphdock-export (native) against icoutils, Wine'"'"'s system folder: %d files, %d icons, %d images, %d cursors, %d cursor images; medians of %d\n' \
  "${#files[@]}" "$icons" "$pngs" "$cursors" "$cursor_pngs" "$runs"
printf '%-44s %12s %12s %7s %s\n' "" "export" "icoutils" "ratio" "target"
awk -v a="$(col 1)" -v b="$(col 2)" -v c="$(col 3)" -v d="$(col 4)" -v e="$(col 5)" -v f="$(col 6)" \
    -v g="$(col 7)" -v h="$(col 8)" -v t="$t" 'BEGIN {
  printf "%-44s %10.3f s %10.3f s %7.2f %s\n", "Every icon as .ico (wrestool -x -t 14)", b, a, b / a, "<= 0.50"
  printf "%-44s %10.3f s %10.3f s %7.2f %s\n", "Every image as PNG (wrestool + icotool -x)", d, c, d / c, "<= 0.50"
  printf "%-44s %10.3f s %10.3f s %7.2f %s\n", "Every cursor as .cur (wrestool -x -t 12)", f, e, f / e, "<= 0.50"
  printf "%-44s %10.3f s %10.3f s %7.2f %s\n", "Every cursor image as PNG (+ icotool -x)", h, g, h / g, "<= 0.50"
  printf "%-44s %8.1f ms %12s %7s %s\n", "thumbnail of shell32.dll at 256 (median of 20)", t * 1000, "", "", "<= 20 ms"
}'
echo "(icotool refuses wrestool's .cur files: each states its images 4 bytes longer than they are; the peer's cursor PNG figure is the time it spends failing, a floor.)"
