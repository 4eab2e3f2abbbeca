#!/usr/bin/env bash
# Whole-program timings on the reference decks: median wall time and peak
# memory of several runs, with the serial evaluation (1 thread) and with the
# parallel one (as btcfit runs: one thread per core).
#
#   bench/run_decks.sh [RUNS] [BUILD_DIR]
#
# RUNS defaults to 3, BUILD_DIR to build. Needs GNU time (/usr/bin/time).
set -euo pipefail
runs=${1:-3}
build=${2:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
threads_exe="$root/$build/bench/btcfit-threads"
btcfit_exe="$root/$build/btcfit"
[[ -x $threads_exe && -x $btcfit_exe ]] || { echo "build $build first (with benchmarks on)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

printf '%-24s %10s %10s %10s %10s\n' deck serial_s parallel_s speedup peak_MB
for deck in "$root"/tests/data/golden/*/; do
  name=$(basename "$deck")
  [[ $(cat "$deck/status") == 0 ]] || continue
  declare -A wall=() mem=()
  for mode in serial parallel; do
    times=()
    peak=0
    for ((r = 0; r < runs; r++)); do
      dir="$work/$name-$mode-$r"
      mkdir -p "$dir"
      cp "$deck/deck" "$dir/deck.in"
      if [[ $mode == serial ]]; then cmd=("$threads_exe" 1); else cmd=("$btcfit_exe"); fi
      (cd "$dir" && printf 'deck.in\nreport.out\n' |
        /usr/bin/time -f '%e %M' -o time.txt "${cmd[@]}" > /dev/null)
      cmp -s "$dir/report.out" "$deck/report.out" || { echo "$name ($mode): report differs" >&2; exit 1; }
      read -r t m < "$dir/time.txt"
      times+=("$t")
      ((m > peak)) && peak=$m
    done
    wall[$mode]=$(printf '%s\n' "${times[@]}" | median)
    mem[$mode]=$peak
  done
  awk -v n="$name" -v s="${wall[serial]}" -v p="${wall[parallel]}" -v m="${mem[parallel]}" \
    'BEGIN { printf "%-24s %10.3f %10.3f %10.2f %10.1f\n", n, s, p, (p > 0 ? s / p : 0), m / 1024 }' 
done
