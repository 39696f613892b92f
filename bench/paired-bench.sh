#!/usr/bin/env bash
# Times two builds of mp.exe against each other on the same source, in
# interleaved pairs (A B, then B A, ...), so that a drift in the machine's
# speed falls on both alike:
#
#   bench/paired-bench.sh A/mp.exe B/mp.exe SOURCE [ROUNDS]
#
# Each run writes fresh outputs (the previous ones are removed and synced
# first). "warm": the source is in the page cache. "cold": the caches are
# dropped before the run (needs root) and the time includes the sync that
# puts the outputs on the disk. Prints each run and the medians.
set -euo pipefail

a=$1 b=$2 src=$3 rounds=${4:-11}
dir=$(mktemp -d "$(dirname "$src")/paired-XXXXXX")
trap 'rm -rf "$dir"' EXIT

one() {  # one timed run: prints the wall seconds
  local exe=$1 mode=$2
  rm -f "$dir"/out.*
  sync
  if [[ $mode == cold ]]; then
    echo 3 > /proc/sys/vm/drop_caches
  else
    cat "$src" > /dev/null
  fi
  local start end
  start=$(date +%s.%N)
  "$exe" "$src" "$dir/out.avi" "$dir/out.txt" > /dev/null
  [[ $mode == cold ]] && sync
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for mode in warm cold; do
  : > "$dir/a.$mode"
  : > "$dir/b.$mode"
  : > "$dir/ratio.$mode"
  for ((i = 0; i < rounds; i++)); do
    if (( i % 2 )); then
      tb=$(one "$b" $mode); ta=$(one "$a" $mode)
    else
      ta=$(one "$a" $mode); tb=$(one "$b" $mode)
    fi
    echo "$ta" >> "$dir/a.$mode"
    echo "$tb" >> "$dir/b.$mode"
    echo "scale=4; $ta / $tb" | bc >> "$dir/ratio.$mode"
    echo "$mode round $((i + 1)): A $ta s, B $tb s"
  done
  echo "$mode: median A $(median < "$dir/a.$mode") s, B $(median < "$dir/b.$mode") s," \
       "A/B median $(median < "$dir/ratio.$mode")" \
       "(range $(sort -n "$dir/ratio.$mode" | head -1)-$(sort -n "$dir/ratio.$mode" | tail -1))"
done
