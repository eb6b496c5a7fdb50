#!/usr/bin/env bash
# Every figure of the action's text path, natively and for the Windows build under Wine:
# - the ratio of the copy's throughput to the exact-call floor: a program that makes the copy's own
#   system calls and nothing else (the 4096-byte reads, and the writes with the sizes that strace
#   records from a native run of the copy; the algorithm, so the sizes, are the same under Wine),
#   the median of alternating runs, each output removed before its run, untimed;
# - instructions and mispredicted branches per line (callgrind with its branch simulation, the copy
#   alone) on the bench's 10 MB file of lines, instructions per empty line, instructions per byte
#   on one 8 MB line;
# - one 64 MiB line copied, timed natively and under Wine (the median of three copies);
# - the peak resident set for a 10 MB file and for the large one;
# - that every output is byte for byte what tr makes of the input (every line ends in CR LF there).
# Usage: bench/action_run.sh [megabytes (200)] [folder (a new folder under /tmp)] [rounds (5)]
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes=${1:-200}
rounds=${3:-5}
created=""
if [ -n "${2:-}" ]; then
    folder=$(realpath "$2")
else
    folder=$(mktemp -d /tmp/action-bench.XXXXXX)
    created=$folder
fi
wine_started=""
cleanup() {
    [ -z "$wine_started" ] || wine_server_stop
    if [ -n "$created" ]; then
        rm -rf "$created"
    else
        rm -f "$folder"/bench-*.txt "$folder"/bench-*.cg "$folder"/bench-*.log
    fi
}
trap cleanup EXIT

for preset in native windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target action_throughput -- -j2 >/dev/null
done
native=build/native/bench/action_throughput
windows=build/windows/bench/action_throughput.exe
export WINE_TEST_PREFIX="$PWD/build/windows/wine/prefix"
. cmake/wine-env.sh
wine_ready
wine_started=1

in_wine() { echo "Z:${1//\//\\}"; }
# expected INPUT: what tr makes of it, the copy's output for an input whose lines all end in CR LF.
expected() { tr '!-~' 'P-~!-O' <"$1" >"${1%.txt}-tr.txt"; }
# same INPUT: whether the copy's output of INPUT is tr's.
same() { cmp -s "${1%.txt}-enc.txt" "${1%.txt}-tr.txt" && echo yes || echo NO; }
field() { awk -v key="$1" -F': ' '$1 == key { print $2 }'; }
# counted INPUT: callgrind's instructions and mispredicted branches of one copy of INPUT.
counted() {
    valgrind --tool=callgrind --branch-sim=yes --toggle-collect='*CopyOnce*' \
        --callgrind-out-file="$folder/bench-copy.cg" "$native" copy "$1" >/dev/null 2>&1
    awk '/^events:/ { for (i = 2; i <= NF; i++) name[i] = $i }
         /^(summary|totals):/ { for (i = 2; i <= NF; i++) value[name[i]] = $i }
         END { print value["Ir"], value["Bcm"] + value["Bim"] }' "$folder/bench-copy.cg"
}

lines=$folder/bench-lines.txt
small=$folder/bench-small.txt
empty=$folder/bench-empty.txt
line8=$folder/bench-line8.txt
line64=$folder/bench-line64.txt
"$native" generate lines $((megabytes * 1000000)) "$lines"
"$native" generate lines 10000000 "$small"
"$native" generate empty 2000000 "$empty"
"$native" generate long 8000000 "$line8"
"$native" generate long $((64 << 20)) "$line64"
for input in "$lines" "$small" "$line64"; do expected "$input"; done

echo "=== the copy's write sizes (strace, native)"
strace -f -qq -y -s 0 -e trace=read,write -e signal=none -o "$folder/bench-strace.log" \
    "$native" copy "$lines" >/dev/null
sizes=$folder/bench-sizes.txt
grep -F 'write(' "$folder/bench-strace.log" | grep -F -- "-enc.txt>" |
    sed -E 's/.*= ([0-9]+)$/\1/' >"$sizes"
awk '{ n++; s += $1 } END { printf "%d writes, mean %.0f bytes\n", n, s / n }' "$sizes"
grep -F 'read(' "$folder/bench-strace.log" | grep -F -- "bench-lines.txt>" |
    awk '{ n++; if ($0 !~ /, 4096\) = /) odd++ }
         END { printf "%d reads of the input, %d of them not of 4096 bytes\n", n, odd }'

