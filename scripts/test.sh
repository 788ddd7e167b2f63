#!/usr/bin/env bash
# Builds and runs every test: the Linux build natively, then the Windows build
# under Wine. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=${ZELVAN_JOBS:-$(nproc)}
status=0
for preset in linux windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
