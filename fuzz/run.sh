#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (in build-fuzz/, or
# FUZZ_BUILD_DIR) and runs each for FUZZ_SECONDS (default 60), starting from
# its seed corpus in fuzz/corpus/<target>/. Fails on any finding: the input
# that triggered it is left in <build dir>/findings/ and the run's log is
# printed. A finding goes into fuzz/corpus/<target>/ as a regression input:
# the replay tests of the normal build run every corpus file.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
cxx=${FUZZ_CXX:-clang++}
targets=(read_line_fuzz text_write_fuzz)
# Inputs long enough to cross the line buffer, the write chunk (8 KiB) and
# the list stream's buffer (64 KiB) edges.
declare -A max_len=([read_line_fuzz]=70000 [text_write_fuzz]=20000)

command -v "$cxx" >/dev/null || { echo "fuzz: $cxx not found (tools/install-deps installs it)" >&2; exit 1; }

echo "== $build: configure and build the fuzz targets"
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"

mkdir -p "$build/findings"
status=0
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  log="$build/$target.log"
  echo "== fuzz: $target for ${seconds}s"
  mkdir -p "$build/tmp"
  if TMPDIR="$build/tmp" "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${max_len[$target]}" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    echo "   $target: ${runs:-?} inputs in ${seconds}s, no finding"
  else
    status=1
    echo "   $target: FINDING (log follows; inputs in $build/findings/)" >&2
    tail -n 60 "$log" >&2
  fi
done
exit $status
