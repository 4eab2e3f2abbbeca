#!/usr/bin/env bash
# Whole-program timings on the reference decks: median wall time and peak
# memory of several runs, with the serial evaluation (1 thread) and with the
# parallel one (as btcfit runs: one thread per core).
#
#   bench/run_decks.sh [RUNS] [BUILD_DIR] [REFERENCE]
#
# RUNS defaults to 3, BUILD_DIR to build. REFERENCE, if given, is another
# btcfit executable (for example a build of an earlier commit) that is timed
# on the same decks; its column and the ratio parallel / reference follow.
# The modes take turns run by run, so that all of them see the machine in
# the same minutes (its speed may change from one minute to the next).
# Needs GNU time (/usr/bin/time).
set -euo pipefail
runs=${1:-3}
build=${2:-build}
reference=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
threads_exe="$root/$build/bench/btcfit-threads"
btcfit_exe="$root/$build/btcfit"
[[ -x $threads_exe && -x $btcfit_exe ]] || { echo "build $build first (with benchmarks on)" >&2; exit 2; }
[[ -z $reference || -x $reference ]] || { echo "no executable $reference" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

modes=(serial parallel)
[[ -n $reference ]] && modes+=(reference)
printf '%-24s %10s %10s %10s %10s' deck serial_s parallel_s speedup peak_MB
[[ -n $reference ]] && printf ' %12s %10s' reference_s par/ref
printf '\n'
for deck in "$root"/tests/data/golden/*/; do
  name=$(basename "$deck")
  [[ $(cat "$deck/status") == 0 ]] || continue
  declare -A times=() mem=()
  for mode in "${modes[@]}"; do
    times[$mode]=""
    mem[$mode]=0
  done
  for ((r = 0; r < runs; r++)); do
    for mode in "${modes[@]}"; do
      dir="$work/$name-$mode-$r"
      mkdir -p "$dir"
      cp "$deck/deck" "$dir/deck.in"
      case $mode in
        serial) cmd=("$threads_exe" 1) ;;
        parallel) cmd=("$btcfit_exe") ;;
        reference) cmd=("$reference") ;;
      esac
      (cd "$dir" && printf 'deck.in\nreport.out\n' |
        /usr/bin/time -f '%e %M' -o time.txt "${cmd[@]}" > /dev/null)
      if ! cmp -s "$dir/report.out" "$deck/report.out"; then
        # A reference build may predate a correction of the reports (it is
        # only timed); this build must reproduce every one.
        [[ $mode == reference ]] || { echo "$name ($mode): report differs" >&2; exit 1; }
        ((r == 0)) && echo "$name: the reference's report differs from this one" >&2
      fi
      read -r t m < "$dir/time.txt"
      times[$mode]+="$t "
      ((m > mem[$mode])) && mem[$mode]=$m
    done
  done
  declare -A wall=()
  for mode in "${modes[@]}"; do
    wall[$mode]=$(printf '%s\n' ${times[$mode]} | median)
  done
  awk -v n="$name" -v s="${wall[serial]}" -v p="${wall[parallel]}" -v m="${mem[parallel]}" \
    'BEGIN { printf "%-24s %10.3f %10.3f %10.2f %10.1f", n, s, p, (p > 0 ? s / p : 0), m / 1024 }'
  if [[ -n $reference ]]; then
    awk -v f="${wall[reference]}" -v p="${wall[parallel]}" \
      'BEGIN { printf " %12.3f %10.2f", f, (f > 0 ? p / f : 0) }'
  fi
  printf '\n'
done
