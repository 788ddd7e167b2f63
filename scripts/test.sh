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
# Most tests wait (for deadlines, for Wine) more than they compute: one more
# at a time than there are cores.
test_jobs=${ZELVAN_TEST_JOBS:-$((jobs + 1))}
presets=${ZELVAN_TEST_PRESETS:-linux windows linux-asan linux-tsan}
failed=()
# Each step's wall time, for the summary at the end.
times=()
step_start=$SECONDS
took() { times+=("$1 $((SECONDS - step_start)) s"); step_start=$SECONDS; }
# Compilations this run took from the cache and made anew.
cache_counts() {
  ccache --print-stats 2>/dev/null |
    awk '$1 ~ /^(direct|preprocessed)_cache_hit$/ {h += $2} $1 == "cache_miss" {m = $2} END {print h + 0, m + 0}'
}
read -r hits_before misses_before < <(cache_counts)
for preset in $presets; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" -DCMAKE_COMPILE_WARNING_AS_ERROR="${ZELVAN_WARNINGS_AS_ERRORS:-ON}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  took "$preset build:"
  echo "== $preset: tests"
  # Wine now and then fails to start a process on a loaded machine
  # (CreateProcess error 1359, the child gone before it ran): a Windows test
  # that failed runs once more, and its first output stays in the log.
  repeat=()
  [ "$preset" != windows ] || repeat=(--repeat until-pass:2)
  ctest --preset "$preset" -j "$test_jobs" "${repeat[@]}" || failed+=("$preset")
  took "$preset tests:"
done
# The short soak, under the sanitizers when they were built (leaks included).
soak_build=build/linux
case " $presets " in *" linux-asan "*) soak_build=build/linux-asan ;; esac
case " $presets " in *" linux "*|*" linux-asan "*)
  echo "== soak (short form)"
  scripts/soak.sh "${ZELVAN_SOAK_FRAMES:-10000}" "$soak_build" || failed+=(soak)
  took "soak:" ;;
esac
# The demo's short form: install, run, report and plot.
case " $presets " in *" linux "*)
  echo "== demo (short form)"
  scripts/demo.sh --quick >/dev/null || failed+=(demo)
  # The tuning road: record, tune and apply for a wearer with glasses.
  echo "== demo of tuning (short form)"
  scripts/demo.sh --tune --quick >/dev/null || failed+=(demo-tune)
  # The panel road: every step of the page in headless Chromium.
  echo "== demo of the panel (short form)"
  scripts/demo.sh --panel --quick >/dev/null || failed+=(demo-panel)
  # Again through the driver folder's own hidapi and an emulated hidraw node.
  echo "== demo through the real hidapi (short form)"
  hidraw_status=0
  scripts/demo.sh --hidraw --quick >/dev/null || hidraw_status=$?
  case $hidraw_status in
  0) ;;
  77) echo "   skipped: no FUSE or mount namespaces on this machine" ;;
  *) failed+=(demo-hidraw) ;;
  esac
  took "demos:" ;;
esac
# Each fuzz target for a bounded time, unless a subset of presets was asked for.
if [ -z "${ZELVAN_TEST_PRESETS:-}" ]; then
  echo "== fuzz targets, ${ZELVAN_FUZZ_SECONDS:-20} s each"
  scripts/fuzz.sh "${ZELVAN_FUZZ_SECONDS:-20}" || failed+=(fuzz)
  took "fuzz build and runs:"
fi
echo "== times"
printf '   %s\n' "${times[@]}"
read -r hits_after misses_after < <(cache_counts)
echo "   compilations from ccache: $((hits_after - hits_before)), compiled: $((misses_after - misses_before))"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "== FAILED: ${failed[*]}"
  exit 1
fi
echo "== all test runs passed: $presets"
