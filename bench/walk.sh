#!/usr/bin/env bash
# Walk benchmark: times `dupehunt DIR` on a generated tree of empty files
# (so the run is the walk: nothing is compared) beside
# `find DIR -type f -printf '%s\n'`, and reports files per second and the
# peak resident memory of each.
#
#   bench/walk.sh [DUPEHUNT [TREE]]
#
#   DUPEHUNT  the program to time (default: build/dupehunt)
#   TREE      the tree to walk; made with bench/make_tree.sh when missing
#             (default: a fresh directory under ${TMPDIR:-/tmp}, removed
#             afterwards). Reusing a tree saves the minute it takes to make.
#   RUNS      environment: timed runs of each, the best is kept (default 3)
#
# Needs GNU time (/usr/bin/time, Debian package `time`). Every run walks a
# tree that the page cache already holds: the first, untimed find warms it.
# Targets: the walk within 2x of find's time, and peak memory under 64 MiB
# beyond the finder's run blocks. Of those blocks a walk touches only the
# table (FileSizes and RecordOffsets, 16 bytes per file); the comparison
# buffers stay untouched. So the peak less 16 bytes per file is what counts.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/dupehunt}
tree=${2:-}
runs=${RUNS:-3}

if [ ! -x "$program" ]; then
  echo "walk.sh: no program at $program (build it first, or name it)" >&2
  exit 1
fi
if [ ! -x /usr/bin/time ]; then
  echo "walk.sh: needs GNU time (/usr/bin/time)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/walk-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -z "$tree" ]; then
  tree=$work/tree
fi
if [ ! -d "$tree" ]; then
  "$here/make_tree.sh" "$tree"
fi
mkdir -p "$work/tmp"

files=$(find "$tree" -type f | wc -l)
echo "tree: $tree, $files files, $(find "$tree" -type d | wc -l) directories"

# Runs a command RUNS times under GNU time; prints "seconds peak_kib" of the
# fastest run.
measure() {
  local best_s="" best_kib=0 line s kib
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$work/time.txt" -f '%e %M' "$@" >/dev/null 2>&1
    line=$(tail -n 1 "$work/time.txt")
    s=${line% *}
    kib=${line#* }
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then
      best_s=$s
    fi
    if [ "$kib" -gt "$best_kib" ]; then best_kib=$kib; fi
  done
  echo "$best_s $best_kib"
}

find "$tree" -type f -printf '%s\n' >/dev/null  # warms the page cache

read -r find_s find_kib < <(measure find "$tree" -type f -printf '%s\n')
# TEMP points at a directory of the benchmark's own, so the temporary file
# of the run is written and removed there.
read -r dh_s dh_kib < <(measure env TEMP="$work/tmp" TMP="$work/tmp" "$program" "$tree")

leftover=$(ls -A "$work/tmp" | wc -l)
rate() { awk -v n="$files" -v s="$1" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }'; }
table_kib=$(( files * 16 / 1024 ))

printf '%-10s %8s s %12s files/s %10s KiB peak\n' find "$find_s" "$(rate "$find_s")" "$find_kib"
printf '%-10s %8s s %12s files/s %10s KiB peak\n' dupehunt "$dh_s" "$(rate "$dh_s")" "$dh_kib"
awk -v a="$dh_s" -v b="$find_s" 'BEGIN { printf "time ratio dupehunt/find: %.2f (target <= 2)\n", (b > 0 ? a / b : 0) }'
echo "dupehunt peak beyond the table's touched blocks ($table_kib KiB):" \
  "$((dh_kib - table_kib)) KiB (target < 65536 KiB)"
if [ "$leftover" -ne 0 ]; then
  echo "walk.sh: the run left $leftover file(s) in its temporary directory" >&2
  exit 1
fi
