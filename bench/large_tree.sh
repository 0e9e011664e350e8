#!/usr/bin/env bash
# Large-tree check: runs `dupehunt TREE /L=LOG` over a generated tree of
# 1,000,000 empty files under /usr/bin/time -v and checks that the run
# finishes with exit code 0, that it reports "Total: 1000000 file(s)" and a
# summary with 1000000 total and empty files, that no temporary file is left,
# and that peak memory stays within the scan's bound: 16 bytes a file for the
# table (sizes and record offsets) plus less than 64 MiB beyond it. Of the
# run blocks a walk touches only the table; the comparison buffers stay
# untouched, because files of size 0 are never compared.
#
#   bench/large_tree.sh [DUPEHUNT [TREE]]
#
#   DUPEHUNT  the program (default: build/dupehunt)
#   TREE      a tree made earlier by this script (default: a fresh one under
#             ${TMPDIR:-/tmp}, removed afterwards; making it takes minutes)
#
# Needs GNU time (Debian package `time`). Not part of CI.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/dupehunt}
tree=${2:-}
files=1000000

[ -x "$program" ] || { echo "large_tree.sh: no program at $program" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "large_tree.sh: needs /usr/bin/time (package time)" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/large_tree.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
if [ -z "$tree" ]; then
  tree=$scratch/tree
  echo "== making $files files under $tree"
  # 20^3 leaf directories of 125 files each.
  "$here/make_tree.sh" "$tree" 20 125
fi
mkdir -p "$scratch/temp"

echo "== dupehunt $tree"
set +e
TEMP=$scratch/temp TMP=$scratch/temp /usr/bin/time -v -o "$scratch/time" \
  "$program" "$tree" "/L=$scratch/log" >"$scratch/out" 2>&1 </dev/null
code=$?
set -e

peak_kib=$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$scratch/time")
elapsed=$(sed -n 's/^\s*Elapsed (wall clock) time.*: //p' "$scratch/time")
bound_kib=$(( (16 * files + 64 * 1024 * 1024) / 1024 ))
echo "   exit code $code, ${elapsed} wall, peak ${peak_kib} KiB (bound ${bound_kib} KiB)"

status=0
fail() { echo "FAIL: $*" >&2; status=1; }
[ "$code" -eq 0 ] || fail "exit code $code"
tr -d '\r' <"$scratch/log" | grep -q "^  Total files\.*${files}\$" || fail "the summary does not show $files files"
tr -d '\r' <"$scratch/log" | grep -q "^    Empty files\.*${files}\$" || fail "the summary does not show $files empty files"
[ -z "$(ls -A "$scratch/temp")" ] || fail "temporary file left behind: $(ls -A "$scratch/temp")"
[ "$peak_kib" -le "$bound_kib" ] || fail "peak memory ${peak_kib} KiB over ${bound_kib} KiB"
[ $status -eq 0 ] && echo "   ok: finished, right total, memory within bound"
exit $status
