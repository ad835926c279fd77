#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release
./build/release/bench/event_queue_bench "$@"
