#!/usr/bin/env bash
# What the run command shows on a machine without a display, checked: under Xvfb with Wine's X11
# driver and real mouse clicks, the sample is encrypted through the program's window and open-file
# dialog, the copy is the ROT47 of every line with CR LF, the screenshot is of the whole window,
# and the close box ends the program with exit code 0. The show script stops the X server and the
# Wine server it started, whatever happens.
# Usage: show_test.sh SOURCE-DIR EXE
set -euo pipefail
source_dir=$1
exe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

SHOW_WAIT_S=40 "$source_dir/scripts/show.sh" "$exe" "$source_dir/samples/sample.txt" "$work" |
    tee "$work/log"

# Every character from '!' to '~' moves 47 places within that range; each line ends with CR LF.
tr '!-~' 'P-~!-O' <"$source_dir/samples/sample.txt" | sed 's/$/\r/' >"$work/expected"
cmp "$work/expected" "$work/sample-enc.txt"
grep -q '^FileEncryption.exe ended with exit code 0$' "$work/log"
# The window is the client area of 250 x 80 inside Wine's frame and caption.
read -r width height < <(identify -format '%w %h\n' "$work/window.png")
[ "$width" -gt 250 ] && [ "$width" -lt 270 ] && [ "$height" -gt 80 ] && [ "$height" -lt 130 ]
echo "the sample was encrypted through the window and the dialog"
