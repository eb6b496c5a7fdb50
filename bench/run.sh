#!/usr/bin/env bash
# Builds the native preset and runs the line-throughput benchmark.
# Usage: bench/run.sh [megabytes (200)] [folder (the system's temporary folder)]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target line_throughput -- -j2 >/dev/null
exec build/native/bench/line_throughput "$@"
