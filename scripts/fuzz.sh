#!/usr/bin/env bash
# Builds the fuzzing harnesses and runs each of them: first over its committed seeds in
# fuzz/corpus/<harness>/ (a replay, which fails on any input that fails), then for a fixed time on
# new inputs. Stops at the first finding, which is kept in build/fuzz/findings/ to be replayed with
# `build/fuzz/fuzz/<harness> <file>`; prints the executions of every harness.
#
# Usage: scripts/fuzz.sh [seconds per harness, default 600] [harness ...]
# CI runs it with 20 seconds. Inputs the fuzzer finds worth keeping go to build/fuzz/corpus/, never
# into the committed seeds; copy one there by hand when it should stay.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
    harnesses=(line_fuzz path_fuzz conversion_fuzz textscan_fuzz map_fuzz list_fuzz action_fuzz)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

findings=build/fuzz/findings
mkdir -p "$findings"
# Lines longer than the line buffer's first block, so that its growth is reached.
options=(-max_len=10000 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$findings/")
for harness in "${harnesses[@]}"; do
    program=build/fuzz/fuzz/$harness
    seeds=fuzz/corpus/$harness
    work=build/fuzz/corpus/$harness
    mkdir -p "$work"
    log=build/fuzz/$harness.log
    echo "=== fuzz: $harness, replaying $(ls "$seeds" | wc -l) seeds, then ${seconds} s"
    if ! "$program" "${options[@]}" -runs=0 "$seeds" >"$log" 2>&1 ||
        ! "$program" "${options[@]}" -max_total_time="$seconds" "$work" "$seeds" >>"$log" 2>&1; then
        tail -n 40 "$log"
        echo "FAILED fuzz: $harness (log in $log, inputs in $findings/)"
        exit 1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
    echo "fuzz: $harness ran ${runs:-?} inputs in ${seconds} s, no finding"
done
