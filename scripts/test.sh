#!/usr/bin/env bash
# Builds and runs every test: the Linux build natively, the Windows build
# under Wine, then the Linux tests again under AddressSanitizer with
# UndefinedBehaviorSanitizer and the threaded ones under ThreadSanitizer.
# Installs what it needs first. ZELVAN_TEST_PRESETS picks a subset, e.g.
# "linux windows". Warnings are errors here (CI runs this script), and only
# here: ZELVAN_WARNINGS_AS_ERRORS=OFF turns that off, and a build made
# straight from a preset keeps a newer compiler's new warnings as warnings.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=${ZELVAN_JOBS:-$(nproc)}
presets=${ZELVAN_TEST_PRESETS:-linux windows linux-asan linux-tsan}
failed=()
for preset in $presets; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" -DCMAKE_COMPILE_WARNING_AS_ERROR="${ZELVAN_WARNINGS_AS_ERRORS:-ON}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs" || failed+=("$preset")
done
# The short soak, under the sanitizers when they were built (leaks included).
soak_build=build/linux
case " $presets " in *" linux-asan "*) soak_build=build/linux-asan ;; esac
case " $presets " in *" linux "*|*" linux-asan "*)
  echo "== soak (short form)"
  scripts/soak.sh "${ZELVAN_SOAK_FRAMES:-10000}" "$soak_build" || failed+=(soak) ;;
esac
# The demo's short form: install, run, report and plot.
case " $presets " in *" linux "*)
  echo "== demo (short form)"
  scripts/demo.sh --quick >/dev/null || failed+=(demo)
  # Again through the driver folder's own hidapi and an emulated hidraw node.
  echo "== demo through the real hidapi (short form)"
  hidraw_status=0
  scripts/demo.sh --hidraw --quick >/dev/null || hidraw_status=$?
  case $hidraw_status in
  0) ;;
  77) echo "   skipped: no FUSE or mount namespaces on this machine" ;;
  *) failed+=(demo-hidraw) ;;
  esac ;;
esac
# Each fuzz target for a bounded time, unless a subset of presets was asked for.
if [ -z "${ZELVAN_TEST_PRESETS:-}" ]; then
  echo "== fuzz targets, ${ZELVAN_FUZZ_SECONDS:-20} s each"
  scripts/fuzz.sh "${ZELVAN_FUZZ_SECONDS:-20}" || failed+=(fuzz)
fi
if [ "${#failed[@]}" -gt 0 ]; then
  echo "== FAILED: ${failed[*]}"
  exit 1
fi
echo "== all test runs passed: $presets"
