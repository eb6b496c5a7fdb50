#!/usr/bin/env bash
# The cross-compiling emulator: runs one Windows test program under Wine in the build's own prefix.
# The program's exit code is this script's exit code (Wine cuts it to 8 bits); a crash ends the
# program at once with an error code, because the prefix has Wine's crash dialog switched off.
#
# A failure tells its story in the test's log: the program writes a line on stderr when its main is
# entered (RT_TEST_ANNOUNCE asks it to), and this script writes the exit status of a run that
# failed, so that a program that ended before its main can be told from one that failed in it.
set -u
build_dir=${RT_BUILD_DIR:-$PWD}
# CTest runs tests in their build folder; the prefix lives at the top of the build tree.
while [ "$build_dir" != / ] && [ ! -f "$build_dir/CMakeCache.txt" ]; do
    build_dir=$(dirname "$build_dir")
done
export WINE_TEST_PREFIX=${WINE_TEST_PREFIX:-$build_dir/wine/prefix}
. "$(dirname "$0")/wine-env.sh"
wine_ready
export RT_TEST_ANNOUNCE=1
wine "$@"
status=$?
if [ "$status" -ne 0 ]; then
    echo "wine-run: $(basename "$1") ended with exit status $status" >&2
fi
exit "$status"
