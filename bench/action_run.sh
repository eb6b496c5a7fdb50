#!/usr/bin/env bash
# Runs the action-path benchmark natively and, as a separate figure, the Windows build under Wine,
# both on a file in the same folder. tr cannot be started from inside Wine, so the Wine figure is
# compared with tr as the native run measured it a moment before.
# Usage: bench/action_run.sh [megabytes (200)] [folder (a new folder under /tmp)]
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes=${1:-200}
created=""
if [ -n "${2:-}" ]; then
    folder=$2
else
    folder=$(mktemp -d /tmp/action-bench.XXXXXX)
    created=$folder
fi
wine_started=""
cleanup() {
    [ -z "$wine_started" ] || wine_server_stop
    [ -z "$created" ] || rm -rf "$created"
}
trap cleanup EXIT

for preset in native windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target action_throughput -- -j2 >/dev/null
done

echo "=== native"
native=$(build/native/bench/action_throughput "$megabytes" "$folder")
echo "$native"

echo "=== Windows build under Wine"
export WINE_TEST_PREFIX="$PWD/build/windows/wine/prefix"
. cmake/wine-env.sh
wine_ready
wine_started=1
windows=$(wine build/windows/bench/action_throughput.exe "$megabytes" "Z:${folder//\//\\}" | tr -d '\r')
echo "$windows"

rate() { awk -v pattern="$1" '$0 ~ pattern { for (i = 1; i < NF; i++) if ($(i + 1) == "MB/s") print $i }'; }
tr_rate=$(rate '^tr ' <<<"$native")
wine_rate=$(rate '^action path' <<<"$windows")
awk -v w="$wine_rate" -v t="$tr_rate" \
    'BEGIN { printf "Wine: %.1f MB/s, ratio %.2f to tr (%.1f MB/s, native, this run)\n", w, w / t, t }'
