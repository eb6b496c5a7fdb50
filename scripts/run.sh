#!/usr/bin/env bash
# Installs what is missing, builds FileEncryption.exe and runs it under Wine.
#
# With a display (DISPLAY set) the program's window opens there, and the script waits until it is
# closed. Without one, scripts/show.sh shows the utility at work on a private X screen: it
# encrypts samples/sample.txt (or the file given as the argument) through the real window and
# dialog, prints input and output side by side and saves a screenshot.
#
# Usage: scripts/run.sh [TEXT-FILE]
set -euo pipefail
# The argument is taken relative to the caller's folder, before the script moves to the project's.
input=$(realpath "${1:-$(dirname "$0")/../samples/sample.txt}")
[ -f "$input" ] || { echo "run: no text file $input" >&2; exit 2; }
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target FileEncryption
exe="$PWD/build/windows/bin/FileEncryption.exe"
echo "Built $exe"

if [ -n "${DISPLAY:-}" ]; then
    # A prefix of its own that draws on the desktop, its windows managed by the desktop's window
    # manager.
    export X11_PREFIX="$PWD/build/windows/wine/desktop-prefix" X11_MANAGED=Y
    . scripts/wine-x11.sh
    x11_prefix_create "$PWD/build/windows"
    x11_prefix_use
    status=0
    wine "$exe" || status=$?
    wineserver -k >/dev/null 2>&1 || true
    echo "FileEncryption.exe ended with exit code $status"
    exit $status
fi

exec scripts/show.sh "$exe" "$input" build/windows/show
