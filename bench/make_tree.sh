#!/usr/bin/env bash
# Makes a tree for the walk benchmark: DIR/dNN/dNN/dNN/fNNN, nested three
# levels deep, FILES_PER_DIR empty files in each leaf directory.
#
#   bench/make_tree.sh DIR [FANOUT [FILES_PER_DIR]]
#
# The defaults (FANOUT 20, 63 files) make 20^3 = 8,000 leaf directories and
# 504,000 files. Files are empty, so a finder run spends its time walking:
# files of size 0 are never compared.
set -euo pipefail

dir=${1:?usage: make_tree.sh DIR [FANOUT [FILES_PER_DIR]]}
fanout=${2:-20}
per_dir=${3:-63}

if [ -e "$dir" ]; then
  echo "make_tree.sh: $dir exists already" >&2
  exit 1
fi
mkdir -p "$dir"

names=()
for ((f = 0; f < per_dir; f++)); do names+=("f$(printf '%03d' "$f")"); done

for ((a = 0; a < fanout; a++)); do
  for ((b = 0; b < fanout; b++)); do
    for ((c = 0; c < fanout; c++)); do
      leaf=$(printf '%s/d%02d/d%02d/d%02d' "$dir" "$a" "$b" "$c")
      mkdir -p "$leaf"
      (cd "$leaf" && touch "${names[@]}")
    done
  done
done
echo "made $((fanout * fanout * fanout * per_dir)) files under $dir"
