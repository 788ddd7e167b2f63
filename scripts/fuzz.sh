#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UBSan over the
# driver's code too) and runs each for SECONDS (default 30). New inputs go to
# a work corpus in the build folder, never into fuzz/corpus/. Exits non-zero
# when a target finds a fault, printing the saved input's path.
# ZELVAN_FUZZ_BUILD_DIR picks another build folder; ZELVAN_FUZZ_TARGETS a
# subset (e.g. "json_scan default_mm").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-30}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 64
fi

bash scripts/bootstrap.sh

build=${ZELVAN_FUZZ_BUILD_DIR:-build/fuzz}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
jobs=${ZELVAN_JOBS:-2}
targets=${ZELVAN_FUZZ_TARGETS:-user_signature sensor_reports json_scan lighthouse_config default_mm control_command}

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZELVAN_SANITIZE=address,undefined \
  "-DCMAKE_C_COMPILER_LAUNCHER=env;CCACHE_BASEDIR=$root;CCACHE_NOHASHDIR=1;ccache" \
  "-DCMAKE_CXX_COMPILER_LAUNCHER=env;CCACHE_BASEDIR=$root;CCACHE_NOHASHDIR=1;ccache" \
  -DZELVAN_BUILD_FUZZ=ON -DZELVAN_BUILD_TESTS=ON -DZELVAN_BUILD_TOOLS=ON >/dev/null
build_targets=()
for t in $targets; do build_targets+=("fuzz_$t"); done
cmake --build "$build" -j "$jobs" --target "${build_targets[@]}"

# Every UBSan report is fatal; leaks count as faults.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1

# run_target T: one target for the set time; its report goes to its own file
# and it exits non-zero on a fault.
run_target() {
  local t=$1 work artifacts log extra=() status=0
  work="$build/fuzz-work/$t"
  artifacts="$build/fuzz-artifacts/$t"
  log="$build/fuzz-logs/$t.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  if [ "$t" = control_command ]; then
    extra+=(-max_len=600 "-dict=$root/fuzz/control_command.dict")
  fi
  {
    echo "== fuzz_$t: ${seconds} s"
    # Inputs that name files ("load_lh_config calibration.json") find them in
    # the calibration corpus; standard input is closed so nothing can wait on it.
    (cd "$root/fuzz/corpus/lighthouse_config" &&
      "$build/bin/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" \
        "$work" "$root/fuzz/corpus/$t" </dev/null) >"$log" 2>&1 || status=$?
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | sed 's/^/   /' || true
    if [ "$status" -ne 0 ]; then
      echo "   FAULT (exit $status); the log is $log"
      grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 | sed 's/^/   /' || true
      for input in "$artifacts"/*; do
        [ -e "$input" ] && echo "   input: $input"
      done
    fi
  } >"$build/fuzz-logs/$t.report"
  return "$status"
}

# Each fuzzer uses one core: as many run at once as there are jobs, each for
# the whole time, and their reports are printed in the targets' order.
declare -A pid_of
running=0
for t in $targets; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$t" &
  pid_of[$t]=$!
  running=$((running + 1))
done
passed=0
failed=()
for t in $targets; do
  if wait "${pid_of[$t]}"; then
    passed=$((passed + 1))
  else
    failed+=("$t")
  fi
  cat "$build/fuzz-logs/$t.report"
done

echo "fuzz: ${passed} passed, ${#failed[@]} failed"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: faults in ${failed[*]}; see fuzz/README.md to keep an input as a regression test" >&2
  exit 1
fi
