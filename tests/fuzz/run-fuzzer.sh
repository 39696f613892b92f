#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time, as CTest and `make fuzz` do.
#
#   run-fuzzer.sh FUZZER NAME STARTING_CORPUS WORK_FOLDER [DICTIONARY]
#
# FUZZ_SECONDS (default 3) bounds the run. The target works on its own
# corpus, WORK_FOLDER/corpus/NAME, which starts as a copy of
# STARTING_CORPUS and keeps what the runs add, so longer runs build on
# earlier ones. An input that makes the target fail is saved in
# WORK_FOLDER/artifacts/NAME/; the run then fails and says how to keep the
# input as a regression test. The full log is WORK_FOLDER/logs/NAME.log.
set -euo pipefail

fuzzer=$1
name=$2
start=$3
work=$4
dictionary=${5:+-dict=$5}
seconds=${FUZZ_SECONDS:-3}

corpus=$work/corpus/$name
artifacts=$work/artifacts/$name
log=$work/logs/$name.log
mkdir -p "$corpus" "$artifacts" "$work/logs"
[[ -d $start ]] && [[ -n $(ls -A "$start") ]] || { echo "no starting corpus in $start" >&2; exit 1; }
cp -n "$start"/* "$corpus"/

# Leaks are not looked for: FFmpeg keeps some memory for the process's
# life, which is not a fault of a single input.
status=0
ASAN_OPTIONS=detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS} \
  "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 $dictionary \
  -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
inputs=$(find "$corpus" -type f | wc -l)
echo "fuzz $name: ${runs:-0} executions in ${seconds} s, ${coverage:-no coverage reported}, corpus $inputs inputs"
if [[ $status -ne 0 ]]; then
  tail -n 60 "$log"
  echo "fuzz $name FAILED (status $status); the input is kept in $artifacts:" >&2
  ls -l "$artifacts" >&2
  echo "keep it as a regression test: cp $artifacts/<file> tests/fuzz/regressions/$name/" >&2
  exit 1
fi
