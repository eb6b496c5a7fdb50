#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test: the Linux build, the Linux build under
# AddressSanitizer and UndefinedBehaviorSanitizer, the tests that use threads under
# ThreadSanitizer, the Windows build under Wine, and every fuzzing harness for a short time after
# replaying its seeds. Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

# timed NAME COMMAND...: runs the command and reports its time; the command's status is kept.
timed() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    echo "time: $name $((SECONDS - start)) s"
    return $status
}

timed setup scripts/setup.sh
scripts/lint.sh

presets=(native native-asan native-tsan windows)
for preset in "${presets[@]}"; do
    cmake --preset "$preset"
    timed "build $preset" cmake --build --preset "$preset"
done

# One Wine server for the whole Windows run, warmed up before CTest starts and stopped at the end.
export WINE_TEST_PREFIX="$PWD/build/windows/wine/prefix"
. cmake/wine-env.sh
wine_ready
trap wine_server_stop EXIT

failed=()
# The fuzzing harnesses run first, so that CTest's summary stays the last word: twenty seconds per
# harness after its seeds, long enough to pass the seeds' neighbourhood on every run, short enough
# for CI. scripts/fuzz.sh runs them longer by hand.
timed fuzz scripts/fuzz.sh 20 || failed+=(fuzz)

for preset in "${presets[@]}"; do
    echo "=== tests: $preset"
    timed "tests $preset" ctest --preset "$preset" -j 2 || failed+=("$preset")
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED presets: ${failed[*]}"
    exit 1
fi