echo "=== the copy and the exact-call floor, $rounds alternations (load: $(uptime | sed 's/.*load/load/'))"
native_race=$("$native" race "$lines" "$sizes" "$rounds")
echo "native: $native_race" | sed '2,$s/^/native: /'
native_same=$(same "$lines")
wine_race=$(wine "$windows" race "$(in_wine "$lines")" "$(in_wine "$sizes")" "$rounds" | tr -d '\r')
echo "Wine: $wine_race" | sed '2,$s/^/Wine: /'
wine_same=$(same "$lines")
echo "load after: $(uptime | sed 's/.*load/load/')"
native_ratio=$(field "ratio to the floor" <<<"$native_race" | awk '{ print $2 }')
wine_ratio=$(field "ratio to the floor" <<<"$wine_race" | awk '{ print $2 }')

echo "=== instructions (callgrind, the copy alone)"
read -r ir mispredicts < <(counted "$small")
count=$(tr -cd '\n' <"$small" | wc -c)
per_line=$(awk -v i="$ir" -v n="$count" 'BEGIN { printf "%.1f", i / n }')
mispredicts_line=$(awk -v m="$mispredicts" -v n="$count" 'BEGIN { printf "%.2f", m / n }')
echo "bench's 10 MB file, $count lines: $per_line instructions, $mispredicts_line mispredicted branches per line"
read -r ir _ < <(counted "$empty")
count=$(tr -cd '\n' <"$empty" | wc -c)
per_empty=$(awk -v i="$ir" -v n="$count" 'BEGIN { printf "%.1f", i / n }')
echo "$count empty lines: $per_empty instructions per line"
read -r ir _ < <(counted "$line8")
per_byte=$(awk -v i="$ir" 'BEGIN { printf "%.2f", i / 8000000 }')
echo "one 8 MB line: $per_byte instructions per byte"

# median3 COMMAND...: the median of three runs' "seconds" figures.
median3() {
    for _ in 1 2 3; do "$@" | tr -d '\r' | field seconds; done | sort -n | sed -n 2p
}
echo "=== one 64 MiB line"
native_long=$(median3 "$native" copy "$line64")
native_long_same=$(same "$line64")
wine_long=$(median3 wine "$windows" copy "$(in_wine "$line64")")
wine_long_same=$(same "$line64")
echo "native: $native_long s, output exact: $native_long_same"
echo "Wine: $wine_long s, output exact: $wine_long_same"

echo "=== peak resident set"
native_small=$(field "peak resident set" < <("$native" copy "$small"))
native_large=$(field "peak resident set" < <("$native" copy "$lines"))
wine_small=$(field "peak resident set" < <(wine "$windows" copy "$(in_wine "$small")" | tr -d '\r'))
wine_large=$(field "peak resident set" < <(wine "$windows" copy "$(in_wine "$lines")" | tr -d '\r'))
echo "native: $native_small for 10 MB, $native_large for $megabytes MB"
echo "Wine: $wine_small for 10 MB, $wine_large for $megabytes MB"

echo "=== targets"
check() { awk -v v="$2" -v t="$4" -v op="$3" \
    'BEGIN { ok = op == "<=" ? v <= t : v >= t; printf "%-48s %10s  %s %-6s %s\n", \
             ARGV[1], v, op, t, ok ? "met" : "NOT MET" }' "$1"; }
check "instructions per line" "$per_line" "<=" 420
check "mispredicted branches per line" "$mispredicts_line" "<=" 1.0
check "instructions per empty line" "$per_empty" "<=" 250
check "instructions per byte, one 8 MB line" "$per_byte" "<=" 12
check "ratio to the exact-call floor, native" "$native_ratio" ">=" 0.70
check "ratio to Wine's exact-call floor" "$wine_ratio" ">=" 0.60
check "one 64 MiB line, native (s)" "$native_long" "<=" 1
check "one 64 MiB line, Wine (s)" "$wine_long" "<=" 3
echo "outputs identical to tr's: native $native_same, Wine $wine_same," \
    "64 MiB line native $native_long_same, Wine $wine_long_same"
echo "peak resident set independent of the file's size: native $native_small / $native_large," \
    "Wine $wine_small / $wine_large"
