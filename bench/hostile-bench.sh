#!/usr/bin/env bash
# The cost of hostile inputs to glyphdock-export: for each shape tests/fuzz/make_hostile.py
# writes at full size (and a 4 GB sparse .ico), the processor time (user + system), peak
# memory, exit status and output of thumbnail, list, extract and extract --png.
#
#   bench/hostile-bench.sh [TOOL]     TOOL: a glyphdock-export (default build/native's)
#
# Each run is stopped after RUN_SECONDS (default 60) of wall time and refused more than
# RUN_MEMORY_KB (default 3 GB) of address space, so the figures of a tool without
# budgets stay finite: such a run shows as "stopped" or "out of memory".
# The targets: thumbnail at most 0.5 s and 128 MB, list and extract at most 2 s and
# 256 MB, their output at most 4 times the input's stored bytes and 1 MB.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$top/build/native/glyphdock-export}
seconds=${RUN_SECONDS:-60}
memory=${RUN_MEMORY_KB:-3145728}
[ -x "$tool" ] || { echo "hostile-bench: no program at $tool (build it first: make build)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "hostile-bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$top/tests/fuzz/make_hostile.py" full "$work/in" || exit 1

# One run: prints cpu seconds, peak MB, status and output bytes.
run() {
  local out=$1
  shift
  rm -rf "$out" && mkdir -p "$out"
  { (ulimit -v "$memory"; exec timeout -s KILL "$seconds" /usr/bin/time -o "$work/time" -f '%U %S %M' "$@") \
      >"$work/stdout" 2>"$work/stderr"; } 2>/dev/null
  local status=$? cpu='-' peak='-' note=''
  if [ -s "$work/time" ] && read -r user sys kb < <(grep -E '^[0-9.]+ [0-9.]+ [0-9]+$' "$work/time"); then
    cpu=$(awk "BEGIN { print $user + $sys }")
    peak=$((kb / 1024))
    status=$(sed -n 's/^Command exited with non-zero status \([0-9]*\)/\1/p' "$work/time")
    status=${status:-0}
    signal=$(sed -n 's/^Command terminated by signal \([0-9]*\)/\1/p' "$work/time")
    [ -z "$signal" ] || status="sig$signal"
  else
    note=' (stopped)'
    cpu=">$seconds"
  fi
  grep -qi "bad_alloc\|cannot allocate\|out of memory" "$work/stderr" && note=' (out of memory)'
  local bytes
  bytes=$(( $(find "$out" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}') + $(wc -c <"$work/stdout") ))
  printf '%-8s %-6s %10s %8s %8s%s\n' "$cpu" "$peak" "$bytes" "$status" "$(find "$out" -type f | wc -l)" "$note"
}

printf '%s\n' "glyphdock-export: $tool"
printf '%-20s %10s  %-12s %-8s %-6s %10s %8s %8s\n' input bytes command 'cpu s' 'peak MB' 'out bytes' status files
for f in "$work"/in/*; do
  name=$(basename "$f")
  case $name in *.png | *.bmp) continue ;; esac  # images alone, for the decoders' harnesses
  size=$(stat -c %s "$f")
  for command in thumbnail list extract png; do
    printf '%-20s %10s  %-12s ' "$name" "$size" "$command"
    case $command in
      thumbnail) run "$work/out" "$tool" thumbnail "$f" "$work/out/t.png" 256 ;;
      list) run "$work/out" "$tool" list "$f" ;;
      extract) run "$work/out" "$tool" extract -o "$work/out" "$f" ;;
      png) run "$work/out" "$tool" extract --png -o "$work/out" "$f" ;;
    esac
  done
done

# The export figures of make bench for the same tool, to set beside the hostile ones: every
# icon of Wine's system folder as .ico, every image as PNG, a 256-pixel thumbnail of
# shell32.dll; wall-time medians of 5 (BENCH_EXPORT_RUNS) after one warming run.
system=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if [ -d "$system" ]; then
  runs=${BENCH_EXPORT_RUNS:-5}
  files=("$system"/*.dll "$system"/*.exe)
  seconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }'
  }
  median() { LC_ALL=C sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
  ico() { rm -rf "$work/x" && "$tool" extract -o "$work/x" "${files[@]}"; }
  png() { rm -rf "$work/x" && "$tool" extract --png -o "$work/x" "${files[@]}"; }
  thumb() { "$tool" thumbnail "$system/shell32.dll" "$work/thumb.png" 256; }
  : >"$work/times"
  for i in $(seq 0 "$runs"); do
    a=$(seconds ico); b=$(seconds png)
    [ "$i" -gt 0 ] && echo "$a $b" >>"$work/times"
  done
  for i in $(seq 1 20); do seconds thumb; done >"$work/thumb"
  printf '\nExport figures, Wine'"'"'s system folder (%d files), medians of %d: .ico %.3f s, PNG %.3f s, thumbnail of shell32.dll %.1f ms\n' \
    "${#files[@]}" "$runs" "$(cut -d' ' -f1 "$work/times" | median)" "$(cut -d' ' -f2 "$work/times" | median)" \
    "$(awk '{ print $1 * 1000 }' "$work/thumb" | median)"
fi
