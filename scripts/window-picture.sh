#!/usr/bin/env bash
# Makes docs/window.png, the picture of the program's window at the top of the README: builds
# FileEncryption.exe, lets scripts/show.sh encrypt the sample through the real window on a private
# X screen, and keeps its screenshot without the time chunks ImageMagick writes, so that the file
# changes only when the window does.
# Usage: scripts/window-picture.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target FileEncryption
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

scripts/show.sh build/windows/bin/FileEncryption.exe samples/sample.txt "$work" >/dev/null
mkdir -p docs
convert "$work/window.png" -strip docs/window.png
echo "Wrote docs/window.png"
