#!/usr/bin/env bash
# The libFuzzer harnesses of tests/fuzz/native, built with clang and the address and
# undefined-behaviour sanitizers into BUILD/fuzz-native.
#
#   run-native-fuzz.sh replay BUILD          every harness once over each file of the
#                                            regression corpus (tests/fuzz/corpus); the
#                                            test fuzz_regression
#   run-native-fuzz.sh fuzz BUILD SECONDS    coverage-guided fuzzing, SECONDS of wall time
#                                            shared among the harnesses, one after another
#                                            on one core (make fuzz-native)
#
# A fuzz run stops an input after 1 s or past 512 MB as a finding; findings land in
# BUILD/fuzz-native/findings, each harness's grown corpus in BUILD/fuzz-native/corpus-*.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
mode=${1:-}
build=${2:-}
harnesses=(reader bitmap png thumbnail export)
if [ -z "$build" ] || { [ "$mode" != replay ] && [ "$mode" != fuzz ]; }; then
  sed -n '2,16p' "$0" >&2
  exit 2
fi
out=$build/fuzz-native
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is missing (scripts/install-deps.sh installs clang); skipped" >&2
  exit 77
fi

# Configured once, rebuilt as the sources change.
if [ ! -f "$out/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$top/native" -B "$out" -DGLYPHDOCK_FUZZ=ON >"$out.configure.log" 2>&1 ||
    { cat "$out.configure.log" >&2; exit 1; }
fi
nice -n 10 cmake --build "$out" -j"${JOBS:-2}" >"$out.build.log" 2>&1 || { tail -40 "$out.build.log" >&2; exit 1; }

if [ "$mode" = replay ]; then
  failed=0
  corpus=()
  for f in "$top"/tests/fuzz/corpus/*; do
    [ "$(basename "$f")" = README ] || corpus+=("$f")
  done
  for h in "${harnesses[@]}"; do
    # Under the sanitizers a run is several times slower than the tool: 10 s stands for
    # the tool's own second.
    if "$out/fuzz_$h" -timeout=10 -rss_limit_mb=512 "${corpus[@]}" >"$out/replay-$h.log" 2>&1; then
      echo "fuzz_$h: ${#corpus[@]} files, $(grep -o 'slowest input: .*' "$out/replay-$h.log")"
    else
      echo "fuzz_$h: FAILED" >&2
      grep -E -A30 'ERROR|broken|runtime error|Test unit written' "$out/replay-$h.log" | head -60 >&2
      failed=1
    fi
  done
  exit $failed
fi

seconds=${3:-}
case $seconds in '' | *[!0-9]*) echo "fuzz: SECONDS is a number" >&2; exit 2 ;; esac
each=$((seconds / ${#harnesses[@]}))
[ "$each" -ge 1 ] || each=1
mkdir -p "$out/findings" "$out/seeds"
# Seeds: the regression corpus and the fixtures for the file harnesses; every image
# inside them, alone, for the decoders'.
python3 - "$out/seeds" "$top/tests/fuzz/corpus" "$build/fixtures" <<'EOF'
import struct, sys
from pathlib import Path
seeds = Path(sys.argv[1])
for sub in ('files', 'bitmap', 'png'):
    (seeds / sub).mkdir(parents=True, exist_ok=True)
for folder in sys.argv[2:]:
    for f in sorted(Path(folder).glob('*')):
        if f.suffix.lower() not in ('.ico', '.dll', '.exe', '.png', '.bmp') or f.stat().st_size > 1 << 20:
            continue
        data = f.read_bytes()
        (seeds / 'files' / f.name).write_bytes(data)
        if f.suffix.lower() == '.png':
            (seeds / 'png' / f.name).write_bytes(data)
        if f.suffix.lower() != '.ico' or len(data) < 6:
            continue
        count = struct.unpack_from('<H', data, 4)[0]
        for k in range(min(count, 16)):
            if 6 + 16 * (k + 1) > len(data):
                break
            size, at = struct.unpack_from('<II', data, 6 + 16 * k + 8)
            image = data[at:at + min(size, 1 << 16)]
            kind = 'png' if image[:4] == b'\x89PNG' else 'bitmap'
            (seeds / kind / f'{f.stem}-{k}').write_bytes(image)
EOF
# libFuzzer's timeout is wall-clock time: on a busy machine an input may pass 1 s while
# waiting for a processor. Its memory limit is the whole process's: with a large corpus
# loaded, the process may pass 512 MB while no input needs more than a little. A run
# stopped by a timeout or for memory replays that input alone; when it stays under a
# second of processor time and 512 MB then, the stop is noted as spurious (its input kept
# in findings/spurious) and the harness goes on for the time left. Any other finding
# stops the harness and counts. The slowest input is reported in processor time.
# ASan keeps freed memory aside before reusing it: a small quarantine keeps the process's
# memory near what the inputs take.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32}
printf '%-10s %12s %6s %8s %9s %s\n' harness executions cov features 'peak MB' 'slowest input / findings'
status=0
for h in "${harnesses[@]}"; do
  case $h in bitmap) seed=$out/seeds/bitmap ;; png) seed=$out/seeds/png ;; *) seed=$out/seeds/files ;; esac
  mkdir -p "$out/corpus-$h" "$out/findings/spurious"
  log=$out/fuzz-$h.log
  : >"$log"
  ends=$((SECONDS + each))
  execs=0 peak=0 spurious=0
  while [ $((ends - SECONDS)) -ge 2 ]; do
    nice -n 10 "$out/fuzz_$h" -max_total_time=$((ends - SECONDS)) -timeout=1 -rss_limit_mb=512 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$out/findings/$h-" "$out/corpus-$h" "$seed" >"$log.part" 2>&1
    cat "$log.part" >>"$log"
    execs=$((execs + $(sed -n 's/^stat::number_of_executed_units: *//p' "$log.part" | tail -1 | grep . || echo 0)))
    p=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log.part" | tail -1)
    [ -n "$p" ] && [ "$p" -gt "$peak" ] && peak=$p
    stop=$(sed -n 's/.*Test unit written to \(.*\(timeout\|oom\)-.*\)/\1/p' "$log.part" | tail -1)
    [ -n "$stop" ] || break
    ms=$("$out/fuzz_$h" -timeout=100 -rss_limit_mb=512 "$stop" 2>&1 | sed -n 's/^slowest input: \([0-9.]*\) ms.*/\1/p')
    if [ -n "$ms" ] && awk "BEGIN { exit !($ms < 1000) }"; then
      echo "fuzz_$h: a stop ($(basename "$stop")) whose input takes $ms ms and under 512 MB alone: spurious, going on" >>"$log"
      mv "$stop" "$out/findings/spurious/"
      spurious=$((spurious + 1))
    else
      break
    fi
  done
  rm -f "$log.part"
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  # The slowest input of the whole run, over its restarts.
  slow=$(sed -n 's/^slowest input: \([0-9.]*\) ms (\([0-9]*\) bytes).*/\1 \2/p' "$log" | sort -g | tail -1)
  found=$(find "$out/findings" -maxdepth 1 -name "$h-*" | wc -l)
  printf '%-10s %12s %6s %8s %9s %s ms (%s bytes); %s findings, %s spurious stops\n' "$h" "$execs" "${cov:-?}" \
    "${ft:-?}" "$peak" ${slow:-? ?} "$found" "$spurious"
  [ "$found" -eq 0 ] || { status=1; grep -E -m5 'ERROR|broken|runtime error|out-of-memory' "$log"; }
done
exit $status
