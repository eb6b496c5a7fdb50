#!/usr/bin/env bash
# Source checks that need no build: formatting, and operating-system headers kept inside the
# platform layer.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
sources=$(git ls-files -- '*.cpp' '*.h')

if ! clang-format --dry-run --Werror $sources; then
    echo "lint: run clang-format -i on the files above"
    status=1
fi

os_headers='#include *<(windows|winbase|winuser|commdlg|commctrl|shlobj|objbase|unistd|pthread|fcntl|dlfcn|sys/[a-z]+)\.h>'
if git grep -n -E "$os_headers" -- app runtime bench | grep -v '^runtime/platform/'; then
    echo "lint: only runtime/platform/ may include operating-system headers"
    status=1
fi
exit $status
