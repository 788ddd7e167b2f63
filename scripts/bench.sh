#!/usr/bin/env bash
# Builds the benchmarks (Release, a build folder of their own) and runs them:
# the table on the terminal, the figures as JSON in <build>/results.json.
# ZELVAN_BENCH_BUILD_DIR picks another build folder; arguments are passed on
# to the benchmark program (e.g. --benchmark_filter=RunFrame).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

build=${ZELVAN_BENCH_BUILD_DIR:-build/bench}
jobs=${ZELVAN_JOBS:-2}
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DZELVAN_BUILD_BENCH=ON -DZELVAN_BUILD_TESTS=ON -DZELVAN_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" -j "$jobs" --target zelvan_bench

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(date -u +%Y-%m-%dT%H:%MZ)"
"$build/bin/zelvan_bench" \
  --benchmark_out="$build/results.json" --benchmark_out_format=json \
  --benchmark_counters_tabular=false "$@"
echo "== figures written to $build/results.json"
