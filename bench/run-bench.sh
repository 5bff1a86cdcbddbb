#!/bin/bash
# Runs the benchmarks under Wine on a display of their own and prints one table:
# collection through the program's windows against the bare platform loop, start-up
# against a minimal window program, Cancel latency, Save As and Copy per operation, and
# the peak working set. Figures are reported, never judged: the script fails only when a
# benchmark program itself fails.
#
#   bench/run-bench.sh [build-dir]     default: <repo>/build
#
# Environment: BENCH_PREFIX (default <build-dir>/bench-prefix), BENCH_REPS (collection
# repetitions per side, default 2), BENCH_START_RUNS (start-ups per program, default 7),
# BENCH_SCALE (0 leaves out the long scale run).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/bin
prefix=${BENCH_PREFIX:-$build/bench-prefix}
reps=${BENCH_REPS:-2}
start_runs=${BENCH_START_RUNS:-7}

for exe in collect_bench.exe launch_bench.exe minimal_window.exe Glyphdock.exe; do
  if [ ! -f "$bin/$exe" ]; then
    echo "run-bench: $bin/$exe is missing; build the bench_programs target first" >&2
    exit 1
  fi
done

# A display nobody uses: no lock file and no socket.
display=
for n in $(seq 90 160); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "run-bench: no free X display" >&2; exit 1; }

# The raw figures stay in the build tree, so the table can be looked at again.
out=$build/bench-results
rm -rf "$out"
mkdir -p "$out"
xvfb_pid=
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  if [ -n "${HARNESS_WM_PID:-}" ]; then kill "$HARNESS_WM_PID" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
kill -0 "$xvfb_pid" 2>/dev/null || { echo "run-bench: Xvfb :$display did not start" >&2; exit 1; }
# Figures are taken as a desktop user gets them: under a window manager.
. "$root/tests/harness/lib.sh"
DISPLAY=":$display" harness_start_window_manager || exit 1

export WINEPREFIX=$prefix WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 DISPLAY=":$display"
# A wineserver keeps the locale it was started with: start this prefix's afresh.
wineserver -k >/dev/null 2>&1 || true
if [ ! -f "$prefix/system.reg" ]; then
  echo "run-bench: creating the Wine prefix $prefix ..." >&2
  wine wineboot -i >/dev/null 2>&1
fi
wineserver -w >/dev/null 2>&1 || true
# The IPA faces for the Japanese UI fonts, as every prefix of the project has them.
glyphdock_map_fonts
wineserver -w >/dev/null 2>&1 || true

run() {  # name, program, arguments...: keeps stdout for the table, shows stderr
  local name=$1; shift
  echo "run-bench: $name ..." >&2
  if ! wine "$@" >"$out/$name.txt" 2>"$out/$name.err"; then
    echo "run-bench: $name failed:" >&2
    cat "$out/$name.err" >&2
    exit 1
  fi
}

run compare "$bin/collect_bench.exe" compare "$reps"
run peak "$bin/collect_bench.exe" peak
run peakbare "$bin/collect_bench.exe" peak-bare
run start "$bin/launch_bench.exe" "$start_runs"
# Scale: a long run through the windows (BENCH_SCALE=0 leaves it out; it takes minutes).
if [ "${BENCH_SCALE:-1}" != 0 ]; then
  run scale "$bin/collect_bench.exe" scale
else
  : >"$out/scale.txt"
fi

cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: *//')
wm=$(openbox --version 2>/dev/null | sed -n 1p) || wm=openbox
machine="$(nproc) CPUs, ${cpu:-unknown CPU}, $(wine --version 2>/dev/null), Xvfb 1024x768x24 under $wm"

