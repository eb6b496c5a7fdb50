#!/usr/bin/env bash
# Shows the utility at work without a display: starts FileEncryption.exe under Wine's X11 driver
# on a private Xvfb screen, presses "Encrypt File" with a real mouse click, picks the input in the
# real open-file dialog by typing its path, waits for the "-enc." copy, prints the first lines of
# input and output side by side, saves a screenshot of the window, closes the window with its
# close box and reports the program's exit code.
#
# Usage: scripts/show.sh EXE INPUT WORKDIR
# The input is copied into WORKDIR, where the copy and the screenshot are written. Exits 0 when
# the copy was written and the program ended with exit code 0. Every wait has a time-out, and the
# X server and the Wine server it started are stopped on every way out.
set -euo pipefail
exe=$(realpath "$1")
input=$2
work=$(realpath -m "$3")
build_dir=$(dirname "$(dirname "$exe")")
here=$(dirname "$(realpath "$0")")

WAIT_S=${SHOW_WAIT_S:-60}
export X11_PREFIX="$build_dir/wine/x11-prefix" X11_MANAGED=N
. "$here/wine-x11.sh"
# One show at a time per prefix: the clean-up stops the prefix's server, and with it any other
# show's program. The lock is held by this script's descriptor 8 until it exits.
mkdir -p "$(dirname "$X11_PREFIX")"
exec 8>"$X11_PREFIX.show-lock"
flock 8
x11_prefix_create "$build_dir" 8>&-

mkdir -p "$work"
name=$(basename "$input")
cp "$input" "$work/$name"
rm -f "$work"/*-enc "$work"/*-enc.* "$work/window.png"
base=${name%.*}
extension=${name##*.}
[ "$extension" = "$name" ] && extension=""
# Windows drops the dot at the end of a name without extension.
output="$work/$base-enc${extension:+.$extension}"

xvfb_pid=""
program_pid=""
cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
    fi
    WINEPREFIX="$X11_PREFIX" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$X11_PREFIX" timeout 20 wineserver -w >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

fail() {
    echo "show: $*" >&2
    exit 1
}

# Polls `command` every 0.1 s until it succeeds; fails after WAIT_S seconds.
wait_for() {
    local what=$1
    shift
    local deadline=$((SECONDS + WAIT_S))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
        sleep 0.1
    done
}

# The X server picks a free display number and writes it to the descriptor it is given.
display_file="$work/.display"
rm -f "$display_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 8>&- &
xvfb_pid=$!
wait_for "the X server" test -s "$display_file"
export DISPLAY=":$(head -n 1 "$display_file")"
rm -f "$display_file"

x11_prefix_use
cd "$work"
# Wine's server is started by the first program, detached from this script's pipes.
wine "$exe" </dev/null >/dev/null 2>&1 8>&- &
program_pid=$!

# Finds the visible window whose title is exactly $1; prints its X id.
find_window() {
    xdotool search --onlyvisible --name "^$1\$" | head -n 1 | grep .
}
wait_for "the window \"File Encryption\"" find_window "File Encryption"
window=$(find_window "File Encryption")
eval "$(xdotool getwindowgeometry --shell "$window")"
# Without a window manager the X window is the whole frame that Wine draws: the client area of
# 250 x 80 lies inside equal borders, below the caption.
border=$(((WIDTH - 250) / 2))
caption=$((HEIGHT - 80 - 2 * border))
client_x=$((X + border))
client_y=$((Y + border + caption))

# "Encrypt File" is the button at (15, 15), 100 x 50, in the client area.
xdotool mousemove --sync $((client_x + 65)) $((client_y + 40)) click 1
wait_for "the dialog \"Open file to encrypt\"" find_window "Open file to encrypt"
dialog=$(find_window "Open file to encrypt")
# The dialog opens with the focus in its file-name box.
sleep 0.5
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool type --delay 10 "$(winepath -w "$work/$name")"
xdotool key Return

wait_for "the copy $output" test -f "$output"
# The copy is complete once the dialog is gone and the action has returned: its files are closed
# before control is back in the event loop, which then answers the window again.
wait_for "the dialog to close" bash -c "! xdotool search --onlyvisible --name '^Open file to encrypt$' | grep -q ."
sleep 0.5

echo "Input: $work/$name"
echo "Output: $output"
echo
pr -m -t -w 160 <(head -n 12 "$work/$name") <(head -n 12 "$output" | tr -d '\r')
echo

shot="$work/window.png"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot"
echo "Screenshot of the window: $shot"

# The close box is the rightmost square of the caption.
xdotool mousemove --sync $((X + WIDTH - border - caption / 2 - 2)) $((Y + border + caption / 2)) \
    click 1
deadline=$((SECONDS + WAIT_S))
while kill -0 "$program_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the program did not end after its close box was clicked"
    sleep 0.1
done
status=0
wait "$program_pid" || status=$?
program_pid=""
echo "FileEncryption.exe ended with exit code $status"
[ "$status" -eq 0 ]
