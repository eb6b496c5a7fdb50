#!/usr/bin/env bash
# Runs the event-wait benchmark of the Windows build under Wine, in the build folder's own prefix,
# and stops the Wine server it started. Under Wine a wait is partly served by the server process,
# so the idle figure is given twice: for the program alone, and with the server's processor time
# over the same idle run added (read from /proc for this prefix's server only).
# Usage: bench/eventwait_run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows >/dev/null
cmake --build --preset windows --target eventwait_bench -- -j2 >/dev/null

export WINE_TEST_PREFIX="$PWD/build/windows/wine/prefix"
. cmake/wine-env.sh
wine_ready
trap wine_server_stop EXIT

# The server of this prefix: the wineserver process whose environment names the prefix.
server_pid() {
    local process
    for process in /proc/[0-9]*; do
        if [[ "$(cat "$process/comm" 2>/dev/null)" == wineserver* ]] &&
            tr '\0' '\n' <"$process/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "${process#/proc/}"
            return
        fi
    done
}
# Processor time of a process in clock ticks (user + system).
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

bench=build/windows/bench/eventwait_bench.exe
server=$(server_pid)
before=$( [ -n "$server" ] && ticks "$server" || echo 0)
idle=$(wine "$bench" idle | tr -d '\r')
after=$( [ -n "$server" ] && ticks "$server" || echo 0)
echo "$idle"
if [ -n "$server" ]; then
    awk -v idle="$idle" -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN {
        split(idle, words, " "); wall = words[3]
        match(idle, /[0-9.]+ ms processor/); own = substr(idle, RSTART, RLENGTH) + 0
        server = ticks / hz * 1000 / wall
        printf "Wine server over the same run: %.1f ms per wall second; program and server %.1f ms (ratio %.4f)\n",
            server, own + server, (own + server) / 1000 }'
fi
wine "$bench" press | tr -d '\r'