awk -v date="$(date '+%Y-%m-%d %H:%M:%S %Z')" -v machine="$machine" -v reps="$reps" '
  FNR == 1 { file = FILENAME; sub(/.*\//, "", file); sub(/\.txt$/, "", file) }
  $1 == "RESULT" { v[file "." $2] = $3; v2[file "." $2] = $4 }
  $1 == "NOTE" { $1 = ""; notes = notes "  note:" $0 "\n" }
  function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
  function row(what, a, b, r, target) { printf "%-44s %12s %12s %7s %s\n", what, a, b, r, target }
  function s(x) { return sprintf("%.3f s", x) }
  END {
    printf "Glyphdock benchmarks, %s\nMachine: %s\n\n", date, machine
    row("", "Glyphdock", "reference", "ratio", "target")
    row("Collection, system folder (" int(v["compare.system_files"]) " files, " int(v["compare.system_icons"]) " icons)",
        s(v["compare.system_ui"]), s(v["compare.system_bare"]),
        ratio(v["compare.system_ui"], v["compare.system_bare"]), "<= 1.5 (bare loop)")
    row("  overhead per file, (UI - bare) / files",
        sprintf("%.2f ms", v["compare.system_files"] > 0 ? (v["compare.system_ui"] - v["compare.system_bare"]) * 1000 / v["compare.system_files"] : 0),
        "", "", "")
    row("Collection, " int(v["compare.shell_files"]) " x shell32.dll (" int(v["compare.shell_icons"]) " icons)",
        s(v["compare.shell_ui"]), s(v["compare.shell_bare"]),
        ratio(v["compare.shell_ui"], v["compare.shell_bare"]), "<= 1.15 (bare loop)")
    row("Start to main window (median of " int(v["start.start_runs"]) ")",
        s(v["start.start_program"]), s(v["start.start_minimal"]),
        ratio(v["start.start_program"], v["start.start_minimal"]), "<= 1.5 (minimal program)")
    row("Cancel latency, median / max of " int(v["compare.cancel_runs"]),
        s(v["compare.cancel_median"]), s(v["compare.cancel_max"]), "", "<= 1 s / <= 2 s")
    row("  copies of shell32 read in a cancelled run", sprintf("%.1f", v["compare.cancel_files_read_median"]), "", "", "")
    row("  presses the platform did not deliver", sprintf("%d", v["compare.cancel_lost"]), "", "", "")
    row("Save As of one icon (mean of 200)", sprintf("%.3f ms", v["compare.saveas_ms"]), "", "", "")
    row("Copy of one icon (mean of 200)", sprintf("%.3f ms", v["compare.copy_ms"]), "", "", "")
    row("Peak working set after " int(v["peak.icons"]) " icons", sprintf("%.1f MB", v["peak.peak_ws_mb"]),
        sprintf("%.1f MB", v["peakbare.peak_ws_mb"]), "", "(bare loop)")
    row("  working set before / after the run", sprintf("%.1f MB", v["peak.ws_before_mb"]),
        sprintf("%.1f MB", v["peak.ws_after_mb"]), "", "")
    printf "\nWhere the time goes (one profiled UI run of each set; seconds)\n"
    printf "  %-58s %10s %10s\n", "", "system", "shell32"
    split("ui_total step_progress step_extract step_finish step_gaps paint erase insert list_all", part, " ")
    label["ui_total"] = "UI run, total"
    label["step_progress"] = "progress steps (label, bar, dialog repaint)"
    label["step_extract"] = "extraction steps (check, extract, add, insert)"
    label["step_finish"] = "final step (hide and close)"
    label["step_gaps"] = "between steps (hand-over, modal wait, paints)"
    label["paint"] = "  list view WM_PAINT"
    label["erase"] = "  list view WM_ERASEBKGND"
    label["insert"] = "  list view LVM_INSERTITEM (inside extraction)"
    label["list_all"] = "  list view, every message"
    for (i = 1; i <= 9; ++i)
      printf "  %-58s %10.3f %10.3f\n", label[part[i]], v["compare.system_" part[i]], v["compare.profile_" part[i]]
    printf "  %-58s %10d %10d\n", "  steps handed over", v["compare.system_steps"], v["compare.profile_steps"]
    printf "  %-58s %10d %10d\n", "  list view paints", v["compare.system_paint_count"], v["compare.profile_paint_count"]
    printf "  %-58s %10.3f %10.3f\n", "bounded file check alone", v["compare.system_filecheck"], v["compare.shell_filecheck"]
    printf "  %-58s %10s %10.3f\n", "bare loop", "", v["compare.shell_bare"]
    printf "  %-58s %10s %10.3f\n", "bare loop, image list with room for all (no growth)", "", v["compare.shell_bare_nogrowth"]
    printf "  %-58s %10s %10.3f\n", "UI run, list view hidden", "", v["compare.shell_ui_listhidden"]
    printf "  %-58s %10s %10.3f\n", "UI run, list redraw off for the run (WM_SETREDRAW)", "", v["compare.shell_ui_noredraw"]
    printf "  %-58s %10s %10.3f\n", "UI run, automatic arrangement off for the run", "", v["compare.shell_ui_noautoarrange"]
    printf "  %-58s %10.1f\n", "one hand-over round trip, microseconds", v["compare.handover_roundtrip"] * 1e6
    # Scale block: a long run against four times a run a quarter as long.
    if (v["scale.scale_files"] > 0) {
      printf "\nScale: %d x shell32.dll (%d icons), the image list growing by %d\n",
             v["scale.scale_files"], v["scale.scale_entries"], v["scale.scale_growth"]
      row("", "run", "4 x 25", "ratio", "target")
      row("Collection through the windows", s(v["scale.scale_ui"]), s(4 * v["scale.scale_ui25"]),
          ratio(v["scale.scale_ui"], 4 * v["scale.scale_ui25"]), "<= 1.05 (straight line)")
      row("Bare loop, growth " int(v["scale.scale_growth"]), s(v["scale.scale_bare"]), "", "", "")
      row("Bare loop, growth 4 (for reference)", s(v["scale.scale_bare4"]), "", "", "")
      row("Peak working set of the long run", sprintf("%.1f MB", v["scale.scale_peak_ws_mb"]), "", "", "")
      printf "  %-42s %9s %9s %9s %9s\n", "seconds per block of 25 copies", "1-25", "26-50", "51-75", "76-100"
      printf "  %-42s %9.2f %9.2f %9.2f %9.2f\n", "through the windows", v["scale.scale_ui_block1"],
             v["scale.scale_ui_block2"], v["scale.scale_ui_block3"], v["scale.scale_ui_block4"]
      printf "  %-42s %9.2f %9.2f %9.2f %9.2f\n", "  of that in the extraction steps", v["scale.scale_extract_block1"],
             v["scale.scale_extract_block2"], v["scale.scale_extract_block3"], v["scale.scale_extract_block4"]
      printf "  %-42s %9.2f %9.2f %9.2f %9.2f\n", "bare loop, growth " int(v["scale.scale_growth"]), v["scale.scale_bare_block1"],
             v["scale.scale_bare_block2"], v["scale.scale_bare_block3"], v["scale.scale_bare_block4"]
      printf "  %-42s %9.2f %9.2f %9.2f %9.2f\n", "bare loop, growth 4", v["scale.scale_bare4_block1"],
             v["scale.scale_bare4_block2"], v["scale.scale_bare4_block3"], v["scale.scale_bare4_block4"]
    }
    printf "\nStart-up runs (Glyphdock, minimal):"
    for (k in v) if (k ~ /^start\.start_run_/) printf " %.3f/%.3f", v[k], v2[k]
    printf "\nCollection figures are medians of %s interleaved runs per side after one warm-up run.\n", reps
    if (notes != "") printf "%s", notes
  }
' "$out/compare.txt" "$out/peak.txt" "$out/peakbare.txt" "$out/start.txt" "$out/scale.txt"

# ---- glyphdock-export against icoutils (native, no Wine): a script of its own --------
"$here/export-bench.sh" "$build" "$out"
