#!/usr/bin/env bash
# Runs dupehunt and the Debian duplicate finders (fdupes, jdupes, rdfind,
# duff, rmlint) on the benchmark corpora, checks that all of them report the
# same groups, and prints a table of median wall time, CPU time (user +
# system) and peak resident memory per tool and corpus, with the ratio of
# dupehunt's wall time to that of the fastest peer.
#
#   bench/run.sh [DUPEHUNT]
#
#   DUPEHUNT  the program (default: build/dupehunt)
#   SCALE     environment: corpus size factor (default 1; 0.1 for a quick run)
#   CORPORA   environment: which corpora (default "mixed distinct prefix large tiny")
#   RUNS      environment: timed runs per tool and corpus, after one untimed
#             run that warms the page cache (default 3)
#   BENCH_DIR environment: where the corpora are made and kept (default
#             ${TMPDIR:-/tmp}/dupehunt-bench-SCALE); reused when present
#
# Every tool reports only (nothing is deleted or linked), follows no symbolic
# link and passes over empty files. dupehunt runs without a terminal, as from
# cron, so its console output costs nothing; every tool writes its report to
# a file. Installs the peers and GNU time with apt-get when missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "${1:-$here/../build/dupehunt}")
scale=${SCALE:-1}
corpora=${CORPORA:-mixed distinct prefix large tiny}
runs=${RUNS:-3}
base=${BENCH_DIR:-${TMPDIR:-/tmp}/dupehunt-bench-$scale}
tools=(dupehunt fdupes jdupes rdfind duff rmlint)

missing=()
for p in fdupes jdupes rdfind duff rmlint time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

mkdir -p "$base"
SCALE=$scale "$here/make_corpus.py" "$base" $corpora
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The command of tool on tree, its report going to $work/out.
command_of() {
  local tool=$1 tree=$2 out=$work/out
  case $tool in
    dupehunt) echo "setsid -w $program $tree /L=$out" ;;
    fdupes) echo "fdupes -r -n -q -o name $tree >$out" ;;
    jdupes) echo "jdupes -r -q $tree >$out" ;;
    rdfind) echo "rdfind -ignoreempty true -followsymlinks false -makehardlinks false -makesymlinks false -deleteduplicates false -outputname $out $tree >/dev/null" ;;
    duff) echo "duff -r -a -P -z $tree >$out" ;;
    rmlint) echo "rmlint -T df --no-followlinks -o fdupes:$out $tree >/dev/null" ;;
  esac
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

printf '%-9s %-9s %10s %10s %10s  %s\n' corpus tool wall_s cpu_s peak_MiB groups
for corpus in $corpora; do
  tree=$base/$corpus
  declare -A wall=()
  reference=""
  for tool in "${tools[@]}"; do
    cmd=$(command_of "$tool" "$tree")
    rm -f "$work/out" "$work/log"
    (cd "$work" && bash -c "$cmd") 2>/dev/null || true   # warms the cache
    "$here/groups.py" "$tool" "$work/out" >"$work/groups.$tool"
    : >"$work/times"
    for ((r = 0; r < runs; r++)); do
      rm -f "$work/out"
      # time runs inside the shell: its peak is then that of the tool, not of bash.
      (cd "$work" && bash -c "exec /usr/bin/time -f '%e %U %S %M' -o $work/t $cmd") 2>/dev/null || true
      tail -n 1 "$work/t" >>"$work/times"
    done
    w=$(awk '{print $1}' "$work/times" | median)
    c=$(awk '{print $2 + $3}' "$work/times" | median)
    m=$(awk '{print $4 / 1024}' "$work/times" | median)
    wall[$tool]=$w
    count=$(wc -l <"$work/groups.$tool")
    verdict=same
    if [ -z "$reference" ]; then
      reference=$work/groups.$tool
    elif ! cmp -s "$reference" "$work/groups.$tool"; then
      verdict=DIFFERENT
    fi
    printf '%-9s %-9s %10.2f %10.2f %10.1f  %s %s\n' "$corpus" "$tool" "$w" "$c" "$m" "$count" "$verdict"
  done
  fastest=$(for t in "${tools[@]:1}"; do echo "${wall[$t]} $t"; done | sort -g | head -n 1)
  awk -v d="${wall[dupehunt]}" -v f="$fastest" -v c="$corpus" 'BEGIN {
    split(f, p, " "); printf "%-9s dupehunt / fastest peer (%s): %.2f\n", c, p[2], (p[1] > 0 ? d / p[1] : 0) }'
  unset wall
done
