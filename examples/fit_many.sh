#!/usr/bin/env bash
# Fits every deck given (files, or folders searched for files named deck or
# *.in) with the console program btcfit, several at once with GNU parallel,
# and writes a CSV table to standard output: a header, then one line per
# deck in the order given.
#
#   examples/fit_many.sh tests/data/golden > fits.csv
#   examples/fit_many.sh --one DECK      # one deck's CSV line (no header)
#
# Columns: deck, model, status (btcfit's exit status), iterations, ssq,
# b1..b7 (the fitted coefficients in deck order; b7 only for models 5-8),
# message (btcfit's error message for a failed deck, whose values are empty).
# Each deck runs in a fresh temporary folder (where pd.dat goes, when the
# deck asks for it) as `btcfit DECK report.out`, the deck read where it is.
# Values come from the report's final progress line (the line just before
# the blank lines and the OBSERVED C heading).
#
# Environment: BTCFIT (the console program; default btcfit on PATH, else
# build/btcfit beside this folder), JOBS (decks at once; default one per
# core). With JOBS left alone each job is pinned to a core of its own
# (taskset), so that each btcfit runs one thread and the cores share the
# decks rather than each fit.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${BTCFIT:-} ]]; then
  if command -v btcfit >/dev/null; then BTCFIT=$(command -v btcfit)
  else BTCFIT=$here/../build/btcfit; fi
fi
export BTCFIT

csv_field() {  # quotes a field when it holds a comma, a quote or a blank edge
  local s=$1
  if [[ $s == *[,\"]* || $s =~ ^[[:space:]] || $s =~ [[:space:]]$ ]]; then
    s=${s//\"/\"\"}
    s="\"$s\""
  fi
  printf '%s' "$s"
}

fit_one() {
  local deck=$1 path work status=0 model message= values=
  if [[ ! -f $deck || ! -r $deck ]]; then
    printf '%s,,2,,,,,,,,,,%s\n' "$(csv_field "$deck")" "$(csv_field "cannot read $deck")"
    return
  fi
  path=$(realpath -- "$deck")
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  # The model code: columns 1-10 of record 2.
  model=$(awk 'NR == 2 { v = substr($0, 1, 10); gsub(/[ \r]/, "", v); print v; exit }' \
          "$path")
  (cd "$work" && "$BTCFIT" -- "$path" report.out </dev/null >/dev/null 2>stderr.txt) || status=$?
  if ((status == 0)); then
    # The final progress line, cut by its fixed fields I5, F10.6, 6 or 7 F9.5.
    values=$(tr -d '\r' <"$work/report.out" | awk '
      /OBSERVED C/ { print last; exit }
      NF > 0 { last = $0 }' | awk '{
        line = $0
        out = substr(line, 1, 5) "," substr(line, 6, 10)
        for (k = 0; k < 7; ++k) out = out "," substr(line, 16 + 9 * k, 9)
        gsub(/ /, "", out)
        print out
      }')
    printf '%s,%s,0,%s,\n' "$(csv_field "$deck")" "$model" "$values"
  else
    message=$(sed -n 's/^btcfit: //p' "$work/stderr.txt" | head -n 1)
    [[ -n $message ]] || message=$(head -n 1 "$work/stderr.txt")
    printf '%s,%s,%s,,,,,,,,,,%s\n' "$(csv_field "$deck")" "$model" "$status" \
      "$(csv_field "$message")"
  fi
}

if [[ ${1:-} == --one ]]; then
  fit_one "$2"
  exit 0
fi

decks=()
for arg in "$@"; do
  if [[ -d $arg ]]; then
    while IFS= read -r -d '' f; do decks+=("$f"); done < <(
      find "$arg" -type f \( -name deck -o -name '*.in' \) -print0 | sort -z)
  else
    decks+=("$arg")
  fi
done
if ((${#decks[@]} == 0)); then
  echo "usage: $0 DECK|FOLDER..." >&2
  exit 2
fi

echo "deck,model,status,iterations,ssq,b1,b2,b3,b4,b5,b6,b7,message"
cores=$(nproc)
if [[ -z ${JOBS:-} ]] && command -v taskset >/dev/null; then
  # Slot {%} runs on core {%} - 1.
  printf '%s\0' "${decks[@]}" | parallel -0 -k --will-cite -j "$cores" \
    taskset -c '$(( ({%} - 1) % '"$cores"' ))' "$0" --one {}
else
  printf '%s\0' "${decks[@]}" | parallel -0 -k --will-cite -j "${JOBS:-$cores}" "$0" --one {}
fi
