#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test: the Linux build, the Linux build under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/lint.sh

presets=(native native-asan windows)
for preset in "${presets[@]}"; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done

# One Wine server for the whole Windows run, warmed up before CTest starts and stopped at the end.
export WINE_TEST_PREFIX="$PWD/build/windows/wine/prefix"
. cmake/wine-env.sh
wine_ready
trap wine_server_stop EXIT

failed=()
for preset in "${presets[@]}"; do
    echo "=== tests: $preset"
    ctest --preset "$preset" -j 2 || failed+=("$preset")
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED presets: ${failed[*]}"
    exit 1
fi
