#!/usr/bin/env bash
# The program's start-to-window time and its idle CPU use under Wine, beside the same figures for
# Wine's own notepad.exe, a program that sleeps in GetMessage between messages, measured in the
# same run on the same private X screen (Xvfb, Wine's X11 driver).
#
# Start-to-window: from starting the process until its window is visible on the X screen, the
# median of RUNS starts. Idle CPU: the CPU time that the program's process and the prefix's Wine
# server use while the window sits untouched for IDLE_S seconds, as a share of one core.
# Usage: bench/program_run.sh [runs (5)] [idle seconds (5)]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
idle_s=${2:-5}

cmake --preset windows >/dev/null
cmake --build --preset windows --target FileEncryption >/dev/null
exe="$PWD/build/windows/bin/FileEncryption.exe"

export X11_PREFIX="$PWD/build/windows/wine/bench-prefix" X11_MANAGED=N
. scripts/wine-x11.sh
x11_prefix_create "$PWD/build/windows"

xvfb_pid=""
program_pid=""
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    WINEPREFIX="$X11_PREFIX" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$X11_PREFIX" timeout 20 wineserver -w >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -f "$display_file"
}
display_file=$(mktemp)
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n 1 "$display_file")"
x11_prefix_use

# The server is started once and kept, so that every start is measured alike, without it.
wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >/dev/null 2>&1
# A process that ends while its stat file is read makes cat fail: that is no failure of ours.
server_pid=$({ cat /proc/[0-9]*/stat 2>/dev/null || true; } | awk '$2 == "(wineserver64)" || $2 == "(wineserver)" {print $1}' |
    while read -r pid; do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$X11_PREFIX"; then
            echo "$pid"
        fi
    done | head -n 1)

# CPU ticks (user + system) a process has used.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# measure NAME TITLE PROGRAM...: prints "NAME start-ms idle-percent".
measure() {
    local name=$1 title=$2
    shift 2
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        wine "$@" </dev/null >/dev/null 2>&1 &
        program_pid=$!
        until xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do
            sleep 0.005
            (( $(date +%s%N) - start < 30000000000 )) || { echo "no window \"$title\"" >&2; exit 1; }
        done
        end=$(date +%s%N)
        times+=($(((end - start) / 1000000)))
        sleep 1
        local window
        window=$(xdotool search --onlyvisible --name "^$title\$" | head -n 1)
        local program_before server_before
        program_before=$(ticks "$program_pid")
        server_before=$(ticks "$server_pid")
        sleep "$idle_s"
        local program_used=$(($(ticks "$program_pid") - program_before))
        local server_used=$(($(ticks "$server_pid") - server_before))
        xdotool windowclose "$window" >/dev/null 2>&1 || true
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
        program_pid=""
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    local hz
    hz=$(getconf CLK_TCK)
    awk -v n="$name" -v m="$median" -v p="$program_used" -v s="$server_used" -v hz="$hz" -v t="$idle_s" \
        'BEGIN { printf "%s %d %.1f %.1f\n", n, m, 100 * p / hz / t, 100 * s / hz / t }'
}

ours=$(measure FileEncryption.exe "File Encryption" "$exe")
notepad=$(measure notepad.exe "Untitled - Notepad" notepad)
printf '%-20s %16s %22s %22s\n' program "start-to-window" "idle CPU, program" "idle CPU, wineserver"
for row in "$ours" "$notepad"; do
    read -r name ms program server <<<"$row"
    printf '%-20s %13s ms %20s %% %20s %%\n' "$name" "$ms" "$program" "$server"
done
read -r _ ours_ms ours_program ours_server <<<"$ours"
read -r _ notepad_ms notepad_program notepad_server <<<"$notepad"
awk -v a="$ours_ms" -v b="$notepad_ms" 'BEGIN { printf "start-to-window, FileEncryption.exe / notepad.exe: %.2f\n", a / b }'
awk -v a="$ours_program" -v b="$ours_server" -v c="$notepad_program" -v d="$notepad_server" \
    'BEGIN { printf "idle CPU (program + server), FileEncryption.exe: %.1f %% of a core, notepad.exe: %.1f %%\n", a + b, c + d }'
